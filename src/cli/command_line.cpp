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

std::optional<RunOptions> parse_command_line(int argument_count, const char* const* arguments)
{
    RunOptions options;
    std::size_t next_slot = 0;

    for (int index = 1; index < argument_count; ++index) {
        std::string_view argument = arguments[index];
        if (!is_option(argument)) {
            if (next_slot < positional_paths.size())
                options.*positional_paths[next_slot++] = argument;
            continue;
        }

        // Only the second character names the option: -ifoo is -i, and "-" alone names none.
        char letter = argument.size() > 1 ? argument[1] : '\0';
        switch (letter) {
        case 'a':
            options.append = false;
            break;
        case 'k':
            options.keep_input = false;
            break;
        case 't':
            options.skip_extraction = true;
            break;
        case 'u':
            options.utf8_texts = true;
            break;
        case 'i':
        case 'o':
        case 'c': {
            if (index + 1 >= argument_count)
                return std::nullopt;
            std::size_t slot = slot_of_option(letter);
            options.*positional_paths[slot] = arguments[++index];
            next_slot = slot + 1;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return options;
}

void print_usage(Console& console)
{
    console.print("\npelorus v", pelorus_version);
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
