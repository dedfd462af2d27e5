#include "catalogue/catalogue.h"

#include "catalogue/broadcast_time.h"
#include "cli/command_line.h"
#include "io/console.h"
#include "io/file_descriptor.h"
#include "recording/recording_header.h"

#include <cerrno>
#include <charconv>
#include <iterator>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0)
        // Only a file that is surely absent counts; anything else is left for the open to judge.
        return errno == ENOENT || errno == ENOTDIR;
    return S_ISREG(status.st_mode) && status.st_size == 0;
}

// Runs side by side serialise here. A file system without locks still gets the line, as one write.
void lock_exclusively(int descriptor)
{
    while (::flock(descriptor, LOCK_EX) != 0 && errno == EINTR) { }
}

bool is_empty_regular_file(int descriptor)
{
    struct stat status { };
    return ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0;
}

bool is_regular_file(int descriptor)
{
    struct stat status { };
    return ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

bool fail_to_write(const std::string& path, Console& console)
{
    console.print("\nerror: cannot write ", path);
    return false;
}

}

std::string_view catalogue_header_line()
{
    return "Filename,Service No.,Channel,Type,Start Time,Start Day,End Time,End Day,Duration,Program,"
           "Original Network Id,Transport Stream Id,Service Id,Event Id,Video pid,Audio pid,PCR pid,PMT pid,"
           "Description,\n";
}

std::string catalogue_row(std::string_view input_path, const RecordingHeader& header)
{
    std::string line;
    append_text(line, input_path);
    append_number(line, header.service_number(), 10, 1);
    line += ',';
    append_text(line, header.channel_name());
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
    append_quoted(line, header.event_name());
    for (unsigned value : { header.original_network_id(), header.transport_stream_id(), header.service_id(),
             header.event_id(), header.video_pid(), header.audio_pid(), header.pcr_pid(), header.pmt_pid() }) {
        append_number(line, value, 16, 4);
        line += ',';
    }
    append_quoted(line, header.event_description());
    line += '\n';
    return line;
}

bool ensure_catalogue_header(const RunOptions& options, Console& console)
{
    const std::string& path = options.catalogue_path;
    if (options.append && !is_new_catalogue(path))
        return true;

    console.print("\ncreating ", path);
    // Never truncated on open: with -a the file is emptied only once the lock is held, and without -a a
    // catalogue that appeared meanwhile is kept.
    FileDescriptor catalogue = open_file(path, O_WRONLY | O_CREAT | O_NOCTTY);
    if (!catalogue.is_open()) {
        console.print("\nerror: cannot open ", path);
        return false;
    }
    lock_exclusively(catalogue.get());
    bool regular = is_regular_file(catalogue.get());
    if (!options.append && regular && ::ftruncate(catalogue.get(), 0) != 0)
        return fail_to_write(path, console);
    if ((!regular || is_empty_regular_file(catalogue.get())) && !write_all(catalogue.get(), catalogue_header_line()))
        return fail_to_write(path, console);
    if (!catalogue.close())
        return fail_to_write(path, console);
    return true;
}

bool append_catalogue_row(const RunOptions& options, const RecordingHeader& header, Console& console)
{
    const std::string& path = options.catalogue_path;
    console.print("\nappending ", path);
    FileDescriptor catalogue = open_file(path, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY);
    if (!catalogue.is_open()) {
        console.print("\nerror: cannot open ", path);
        return false;
    }
    lock_exclusively(catalogue.get());
    std::string text;
    // Another run may have created the file and not yet written its header; whoever writes first does.
    if (is_empty_regular_file(catalogue.get()))
        text = catalogue_header_line();
    text += catalogue_row(options.input_path, header);
    if (!write_all(catalogue.get(), text))
        return fail_to_write(path, console);
    // The line is the archive's only record of a recording that is about to be deleted.
    if (removes_input(options) && ::fsync(catalogue.get()) != 0 && errno != EINVAL)
        return fail_to_write(path, console);
    if (!catalogue.close())
        return fail_to_write(path, console);
    return true;
}
