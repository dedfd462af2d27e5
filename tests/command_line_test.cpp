#include "cli/command_line.h"

#include "support/captured_console.h"
#include "support/usage_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

CommandLine scan(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "pelorus");
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    return parse_command_line(static_cast<int>(arguments.size()), pointers.data());
}

struct ScanCase {
    const char* name;
    std::vector<std::string> arguments;
    RunOptions expected;
};

void PrintTo(const ScanCase& scan_case, std::ostream* stream) { *stream << scan_case.name; }

RunOptions with_paths(std::string input, std::string output, std::string catalogue)
{
    RunOptions options;
    options.input_path = std::move(input);
    options.output_path = std::move(output);
    options.catalogue_path = std::move(catalogue);
    return options;
}

RunOptions with_flags(bool start_afresh, bool delete_input, bool skip_extraction)
{
    RunOptions options;
    options.start_afresh = start_afresh;
    options.delete_input = delete_input;
    options.skip_extraction = skip_extraction;
    return options;
}

const std::vector<ScanCase> accepted_cases = {
    { "NoArgumentsGivesDefaults", {}, with_paths("test.rec", "test.ts", "rec.csv") },
    { "PositionalsFillInputOutputCatalogue", { "a.rec", "a.ts", "list.csv" }, with_paths("a.rec", "a.ts", "list.csv") },
    { "FourthPositionalIsIgnored", { "a.rec", "a.ts", "list.csv", "extra" }, with_paths("a.rec", "a.ts", "list.csv") },
    { "OptionFormsSetPaths", { "-i", "x.rec", "-o", "x.ts", "-c", "x.csv" }, with_paths("x.rec", "x.ts", "x.csv") },
    { "OptionsInAnyOrder", { "-c", "x.csv", "-i", "x.rec" }, with_paths("x.rec", "test.ts", "x.csv") },
    { "OutputOptionMovesSlotToCatalogue", { "-o", "x.ts", "y.csv" }, with_paths("test.rec", "x.ts", "y.csv") },
    { "CatalogueOptionMovesSlotPastTheEnd", { "-c", "z.csv", "w" }, with_paths("test.rec", "test.ts", "z.csv") },
    { "InputOptionMovesSlotToOutput", { "-i", "b.rec", "b.ts" }, with_paths("b.rec", "b.ts", "rec.csv") },
    { "LaterValueWins", { "a.rec", "-i", "b.rec", "c.ts" }, with_paths("b.rec", "c.ts", "rec.csv") },
    { "OnlySecondCharacterCounts", { "-ifoo", "x.rec" }, with_paths("x.rec", "test.ts", "rec.csv") },
    { "ValueIsTakenWhateverItLooksLike", { "-o", "-t" }, with_paths("test.rec", "-t", "rec.csv") },
    { "PathWithBracketIsKeptWhole", { "rec]1.rec" }, with_paths("rec]1.rec", "test.ts", "rec.csv") },
    { "PathWithSpacesAndBracketsIsKeptWhole", { "News [HD].rec" }, with_paths("News [HD].rec", "test.ts", "rec.csv") },
    { "LeadingBlanksAreKept", { "  a.rec" }, with_paths("  a.rec", "test.ts", "rec.csv") },
    { "LeadingBracketIsKept", { "]a.rec" }, with_paths("]a.rec", "test.ts", "rec.csv") },
    { "EmptyPositionalSetsEmptyPath", { "", "b.ts" }, with_paths("", "b.ts", "rec.csv") },
    { "EmptyOptionValueSetsEmptyPath", { "-c", "" }, with_paths("test.rec", "test.ts", "") },
    { "DashAFlag", { "-a" }, with_flags(true, false, false) },
    { "DashKFlag", { "-k" }, with_flags(false, true, false) },
    { "DashTFlag", { "-t" }, with_flags(false, false, true) },
    { "SlashFormOfFlag", { "/t" }, with_flags(false, false, true) },
    { "AbsolutePathsArePositional", { "/tmp/x.rec", "/keep/x.ts", "/archive/x.csv" }, with_paths("/tmp/x.rec", "/keep/x.ts", "/archive/x.csv") },
    { "AbsolutePathIsAnOptionValue", { "-c", "/cache/x.csv", "/t" }, [] {
         RunOptions options = with_flags(false, false, true);
         options.catalogue_path = "/cache/x.csv";
         return options;
     }() },
    { "AllFlags", { "-a", "-k", "-t" }, with_flags(true, true, true) },
    { "DashUAndSlashUDecodeTexts", { "-u", "/u", "a.rec" }, [] {
         RunOptions options = with_paths("a.rec", "test.ts", "rec.csv");
         options.utf8_texts = true;
         return options;
     }() },
    // -j takes a value as -c does, but moves no positional slot: the positionals go on where they were.
    { "ReportMovesNoSlot", { "a.rec", "-j", "r.jsonl", "a.ts", "list.csv" }, [] {
         RunOptions options = with_paths("a.rec", "a.ts", "list.csv");
         options.report_path = "r.jsonl";
         return options;
     }() },
    { "ReportFirst", { "-j", "-", "a.rec" }, [] {
         RunOptions options = with_paths("a.rec", "test.ts", "rec.csv");
         options.report_path = "-";
         return options;
     }() },
};

class AcceptedCommandLine : public testing::TestWithParam<ScanCase> { };

TEST_P(AcceptedCommandLine, FillsRunOptions)
{
    const ScanCase& scan_case = GetParam();
    CommandLine command_line = scan(scan_case.arguments);
    ASSERT_EQ(command_line.request, CommandLineRequest::run);
    const RunOptions* options = &command_line.options;
    EXPECT_EQ(options->input_path, scan_case.expected.input_path);
    EXPECT_EQ(options->output_path, scan_case.expected.output_path);
    EXPECT_EQ(options->catalogue_path, scan_case.expected.catalogue_path);
    EXPECT_EQ(options->start_afresh, scan_case.expected.start_afresh);
    EXPECT_EQ(options->delete_input, scan_case.expected.delete_input);
    EXPECT_EQ(options->skip_extraction, scan_case.expected.skip_extraction);
    EXPECT_EQ(options->utf8_texts, scan_case.expected.utf8_texts);
    EXPECT_EQ(options->report_path, scan_case.expected.report_path);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, AcceptedCommandLine, testing::ValuesIn(accepted_cases),
    [](const testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    CommandLineRequest request = CommandLineRequest::usage;
};

void PrintTo(const UsageCase& usage_case, std::ostream* stream) { *stream << usage_case.name; }

const std::vector<UsageCase> usage_cases = {
    { "UnknownLetter", { "a.rec", "-x", "b.ts" } },
    { "UpperCaseInput", { "-I", "a.rec" } },
    { "UpperCaseSkip", { "-T" } },
    { "DashAlone", { "-" } },
    { "SlashAlone", { "/" } },
    { "UnknownSlashLetter", { "/x" } },
    { "InputOptionWithoutValue", { "a.rec", "-i" } },
    { "OutputOptionWithoutValue", { "a.rec", "-o" } },
    { "CatalogueOptionWithoutValue", { "-c" } },
    { "ReportOptionWithoutValue", { "a.rec", "-j" } },
    { "StopsAtFirstUnknownOption", { "-q", "-o" } },
    // Once read as -k and -a: the recording deleted, the catalogue emptied.
    { "LongFlagIsNotItsFirstLetter", { "-keep", "news.rec" } },
    { "LongAppendIsNotDashA", { "-append", "-t", "news.rec" } },
    { "FlagsDoNotCombine", { "-tk", "news.rec" } },
    { "SlashWithMoreLettersIsAPath", { "-u", "/tk" }, CommandLineRequest::run },
    { "Help", { "a.rec", "--help", "-x" }, CommandLineRequest::help },
    { "Version", { "--version" }, CommandLineRequest::version },
    { "OnlyTheExactWordAsksForHelp", { "--helpme" } },
    { "UnknownOptionBeforeHelp", { "-x", "--help" } },
    // A batch needs something to convert; a folder with nothing in it is another matter.
    { "BatchOfNothing", { "-b", "-c", "list.csv" } },
    { "BatchOfAFolder", { "-b", "recs" }, CommandLineRequest::run },
};

class RefusedCommandLine : public testing::TestWithParam<UsageCase> { };

TEST_P(RefusedCommandLine, AsksForUsageText)
{
    EXPECT_EQ(scan(GetParam().arguments).request, GetParam().request);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, RefusedCommandLine, testing::ValuesIn(usage_cases),
    [](const testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

TEST(CommandLine, BatchTakesEveryRecordingAndFolder)
{
    // -b anywhere: every positional argument and each -i is one more input, -o the folder, -c the
    // catalogue, -j the report (never the catalogue), and the three paths of one recording keep their
    // defaults.
    CommandLine line = scan({ "recs", "-o", "video", "-i", "x.rec", "-c", "list.csv", "more", "-j", "r.jsonl", "-b", "-k" });
    ASSERT_EQ(line.request, CommandLineRequest::run);
    EXPECT_TRUE(line.batch.batch);
    EXPECT_EQ(line.batch.inputs, (std::vector<std::string> { "recs", "x.rec", "more" }));
    EXPECT_EQ(line.batch.output_folder, std::optional<std::string>("video"));
    EXPECT_EQ(line.options.catalogue_path, "list.csv");
    EXPECT_EQ(line.options.report_path, std::optional<std::string>("r.jsonl"));
    EXPECT_EQ(line.options.input_path, "test.rec");
    EXPECT_TRUE(line.options.delete_input);
    EXPECT_FALSE(scan({ "-b", "recs" }).batch.output_folder);
}

TEST(CommandLine, KeepsVeryLongPathWhole)
{
    std::string long_path(5000, 'x');
    long_path += ".rec";
    EXPECT_EQ(scan({ long_path }).options.input_path, long_path);
}

TEST(CommandLine, UsageTextIsExact)
{
    CapturedConsole console;
    print_usage(console.console());
    EXPECT_EQ(console.text(), expected_usage_text);
}

}
