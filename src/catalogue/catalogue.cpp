#include "catalogue/catalogue.h"

#include "catalogue/broadcast_text.h"
#include "catalogue/broadcast_time.h"
#include "platform/file.h"
#include "recording/recording_header.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <iterator>
#include <vector>

namespace {

// "%04x," for identifiers and PIDs; "%0Nd" with N = min_digits for decimals.
void append_number(std::string& line, unsigned value, int base, std::size_t min_digits)
{
    char digits[16];
    const char* end = std::to_chars(std::begin(digits), std::end(digits), value, base).ptr;
    std::size_t length = static_cast<std::size_t>(end - digits);
    if (length < min_digits)
        line.append(min_digits - length, '0');
    line.append(digits, length);
}

void append_quoted(std::string& line, std::string_view text)
{
    line += '"';
    for (char character : text) {
        if (character == '"')
            line += '"';
        line += character;
    }
    line += "\",";
}

void append_text(std::string& line, std::string_view text)
{
    if (text.find_first_of(",\"\r\n") != std::string_view::npos) {
        append_quoted(line, text);
        return;
    }
    line += text;
    line += ',';
}

std::string_view service_type_name(unsigned service_type)
{
    switch (service_type) {
    case 0:
        return "TV";
    case 1:
        return "Radio";
    default:
        return "???";
    }
}

// A catalogue is new when it does not exist or is an empty file: either way it still needs its header.
// Existence is what decides, not whether the file can be read, so an existing catalogue is never taken
// for a new one and truncated.
bool is_new_catalogue(const std::string& path)
{
    FileIdentity catalogue = identify_path(path);
    if (!catalogue.exists)
        // Only a file that is surely absent counts; anything else is left for the open to judge.
        return catalogue.missing;
    return catalogue.regular_file && catalogue.size == 0;
}

// The last line was cut short when the catalogue does not end with a line feed. A catalogue that cannot
// be read through its handle is taken as whole.
bool ends_with_line_feed(const CatalogueFile& catalogue)
{
    char last = '\n';
    std::int64_t got;
    do
        got = read_at(catalogue.file.native(), &last, 1, catalogue.size_before - 1);
    while (got < 0 && errno == EINTR);
    return got != 1 || last == '\n';
}

// Whether the catalogue ends inside a quoted field: every quote opens or closes one, a doubled quote
// inside a field doing both. The whole file is counted, not its last line alone, because a quoted
// description may hold line breaks; read only to repair a line cut short.
bool ends_inside_quotes(const CatalogueFile& catalogue)
{
    std::array<char, 64 * 1024> piece;
    bool inside = false;
    for (std::uint64_t offset = 0; offset < catalogue.size_before;) {
        std::int64_t got = read_at(catalogue.file.native(), piece.data(), piece.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (char character : std::string_view(piece.data(), static_cast<std::size_t>(got)))
            inside ^= character == '"';
        offset += static_cast<std::uint64_t>(got);
    }
    return inside;
}

StageOutcome fail_to_write(const std::string& path, int error_number)
{
    return system_failure(FailedStep::write, path, error_number);
}


}

std::string_view catalogue_header_line()
{
    return "Filename,Service No.,Channel,Type,Start Time,Start Day,End Time,End Day,Duration,Program,"
           "Original Network Id,Transport Stream Id,Service Id,Event Id,Video pid,Audio pid,PCR pid,PMT pid,"
           "Description,\n";
}

bool holds_a_catalogue(std::string_view start)
{
    return start.empty() || begins_like_a_catalogue(start);
}

bool begins_like_a_catalogue(std::string_view start)
{
    return start.starts_with(catalogue_header_line());
}

FixedReason reason_not_to_catalogue_into(const FileIdentity& catalogue, std::string_view start, const FilesOfTheRun& files)
{
    if (is_same_file(catalogue, files.input))
        return FixedReason::is_the_input;
    if (is_same_file(catalogue, files.output))
        return FixedReason::is_the_output;
    if (!holds_a_catalogue(start))
        return FixedReason::is_not_a_catalogue;
    return FixedReason::none;
}

std::string catalogue_row(std::string_view input_path, const RecordingHeader& header, TextEncoding encoding)
{
    bool decode = encoding == TextEncoding::utf_8;
    std::string channel = decode ? decode_broadcast_text(header.channel_name_to_decode()) : std::string(header.channel_name());
    std::string title = decode ? decode_broadcast_text(header.event_name_to_decode()) : std::string(header.event_name());
    std::string description = decode ? decode_broadcast_text(header.event_description_to_decode()) : std::string(header.event_description());

    std::string line;
    append_text(line, input_path);
    append_number(line, header.service_number(), 10, 1);
    line += ',';
    append_text(line, channel);
    line += service_type_name(header.service_type());
    line += ',';
    line += format_broadcast_time(header.start_time());
    line += ',';
    line += format_broadcast_time(header.end_time());
    line += ',';
    append_number(line, header.duration_hours(), 10, 2);
    line += ':';
    append_number(line, header.duration_minutes(), 10, 2);
    line += ',';
    append_quoted(line, title);
    for (unsigned value : { header.original_network_id(), header.transport_stream_id(), header.service_id(),
             header.event_id(), header.video_pid(), header.audio_pid(), header.pcr_pid(), header.pmt_pid() }) {
        append_number(line, value, 16, 4);
        line += ',';
    }
    append_quoted(line, description);
    line += '\n';
    return line;
}

StageOutcome ensure_catalogue_header(const CatalogueEntry& entry, const FilesOfTheRun& files, CatalogueFile& catalogue,
    ProgressReporter& reporter)
{
    const std::string& path = entry.catalogue_path;
    bool creating = entry.start_afresh || is_new_catalogue(path);
    // An existing catalogue is announced as appended to before it is opened, so that a failure to open
    // it reads as part of that step, as it does for a new one.
    if (entry.announce && creating)
        reporter.creating_catalogue(path);
    else if (entry.announce)
        reporter.appending_to_catalogue(path);
    catalogue.appending_announced = entry.announce && !creating;
    // Never truncated on open: when starting afresh the file is emptied only once the lock is held,
    // and otherwise a catalogue that appeared meanwhile is kept.
    catalogue.file = open_for_appending(path, catalogue.created);
    if (!catalogue.file.is_open())
        return system_failure(FailedStep::open, path, errno);
    catalogue.identity = identify(catalogue.file.native());
    bool regular = catalogue.identity.regular_file;
    if (FixedReason reason = reason_not_to_catalogue_into(catalogue.identity, {}, files); reason != FixedReason::none)
        return refusal(FailedStep::write, path, reason);
    reporter.uses_file(catalogue.identity);

    // A lock that fails on a device or a pipe costs nothing: no line there can be spoilt by another run.
    if (lock_exclusively(catalogue.file.native(), true) == LockOutcome::failed && regular)
        return system_failure(FailedStep::lock, path, errno);
    // Judged again under the lock, as opened: what another program put at the path since the run's
    // first look, or during the copy, is never appended to or emptied.
    if (regular && !holds_a_catalogue(read_start(catalogue.file.native(), catalogue_header_line().size())))
        return refusal(FailedStep::write, path, FixedReason::is_not_a_catalogue);
    if (entry.start_afresh && regular && !truncate_file(catalogue.file.native(), 0))
        return fail_to_write(path, errno);
    // Another run may have created the file and not yet written its header; whoever writes first does.
    // A device such as /dev/full is given a header only when the catalogue is started afresh.
    // Everything is measured under the lock, after any emptying.
    catalogue.header_due = entry.start_afresh;
    if (regular) {
        FileIdentity now = identify(catalogue.file.native());
        if (!now.exists)
            return fail_to_write(path, errno);
        catalogue.size_before = now.size;
        catalogue.header_due = catalogue.size_before == 0;
        catalogue.needs_line_feed = catalogue.size_before > 0 && !ends_with_line_feed(catalogue);
        catalogue.needs_closing_quote = catalogue.needs_line_feed && ends_inside_quotes(catalogue);
    }
    return std::nullopt;
}

StageOutcome append_catalogue_row(CatalogueFile& catalogue, const CatalogueEntry& entry, const RecordingHeader& header,
    ProgressReporter& reporter)
{
    const std::string& path = entry.catalogue_path;
    if (!catalogue.appending_announced)
        reporter.appending_to_catalogue(path);
    // A line cut short before is ended first, its open quote closed, so that this one is its own record.
    std::string text;
    if (catalogue.needs_closing_quote)
        text += '"';
    if (catalogue.needs_line_feed)
        text += '\n';
    if (catalogue.header_due)
        text += catalogue_header_line();
    text += catalogue_row(entry.filename, header, entry.encoding);
    bool regular = catalogue.identity.regular_file;
    if (!write_all(catalogue.file.native(), text)) {
        StageFailure failure = system_failure(FailedStep::write, path, errno);
        // Still under the lock, so nobody has written after the part that went in.
        if (regular && !truncate_file(catalogue.file.native(), catalogue.size_before))
            failure.last_line_may_be_incomplete = true;
        return failure;
    }
    return close_catalogue(catalogue, entry);
}

StageOutcome close_catalogue(CatalogueFile& catalogue, const CatalogueEntry& entry)
{
    const std::string& path = entry.catalogue_path;
    bool durable = entry.make_durable && catalogue.identity.regular_file;
    if (durable && !flush_to_disk(catalogue.file.native()))
        return fail_to_write(path, errno);
    if (!catalogue.file.close())
        return fail_to_write(path, errno);
    if (durable && catalogue.created && !flush_folder_of(path))
        return fail_to_write(path, errno);
    return std::nullopt;
}
