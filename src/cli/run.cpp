#include "cli/run.h"

#include "catalogue/catalogue.h"
#include "cli/command_line.h"
#include "io/console.h"
#include "io/file_descriptor.h"
#include "io/file_identity.h"
#include "recording/recording_header.h"
#include "recording/stream_extraction.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Refuses a run that would write into the recording it reads, or put the catalogue into the .ts file,
// before anything is opened for writing.
bool writes_only_other_files(const RunOptions& options, const FileIdentity& input, Console& console)
{
    auto refuse = [&console](const std::string& path, const char* reason) {
        console.print("\nerror: cannot write ", path + reason);
        return false;
    };
    FileIdentity output = options.skip_extraction ? FileIdentity {} : identify_path(options.output_path);
    FileIdentity catalogue = identify_path(options.catalogue_path);
    if (!options.skip_extraction && is_same_file(output, input))
        return refuse(options.output_path, ": it is the input file");
    if (is_same_file(catalogue, input))
        return refuse(options.catalogue_path, ": it is the input file");
    if (!options.skip_extraction && is_same_file(catalogue, output))
        return refuse(options.catalogue_path, ": it is the output file");
    return true;
}

// Called only once the .ts file and the catalogue line are on the disk and closed.
bool remove_input(const std::string& input_path, const FileIdentity& input, Console& console)
{
    console.print("\ndeleting ", input_path);
    // The path must still name the recording that was read, not a file put there since.
    if (!is_same_file(identify_path(input_path), input) || ::unlink(input_path.c_str()) != 0) {
        console.print("\nerror: cannot delete ", input_path);
        return false;
    }
    return true;
}

int convert_recording(const RunOptions& options, Console& console)
{
    console.print("\nReading ", options.input_path);
    FileDescriptor input = open_file(options.input_path, O_RDONLY | O_NOCTTY);
    if (!input.is_open()) {
        console.print("\nerror: cannot open ", options.input_path);
        return exit_status_failure;
    }

    console.print("\nreading header ...");
    std::optional<RecordingHeader> header = read_recording_header(input.get());
    if (!header) {
        console.print("\nerror: bad .rec file");
        return exit_status_failure;
    }

    FileIdentity input_identity = identify_descriptor(input.get());
    if (!writes_only_other_files(options, input_identity, console))
        return exit_status_failure;

    if (!options.skip_extraction) {
        ExtractionSettings settings;
        settings.sync_to_disk = removes_input(options);
        if (!extract_transport_stream(input.get(), options.input_path, options.output_path, console, settings))
            return exit_status_failure;
    }
    // Nothing was written through the input, so its close has nothing to report.
    static_cast<void>(input.close());

    if (!ensure_catalogue_header(options, console) || !append_catalogue_row(options, *header, console))
        return exit_status_failure;

    if (!options.keep_input) {
        if (options.skip_extraction)
            console.print("\nkeeping ", options.input_path + ": no .ts file written");
        else if (!remove_input(options.input_path, input_identity, console))
            return exit_status_failure;
    }

    console.print("\nall done");
    return exit_status_success;
}

}

int run(int argument_count, const char* const* arguments, Console& console)
{
    std::optional<RunOptions> options = parse_command_line(argument_count, arguments);
    if (!options) {
        print_usage(console);
        return exit_status_usage;
    }
    return convert_recording(*options, console);
}
