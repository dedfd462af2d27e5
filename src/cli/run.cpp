#include "cli/run.h"

#include "catalogue/catalogue.h"
#include "cli/command_line.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/file_identity.h"
#include "platform/standard_streams.h"
#include "recording/recording_header.h"
#include "recording/stream_extraction.h"

#include <cerrno>
#include <cstdio>

namespace {

bool refuse_to_write(const std::string& path, std::string_view reason, Console& console)
{
    console.print("\nerror: cannot write ", path + ": " + std::string(reason));
    return false;
}

// A file's first bytes, enough to tell a recording or a catalogue by.
std::string start_of(NativeHandle file)
{
    return read_start(file, catalogue_header_line().size());
}

// Why a stream must not be written over a file that begins with `start`, or empty: it would destroy
// another recording or a catalogue, as a forgotten argument or a glob that expanded to several
// recordings would make it.
std::string_view reason_not_to_write_stream_over(std::string_view start)
{
    if (begins_like_a_recording(start))
        return "it is a recording";
    if (begins_like_a_catalogue(start))
        return "it is a catalogue";
    return {};
}

// Refuses, before anything is opened for writing, a run that would write into the recording it reads,
// put the catalogue into the .ts file, overwrite another recording or catalogue with a stream, or
// append to a file that is not a catalogue; and a run whose catalogue cannot be written at all, before
// a long copy is wasted on it. The same checks are made again on each file as it is opened; these
// only catch the slips early.
bool writes_only_other_files(const RunOptions& options, const FileIdentity& input, Console& console)
{
    const std::string& output_path = options.output_path;
    const std::string& catalogue_path = options.catalogue_path;
    FileIdentity output = options.skip_extraction ? FileIdentity {} : identify_path(output_path);
    if (!options.skip_extraction) {
        if (is_same_file(output, input))
            return refuse_to_write(output_path, "it is the input file", console);
        std::string_view reason = reason_not_to_write_stream_over(read_file_start(output_path, catalogue_header_line().size()));
        if (!reason.empty())
            return refuse_to_write(output_path, reason, console);
    }
    std::string_view reason = reason_not_to_catalogue_into(identify_path(catalogue_path),
        read_file_start(catalogue_path, catalogue_header_line().size()), { input, output });
    if (!reason.empty())
        return refuse_to_write(catalogue_path, reason, console);
    if (int error_number = appending_error(catalogue_path); error_number != 0) {
        print_failure(console, "cannot open ", catalogue_path, error_number);
        return false;
    }
    return true;
}

// The reason after "bad .rec file", so that a truncated copy is told from a file that is no recording.
std::string why_not_a_recording(const HeaderCheck& check)
{
    switch (check.rejection) {
    case HeaderRejection::wrong_magic:
        return "it does not begin with " + std::string(recording_magic);
    case HeaderRejection::unknown_version: {
        char version[8];
        std::snprintf(version, sizeof version, "%04x", check.version);
        return "format version 0x" + std::string(version) + " is unknown";
    }
    case HeaderRejection::too_short:
        return "it is " + std::to_string(check.length) + " bytes long, too short for a recording";
    case HeaderRejection::no_stream:
    case HeaderRejection::none:
        break;
    }
    return "no transport stream at offset " + std::to_string(transport_stream_offset);
}

// -k removes only the plain file that was read: the path itself, not followed through a link, must
// still be that regular file.
bool names_the_file_read(const std::string& input_path, const FileIdentity& input)
{
    FileIdentity entry = identify_link(input_path);
    return entry.regular_file && is_same_file(entry, input);
}

// Called only once the .ts file and the catalogue line are on the disk and closed.
bool remove_input(const std::string& input_path, const FileIdentity& input, Console& console)
{
    console.print("\ndeleting ", input_path);
    if (!names_the_file_read(input_path, input)) {
        console.print("\nerror: cannot delete ", input_path + ": it is no longer the file that was read");
        return false;
    }
    if (!remove_file(input_path)) {
        print_failure(console, "cannot delete ", input_path, errno);
        return false;
    }
    return true;
}

// A recording that a writer is still appending to, or that was rewritten in place, holds more than
// the .ts file does: the size must be the one copied and the modification time the one seen at open.
bool unchanged_since_copied(const OpenRecording& input, const WrittenStream& stream)
{
    FileIdentity now = identify(input.handle);
    return now.exists && now.size == transport_stream_offset + stream.bytes_copied && now.modified_ns == input.identity.modified_ns;
}

// The reason a -k run keeps its recording, or empty when it may go.
std::string_view reason_to_keep(const RunOptions& options, const OpenRecording& input, const std::optional<WrittenStream>& stream,
    const CatalogueFile& catalogue)
{
    if (options.skip_extraction)
        return "no .ts file written";
    if (!names_the_file_read(options.input_path, input.identity))
        return "it is not a regular file";
    if (!stream || !stream->output.regular_file)
        return "the .ts file is not a regular file";
    // Its line must be kept somewhere: /dev/null or a FIFO keeps nothing.
    if (!catalogue.identity.regular_file)
        return "the catalogue is not a regular file";
    if (!unchanged_since_copied(input, *stream))
        return "it changed during the run";
    return {};
}

int convert_recording(const RunOptions& options, Console& console)
{
    // Messages must not be mixed into the recording, the stream or the catalogue, whichever of them
    // standard output or standard error is; the recording is judged once it is open, before any
    // message is written out.
    if (!options.skip_extraction)
        console.keep_away_from(identify_path(options.output_path));
    console.keep_away_from(identify_path(options.catalogue_path));

    console.print("\nReading ", options.input_path);
    File input_file = open_for_reading(options.input_path);
    if (!input_file.is_open()) {
        print_failure(console, "cannot open ", options.input_path, errno);
        return exit_status_failure;
    }
    OpenRecording input { input_file.native(), options.input_path, identify(input_file.native()), false, {} };
    console.keep_away_from(input.identity);

    console.print("\nreading header ...");
    HeaderReading reading = read_recording_header(input.handle);
    if (reading.error_number != 0) {
        print_failure(console, "cannot read ", options.input_path, reading.error_number);
        return exit_status_failure;
    }
    if (!reading.header) {
        console.print("\nerror: bad .rec file: ", why_not_a_recording(reading));
        return exit_status_failure;
    }
    const RecordingHeader& header = *reading.header;
    // What a pipe has given of the stream with the header cannot be read again.
    input.sequential = !can_be_positioned(input.handle);
    if (input.sequential)
        input.already_read = std::as_bytes(header.stream_start());

    if (!writes_only_other_files(options, input.identity, console))
        return exit_status_failure;

    std::optional<WrittenStream> stream;
    if (!options.skip_extraction) {
        ExtractionSettings settings;
        settings.sync_to_disk = removes_input(options);
        settings.refuse_output = [](NativeHandle opened, const FileIdentity& identity) {
            return std::string(identity.regular_file ? reason_not_to_write_stream_over(start_of(opened)) : std::string_view());
        };
        stream = extract_transport_stream(input, options.output_path, console, settings);
        if (!stream)
            return exit_status_failure;
    }

    CatalogueFile catalogue;
    FilesOfTheRun files { input.identity, stream ? stream->output : FileIdentity {} };
    if (!ensure_catalogue_header(options, files, catalogue, console) || !append_catalogue_row(catalogue, options, header, console))
        return exit_status_failure;

    // The input stays open until here, so that -k sees what became of the very file that was read.
    if (!options.keep_input) {
        std::string_view reason = reason_to_keep(options, input, stream, catalogue);
        // Nothing was written through the input, so its close has nothing to report.
        static_cast<void>(input_file.close());
        if (!reason.empty())
            console.print("\nkeeping ", options.input_path + ": " + std::string(reason));
        else if (!remove_input(options.input_path, input.identity, console))
            return exit_status_failure;
    }

    console.print("\nall done");
    return exit_status_success;
}

}

int run(int argument_count, const char* const* arguments, Console& console)
{
    CommandLine command_line = parse_command_line(argument_count, arguments);
    int status = exit_status_success;
    switch (command_line.request) {
    case CommandLineRequest::run:
        status = convert_recording(command_line.options, console);
        break;
    case CommandLineRequest::usage:
        print_usage(console);
        status = exit_status_usage;
        break;
    case CommandLineRequest::help:
        print_usage(console);
        break;
    case CommandLineRequest::version:
        print_version(console);
        break;
    }
    // Checked only now, so that a console that fails never stops the work; but a run whose messages
    // were lost does not pass for a clean one.
    if (!console.flush()) {
        console.report_elsewhere("pelorus: cannot write messages: " + system_error_text(console.error_number()) + "\n");
        return exit_status_failure;
    }
    return status;
}
