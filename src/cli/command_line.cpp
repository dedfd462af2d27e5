#include "cli/command_line.h"

#include "cli/version.h"
#include "platform/console.h"

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace {

// Positional arguments fill these in order; -i, -o and -c move the next slot to the one after their own.
constexpr std::array<std::string RunOptions::*, 3> positional_paths {
    &RunOptions::input_path,
    &RunOptions::output_path,
    &RunOptions::catalogue_path,
};

// The flags, each an option of its own letter that takes no value and sets one field.
struct Flag {
    char letter;
    bool RunOptions::*field;
    bool value;
};

constexpr std::array<Flag, 6> flags { {
    { 'a', &RunOptions::append, false },
    { 'b', &RunOptions::batch, true },
    { 'k', &RunOptions::keep_input, false },
    { 's', &RunOptions::check_stream, true },
    { 't', &RunOptions::skip_extraction, true },
    { 'u', &RunOptions::utf8_texts, true },
} };

const Flag* flag_of(char letter)
{
    for (const Flag& flag : flags)
        if (flag.letter == letter)
            return &flag;
    return nullptr;
}

constexpr std::size_t slot_of_option(char letter)
{
    switch (letter) {
    case 'i':
        return 0;
    case 'o':
        return 1;
    default:
        return 2;
    }
}

// A '/' option is exactly two characters (/t), so that any longer argument starting with '/' is an
// absolute path; "/" alone is still an option with no letter.
bool is_option(std::string_view argument)
{
    if (argument.empty())
        return false;
    if (argument.front() == '/')
        return argument.size() <= 2;
    return argument.front() == '-';
}

}

CommandLine parse_command_line(int argument_count, const char* const* arguments)
{
    CommandLine command_line;
    RunOptions& options = command_line.options;
    auto ask_for = [&command_line](CommandLineRequest request) {
        command_line.request = request;
        return command_line;
    };

    // The paths in the order given, applied once the whole line is read: whether -b is among the
    // arguments decides what a positional argument is.
    struct GivenPath {
        char option;  // 'i', 'o' or 'c', or 0 for a positional argument
        std::string_view value;
    };
    std::vector<GivenPath> paths;

    for (int index = 1; index < argument_count; ++index) {
        std::string_view argument = arguments[index];
        if (argument == "--help")
            return ask_for(CommandLineRequest::help);
        if (argument == "--version")
            return ask_for(CommandLineRequest::version);
        if (!is_option(argument)) {
            paths.push_back({ 0, argument });
            continue;
        }

        // The second character names the option, and "-" alone names none. A flag is exactly two
        // characters, so that -keep or -append is refused rather than taken for -k or -a; an option
        // with a value may run on (-ifoo is -i), since its value is the next argument either way.
        char letter = argument.size() > 1 ? argument[1] : '\0';
        if (const Flag* flag = flag_of(letter)) {
            if (argument.size() != 2)
                return ask_for(CommandLineRequest::usage);
            options.*flag->field = flag->value;
            continue;
        }
        switch (letter) {
        case 'i':
        case 'o':
        case 'c':
            if (index + 1 >= argument_count)
                return ask_for(CommandLineRequest::usage);
            paths.push_back({ letter, arguments[++index] });
            break;
        default:
            return ask_for(CommandLineRequest::usage);
        }
    }

    std::size_t next_slot = 0;
    for (const GivenPath& path : paths) {
        if (options.batch) {
            // Every positional argument, and each -i, is one more recording or folder.
            if (path.option == 0 || path.option == 'i')
                options.batch_inputs.emplace_back(path.value);
            else if (path.option == 'o')
                options.output_path = path.value;
            else
                options.catalogue_path = path.value;
            options.output_path_given = options.output_path_given || path.option == 'o';
        } else if (path.option == 0) {
            if (next_slot < positional_paths.size())
                options.*positional_paths[next_slot++] = path.value;
        } else {
            std::size_t slot = slot_of_option(path.option);
            options.*positional_paths[slot] = path.value;
            next_slot = slot + 1;
        }
    }
    return command_line;
}

void print_version(Console& console)
{
    console.print("\npelorus v", pelorus_version);
}

void print_usage(Console& console)
{
    print_version(console);
    console.print("\n============");
    console.print("\n");
    console.print("\nusage: pelorus <options> <input file> <output file> <.csv file> ");
    console.print("\n         -i    input filename");
    console.print("\n         -o    output filename");
    console.print("\n         -c    .csv filename");
    console.print("\n         -a    overwrite output header info (normally appends)");
    console.print("\n         -k    delete .rec file (normally keeps)");
    console.print("\n         -t    no .ts file generation");
    console.print("\n         -u    .csv texts in UTF-8");
    console.print("\n         -s    check the stream's packets");
    console.print("\n         -b    every argument a recording or folder");
}
