// The run's options as the command line sets them, and the usage text shown when it cannot be read.
#pragma once

#include <optional>
#include <string>

class Console;

struct RunOptions {
    std::string input_path = "test.rec";
    std::string output_path = "test.ts";
    std::string catalogue_path = "rec.csv";
    bool append = true;            // -a clears it: the catalogue starts afresh
    bool keep_input = true;        // -k clears it: the recording is removed after a complete run
    bool skip_extraction = false;  // -t sets it: no .ts file is written
    bool utf8_texts = false;       // -u sets it: the catalogue's texts are decoded to UTF-8
};

// A run with -k removes the recording once its stream is safely written; with -t no stream is written,
// so the recording is kept.
inline bool removes_input(const RunOptions& options)
{
    return !options.keep_input && !options.skip_extraction;
}

// Scans the arguments after the program name. An empty result means the usage text is due: an unknown
// option, or an option that takes a value given as the last argument.
std::optional<RunOptions> parse_command_line(int argument_count, const char* const* arguments);

void print_usage(Console& console);
