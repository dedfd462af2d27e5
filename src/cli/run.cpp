#include "cli/run.h"

#include "cli/batch.h"
#include "cli/command_line.h"
#include "cli/console_reporter.h"
#include "cli/conversion.h"
#include "cli/message_routing.h"
#include "platform/console.h"
#include "platform/interruption.h"

namespace {

int run_one(const RunOptions& options, Console& console, MessageRouting& routing)
{
    ConsoleReporter reporter(console, routing);
    std::optional<ReportFile> report;
    if (options.report_path)
        report = ReportFile { *options.report_path, {} };
    ConversionResult result = convert_recording(options, reporter, report ? &*report : nullptr);
    blame_interruption(result, options.input_path);
    // What is left to say is said whole.
    abandon_calls_on_interruption(false);
    if (result.failure) {
        reporter.error(*result.failure);
        return exit_status_failure;
    }
    reporter.all_done();
    return exit_status_success;
}

}

int run(int argument_count, const char* const* arguments, Console& console, MessageRouting& routing)
{
    CommandLine command_line = parse_command_line(argument_count, arguments);
    int status = exit_status_success;
    switch (command_line.request) {
    case CommandLineRequest::run:
        status = command_line.batch.batch ? run_batch(command_line.options, command_line.batch, console, routing)
                                          : run_one(command_line.options, console, routing);
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
        routing.report_elsewhere("pelorus: cannot write messages: " + system_error_text(console.error_number()) + "\n");
        return exit_status_failure;
    }
    return status;
}
