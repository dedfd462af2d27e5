#include "cli/run.h"

#include "catalogue/catalogue.h"
#include "cli/command_line.h"
#include "io/console.h"
#include "io/file_descriptor.h"
#include "recording/recording_header.h"
#include "recording/stream_extraction.h"

#include <fcntl.h>

namespace {

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

    if (!options.skip_extraction && !extract_transport_stream(input.get(), options.input_path, options.output_path, console))
        return exit_status_failure;
    // Nothing was written through the input, so its close has nothing to report.
    static_cast<void>(input.close());

    if (!ensure_catalogue_header(options, console) || !append_catalogue_row(options, *header, console))
        return exit_status_failure;

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
