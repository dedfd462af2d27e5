#include "cli/command_line.h"

#include "cli/version.h"
#include "platform/console.h"

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace {

// The three paths, in the order positional arguments fill them; -i, -o and -c move the next slot to
// the one after their own.
constexpr std::array<std::string RunOptions::*, 3> positional_paths {
    &RunOptions::input_path,
    &RunOptions::output_path,
    &RunOptions::catalogue_path,
};

// Every option, in the order the usage text lists them: its letter, its usage line, and what it sets.
// An option with a value sets a path, one of the three positional ones or one of its own; a flag takes
// no value and sets one field.
struct Option {
    char letter;
    std::string_view usage;
    std::size_t path_slot;                // an option with a positional path: its place in positional_paths
    void (*set_flag)(CommandLine& line);  // a flag: what it sets; null for an option with a value
    // An option whose value is a path of its own, in a single run and a batch alike: it takes no
    // positional slot and moves none.
    void (*set_path)(CommandLine& line, std::string_view value) = nullptr;
};

constexpr std::array<Option, 10> options { {
    { 'i', "input filename", 0, nullptr },
    { 'o', "output filename", 1, nullptr },
    { 'c', ".csv filename", 2, nullptr },
    { 'a', "overwrite output header info (normally appends)", 0, [](CommandLine& line) { line.options.start_afresh = true; } },
    { 'k', "delete .rec file (normally keeps)", 0, [](CommandLine& line) { line.options.delete_input = true; } },
    { 't', "no .ts file generation", 0, [](CommandLine& line) { line.options.skip_extraction = true; } },
    { 'u', ".csv texts in UTF-8", 0, [](CommandLine& line) { line.options.utf8_texts = true; } },
    { 's', "check the stream's packets", 0, [](CommandLine& line) { line.options.check_stream = true; } },
    { 'b', "every argument a recording or folder", 0, [](CommandLine& line) { line.batch.batch = true; } },
    { 'j', "report filename (a JSON line per recording)", 0, nullptr,
        [](CommandLine& line, std::string_view value) { line.options.report_path = std::string(value); } },
} };

const Option* option_of(char letter)
{
    for (const Option& option : options)
        if (option.letter == letter)
            return &option;
    return nullptr;
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

// A path as given: by an option with a value (its slot), or positional.
struct GivenPath {
    const Option* option;  // null for a positional argument
    std::string_view value;
};

// Reads the arguments, setting each flag as it comes and keeping the paths in their order, until
// they are read or the usage text, help or the version is due.
CommandLineRequest scan(int argument_count, const char* const* arguments, CommandLine& line, std::vector<GivenPath>& paths)
{
    for (int index = 1; index < argument_count; ++index) {
        std::string_view argument = arguments[index];
        if (argument == "--help")
            return CommandLineRequest::help;
        if (argument == "--version")
            return CommandLineRequest::version;
        if (!is_option(argument)) {
            paths.push_back({ nullptr, argument });
            continue;
        }
        // The second character names the option, and "-" alone names none. A flag is exactly two
        // characters, so that -keep or -append is refused rather than taken for -k or -a; an option
        // with a value may run on (-ifoo is -i), since its value is the next argument either way.
        const Option* option = option_of(argument.size() > 1 ? argument[1] : '\0');
        if (!option || (option->set_flag && argument.size() != 2))
            return CommandLineRequest::usage;
        if (option->set_flag) {
            option->set_flag(line);
            continue;
        }
        if (index + 1 >= argument_count)
            return CommandLineRequest::usage;
        if (option->set_path)
            option->set_path(line, arguments[++index]);
        else
            paths.push_back({ option, arguments[++index] });
    }
    return CommandLineRequest::run;
}

// One run: positional arguments fill the paths in order from the slot after the last option's.
void apply_to_one_recording(const std::vector<GivenPath>& paths, RunOptions& options)
{
    std::size_t next_slot = 0;
    for (const GivenPath& path : paths) {
        std::size_t slot = path.option ? path.option->path_slot : next_slot;
        if (slot < positional_paths.size())
            options.*positional_paths[slot] = path.value;
        if (slot == 1)
            options.output_named = true;
        next_slot = slot + 1;
    }
}

// -b: every positional argument, and each -i, is one more recording or folder; -o the folder for the
// .ts files; -c the catalogue.
void apply_to_batch(const std::vector<GivenPath>& paths, CommandLine& line)
{
    for (const GivenPath& path : paths) {
        char letter = path.option ? path.option->letter : 'i';
        if (letter == 'i')
            line.batch.inputs.emplace_back(path.value);
        else if (letter == 'o')
            line.batch.output_folder = path.value;
        else
            line.options.catalogue_path = path.value;
    }
}

}

CommandLine parse_command_line(int argument_count, const char* const* arguments)
{
    CommandLine line;
    // The paths are applied once the whole line is read: whether -b is among the arguments decides
    // what a positional argument is.
    std::vector<GivenPath> paths;
    line.request = scan(argument_count, arguments, line, paths);
    if (line.request != CommandLineRequest::run)
        return line;
    if (line.batch.batch) {
        apply_to_batch(paths, line);
        // A batch of nothing is a slip, not an empty archive: say how it is used.
        if (line.batch.inputs.empty())
            line.request = CommandLineRequest::usage;
    } else {
        apply_to_one_recording(paths, line.options);
    }
    return line;
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
    for (const Option& option : options) {
        console.print("\n         -", std::string_view(&option.letter, 1));
        console.print("    ", option.usage);
    }
}
