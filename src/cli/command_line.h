// Reading the command line into the run's options, and the usage text shown when it cannot be read.
#pragma once

#include "shared/run_options.h"

#include <optional>

class Console;

// Scans the arguments after the program name. An empty result means the usage text is due: an unknown
// option, or an option that takes a value given as the last argument.
std::optional<RunOptions> parse_command_line(int argument_count, const char* const* arguments);

void print_usage(Console& console);
