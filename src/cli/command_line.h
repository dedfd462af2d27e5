// Reading the command line into the run's options, and the usage text shown when it cannot be read.
#pragma once

#include "cli/run_options.h"

class Console;

// What the command line asks for.
enum class CommandLineRequest {
    run,      // a conversion, with the options read
    usage,    // the arguments cannot be read: the usage text, and exit status 1
    help,     // --help: the usage text, and exit status 0
    version,  // --version: the name and version, and exit status 0
};

struct CommandLine {
    CommandLineRequest request = CommandLineRequest::run;
    RunOptions options;
    BatchOptions batch;
};

// Scans the arguments after the program name. The usage text is due for an unknown option, a flag
// with more characters after its letter (-keep is not -k), or an option that takes a value given as
// the last argument.
CommandLine parse_command_line(int argument_count, const char* const* arguments);

void print_usage(Console& console);
void print_version(Console& console);
