#include "cli/command_line.h"

#include "cli/version.h"
#include "platform/console.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace {

// Positional arguments fill these in order; -i, -o and -c move the next slot to the one after their own.
constexpr std::array<std::string RunOptions::*, 3> positional_paths {
    &RunOptions::input_path,
    &RunOptions::output_path,
    &RunOptions::catalogue_path,
};

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
    std::size_t next_slot = 0;
    auto ask_for = [&command_line](CommandLineRequest request) {
        command_line.request = request;
        return command_line;
    };

    for (int index = 1; index < argument_count; ++index) {
        std::string_view argument = arguments[index];
        if (argument == "--help")
            return ask_for(CommandLineRequest::help);
        if (argument == "--version")
            return ask_for(CommandLineRequest::version);
        if (!is_option(argument)) {
            if (next_slot < positional_paths.size())
                options.*positional_paths[next_slot++] = argument;
            continue;
        }

        // The second character names the option, and "-" alone names none. A flag is exactly two
        // characters, so that -keep or -append is refused rather than taken for -k or -a; an option
        // with a value may run on (-ifoo is -i), since its value is the next argument either way.
        char letter = argument.size() > 1 ? argument[1] : '\0';
        bool bare = argument.size() == 2;
        switch (letter) {
        case 'a':
        case 'k':
        case 't':
        case 'u':
            if (!bare)
                return ask_for(CommandLineRequest::usage);
            if (letter == 'a')
                options.append = false;
            else if (letter == 'k')
                options.keep_input = false;
            else if (letter == 't')
                options.skip_extraction = true;
            else
                options.utf8_texts = true;
            break;
        case 'i':
        case 'o':
        case 'c': {
            if (index + 1 >= argument_count)
                return ask_for(CommandLineRequest::usage);
            std::size_t slot = slot_of_option(letter);
            options.*positional_paths[slot] = arguments[++index];
            next_slot = slot + 1;
            break;
        }
        default:
            return ask_for(CommandLineRequest::usage);
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
}
