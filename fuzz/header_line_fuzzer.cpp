// Fuzzes header reading, and the catalogue line and the report's object built from it, over any 0 to
// 8192 bytes: the bytes are a recording's start, and whatever lies past the header block also serves as
// the recording's name. The JSON writer also gets the input's bytes as they are, as a text.

#include "catalogue/broadcast_text.h"
#include "catalogue/broadcast_time.h"
#include "catalogue/catalogue.h"
#include "catalogue/file_names.h"
#include "catalogue/report.h"
#include "recording/recording_header.h"
#include "shared/json_line.h"
#include "support/csv_reader.h"
#include "support/json_reader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// Valid UTF-8, checked here on its own terms rather than by the program's code: each code point in
// its shortest form, no surrogate, none past U+10FFFF, and no control character but the line feed.
bool is_clean_utf8(std::string_view text)
{
    for (std::size_t index = 0; index < text.size();) {
        unsigned lead = static_cast<unsigned char>(text[index]);
        std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xE ? 3 : lead >> 3 == 0x1E ? 4 : 0;
        if (length == 0 || index + length > text.size())
            return false;
        std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t next = 1; next < length; ++next) {
            unsigned byte = static_cast<unsigned char>(text[index + next]);
            if (byte >> 6 != 0x2)
                return false;
            code = code << 6 | (byte & 0x3F);
        }
        const std::uint32_t shortest[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (code < shortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if ((code < 0x20 && code != '\n') || (code >= 0x7F && code <= 0x9F))
            return false;
        index += length;
    }
    return true;
}

std::optional<RecordingHeader> read_through_file(const std::uint8_t* data, std::size_t size)
{
    int descriptor = ::memfd_create("recording", MFD_CLOEXEC);
    require(descriptor >= 0, "memfd_create");
    require(size == 0 || ::write(descriptor, data, size) == static_cast<ssize_t>(size), "memfd write");
    Expected<HeaderCheck, int> reading = read_recording_header(descriptor);
    std::optional<RecordingHeader> header = reading ? reading->header : std::nullopt;
    ::close(descriptor);
    return header;
}

JsonObject parsed_json(const std::string& line)
{
    try {
        return parse_json_line(line);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "not one valid JSON object: %s\n", error.what());
        std::abort();
    }
}

// Whatever bytes a text holds, its JSON string reads back as one valid UTF-8 string, each valid
// character kept.
void check_json_text(std::string_view bytes)
{
    JsonObject object = parsed_json(JsonLine().text("t", bytes).line());
    const std::string& read = object.at("t").text();
    require(read.size() >= bytes.size(), "characters lost");
    if (is_clean_utf8(bytes))
        require(read == bytes, "valid text changed");
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 8192)
        return 0;
    check_json_text({ reinterpret_cast<const char*>(data), size });
    std::optional<RecordingHeader> parsed = RecordingHeader::parse({ data, size });
    std::optional<RecordingHeader> read = read_through_file(data, size);
    require(parsed.has_value() == read.has_value(), "reading from a file and from memory disagree");
    if (!parsed)
        return 0;
    const RecordingHeader& header = *parsed;
    require(header.channel_name() == read->channel_name() && header.event_description() == read->event_description(),
        "texts differ between file and memory");

    std::size_t name_length = header_block_size < size ? size - header_block_size : 0;
    std::string input_path(reinterpret_cast<const char*>(data) + (size - name_length), name_length);

    require(header.channel_name().size() <= header_block_size - 28, "channel name runs past the block");
    require(header.event_name().size() <= 255, "event name longer than its length byte");
    require(header.event_description().size() <= header_block_size - 91, "description runs past the block");
    for (unsigned pid : { header.pmt_pid(), header.pcr_pid(), header.video_pid(), header.audio_pid() })
        require(pid <= 0x1FFF, "PID wider than 13 bits");
    for (BroadcastTime time : { header.start_time(), header.end_time() })
        require(format_broadcast_time(time).size() <= 20, "time text longer than 20 characters");

    std::string line = catalogue_row(input_path, header);
    require(line.size() >= 2 && line.compare(line.size() - 2, 2, ",\n") == 0, "line does not end with a comma and LF");
    std::vector<std::string> fields;
    try {
        fields = parse_csv_record(line);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "not valid CSV: %s\n", error.what());
        std::abort();
    }
    require(fields.size() == 20, "not 19 fields and the empty one");
    require(fields[0] == input_path, "file name changed");
    require(fields[2] == header.channel_name(), "channel changed");
    require(fields[9] == header.event_name(), "program changed");
    require(fields[18] == header.event_description(), "description changed");
    require(fields[19].empty(), "text after the last comma");

    // The same line with its texts decoded is still 19 fields holding the decoded texts.
    std::string decoded_line = catalogue_row(input_path, header, TextEncoding::utf_8);
    try {
        fields = parse_csv_record(decoded_line);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "decoded line not valid CSV: %s\n", error.what());
        std::abort();
    }
    require(fields.size() == 20, "decoded line not 19 fields and the empty one");
    require(fields[2] == decode_broadcast_text(header.channel_name_to_decode()), "decoded channel changed");
    require(fields[18] == decode_broadcast_text(header.event_description_to_decode()), "decoded description changed");
    for (std::size_t field : { 2, 9, 18 })
        require(is_clean_utf8(fields[field]), "a decoded text is not clean UTF-8");

    // The report's object reads back with the name as a UTF-8 catalogue holds it and the texts decoded.
    ReportEntry entry { input_path, input_path, input_path, ReportOutcome::failed, input_path, size, input_path, &header, nullptr };
    JsonObject object = parsed_json(report_line(entry));
    require(object.at("recording").text() == utf8_from_any_bytes(input_path), "recording's path changed");
    require(object.at("reason").text() == utf8_from_any_bytes(input_path), "reason changed");
    require(object.at("channel").text() == decode_broadcast_text(header.channel_name_to_decode()), "report's channel changed");
    require(object.at("description").text() == decode_broadcast_text(header.event_description_to_decode()), "report's description changed");
    require(object.at("event_id").number() == header.event_id(), "event id changed");
    require(object.at("start").is_null() == !iso_broadcast_time(header.start_time()).has_value(), "start time changed");
    return 0;
}
