// The batch's archive: which recordings it names, what a catalogue and a .ts file already hold, and
// what it decides for each recording.

#include "archive/batch_plan.h"
#include "archive/batch_progress.h"
#include "archive/catalogue_watch.h"
#include "archive/recording_list.h"
#include "archive/stream_holding.h"
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_holdings.h"
#include "cli/console_reporter.h"
#include "cli/conversion.h"
#include "platform/file.h"
#include "recording/recording_header.h"
#include "recording/stream_extraction.h"
#include "shared/content_hash.h"
#include "support/captured_console.h"
#include "support/recording_builder.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

struct NamingCase {
    const char* name;
    std::string recording;
    std::optional<std::string> output_folder;
    std::string expected;  // with '/' for the system's separator
    std::string held_name = {};  // the name the file system holds, where it differs
};

void PrintTo(const NamingCase& naming_case, std::ostream* stream) { *stream << naming_case.name; }

class TransportStreamName : public testing::TestWithParam<NamingCase> { };

TEST_P(TransportStreamName, FollowsTheRecordingsName)
{
    const NamingCase& naming = GetParam();
    std::string expected = naming.expected;
    std::replace(expected.begin(), expected.end(), '/', path_separator);
    std::replace(expected.begin(), expected.end(), '|', '/');
    EXPECT_EQ(transport_stream_path(naming.recording, naming.output_folder ? &*naming.output_folder : nullptr, naming.held_name), expected);
}

TEST(TransportStreamNaming, FollowsTheNameTheSystemKeeps)
{
#ifdef _WIN32
    // The system drops a name's trailing dots and spaces.
    EXPECT_EQ(transport_stream_name("news.rec."), "news.ts");
    EXPECT_EQ(transport_stream_name("news.rec "), "news.ts");
#else
    EXPECT_EQ(transport_stream_name("news.rec."), "news.rec..ts");
#endif
}

// In the expected paths '|' is a '/' the recording's own path holds, left as it is.
INSTANTIATE_TEST_SUITE_P(Batch, TransportStreamName,
    testing::Values(
        NamingCase { "RecEndingReplaced", "news.rec", std::nullopt, "news.ts" },
        NamingCase { "RecEndingInAnyCase", "NEWS.REC", std::nullopt, "NEWS.ts" },
        NamingCase { "MixedCaseEnding", "News.Rec", std::nullopt, "News.ts" },
        NamingCase { "NoEndingGetsOneAdded", "news", std::nullopt, "news.ts" },
        NamingCase { "OtherEndingKept", "news.ts", std::nullopt, "news.ts.ts" },
        NamingCase { "RecOnlyAtTheEnd", "news.rec.bak", std::nullopt, "news.rec.bak.ts" },
        NamingCase { "BesideTheRecording", "dish1/news.rec", std::nullopt, "dish1|news.ts" },
        NamingCase { "IntoTheOutputFolder", "dish1/news.rec", "video", "video/news.ts" },
        NamingCase { "OutputFolderEndingInASeparator", "news.rec", "video/", "video|news.ts" },
        // A short name: the .ts is named after the long name the file system holds.
        NamingCase { "ShortNameBesideTheRecording", "dish1/NEWS~BXD.REC", std::nullopt, "dish1|NewsRecording.ts", "NewsRecording.rec" },
        NamingCase { "ShortNameIntoTheOutputFolder", "dish1/NEWS~BXD.REC", "video", "video/NewsRecording.ts", "NewsRecording.rec" }),
    [](const testing::TestParamInfo<NamingCase>& info) { return std::string(info.param.name); });

// The plan.

struct PlanCase {
    const char* name;
    RecordingFacts facts;
    BatchState state;
    BatchAction action;
    std::optional<SkipReason> skip = std::nullopt;
    std::optional<BatchRefusal> refusal = std::nullopt;
    bool start_afresh = false;
    bool check_stream = false;
};

void PrintTo(const PlanCase& plan_case, std::ostream* stream) { *stream << plan_case.name; }

class BatchPlan : public testing::TestWithParam<PlanCase> { };

TEST_P(BatchPlan, DecidesForOneRecording)
{
    const PlanCase& plan_case = GetParam();
    BatchDecision decision = decide(plan_case.facts, plan_case.state);
    EXPECT_EQ(decision.action, plan_case.action);
    if (plan_case.skip) {
        EXPECT_EQ(decision.skip, *plan_case.skip);
    }
    if (plan_case.refusal) {
        EXPECT_EQ(decision.refusal, *plan_case.refusal);
    }
    EXPECT_EQ(decision.start_afresh, plan_case.start_afresh);
    EXPECT_EQ(decision.check_stream, plan_case.check_stream);
}

RecordingFacts facts(bool catalogued, OutputHolding output, std::string claimed_by = {})
{
    RecordingFacts facts;
    facts.catalogued = catalogued;
    facts.output = output;
    facts.output_claimed_by = std::move(claimed_by);
    return facts;
}

// How the opening went, for one listed from a folder or named, and at a first look or a second.
RecordingFacts opened(Opening opening, bool listed_from_folder, bool seen_before = false)
{
    RecordingFacts facts;
    facts.opening = opening;
    facts.listed_from_folder = listed_from_folder;
    facts.seen_before = seen_before;
    return facts;
}

constexpr BatchState plain { false, false, false };
constexpr BatchState catalogue_only { true, false, false };  // -t
constexpr BatchState afresh { false, true, false };          // -a, before the first line
constexpr BatchState deleting { false, false, true };        // -k
constexpr BatchState checking_only { true, false, false, true };  // -t -s
constexpr BatchState checking { false, false, false, true };      // -s

RecordingFacts locked_elsewhere(bool catalogued, OutputHolding output)
{
    RecordingFacts locked = facts(catalogued, output);
    locked.output_locked_elsewhere = true;
    return locked;
}

INSTANTIATE_TEST_SUITE_P(Archive, BatchPlan,
    testing::Values(
        PlanCase { "NewRecordingIsConverted", facts(false, OutputHolding::nothing), plain, BatchAction::convert },
        PlanCase { "CataloguedWithItsWholeStreamIsSkipped", facts(true, OutputHolding::whole_stream), plain, BatchAction::skip,
            SkipReason::already_catalogued },
        // Already converted is decided first: a whole .ts that an earlier recording claims is still done.
        PlanCase { "AlreadyConvertedBeforeAnyClaim", facts(true, OutputHolding::whole_stream, "dish1/news.rec"), plain, BatchAction::skip,
            SkipReason::already_catalogued },
        PlanCase { "CataloguedWithTheStreamMissingWritesOnlyTheStream", facts(true, OutputHolding::nothing), plain, BatchAction::write_stream_only },
        PlanCase { "CataloguedWithTheStreamCutShortWritesOnlyTheStream", facts(true, OutputHolding::start_of_stream), plain,
            BatchAction::write_stream_only },
        PlanCase { "CataloguedWithTheStreamInAFifoWritesItAgain", facts(true, OutputHolding::not_a_file), plain, BatchAction::write_stream_only },
        // One byte longer than the stream is not what an interrupted run leaves: it is never written over.
        PlanCase { "CataloguedWithALongerStreamIsRefused", facts(true, OutputHolding::something_else), plain, BatchAction::refuse,
            std::nullopt, BatchRefusal::output_holds_something },
        PlanCase { "AnotherRecordingsStreamIsNeverReplaced", facts(false, OutputHolding::something_else), plain, BatchAction::refuse,
            std::nullopt, BatchRefusal::output_holds_something },
        PlanCase { "AnInterruptedRunsStreamIsReplaced", facts(false, OutputHolding::start_of_stream), plain, BatchAction::convert },
        PlanCase { "ClaimedByAnEarlierRecordingIsRefused", facts(false, OutputHolding::nothing, "dish1/news.rec"), plain, BatchAction::refuse,
            std::nullopt, BatchRefusal::output_claimed },
        PlanCase { "CatalogueOnlyWithTheLineIsSkipped", facts(true, OutputHolding::nothing), catalogue_only, BatchAction::skip,
            SkipReason::already_catalogued },
        // -t claims no .ts: two recordings of one name in two folders, of different events, are both catalogued.
        PlanCase { "CatalogueOnlyClaimsNoStream", facts(false, OutputHolding::something_else, "dish1/news.rec"), catalogue_only, BatchAction::convert },
        // With -a nothing is skipped, and a whole .ts file is compared rather than copied again.
        PlanCase { "StartingAfreshSkipsNothing", facts(true, OutputHolding::whole_stream), afresh, BatchAction::compare_in_full, std::nullopt,
            std::nullopt, true },
        PlanCase { "StartingAfreshWritesMissingStreams", facts(true, OutputHolding::start_of_stream), afresh, BatchAction::convert, std::nullopt,
            std::nullopt, true },
        // Once the first line is written, -a is spent: every later recording keeps its line.
        PlanCase { "AfterStartingAfreshTheRestAppend", facts(false, OutputHolding::nothing), plain, BatchAction::convert },
        // Converted before: -k frees it only after a compare in full, which writes it again if it differs.
        PlanCase { "ConvertedIsComparedInFullBeforeDashKDeletesIt", facts(true, OutputHolding::whole_stream), deleting, BatchAction::compare_in_full },
        PlanCase { "DashKWritesWhatIsNotWholeAsUsual", facts(true, OutputHolding::start_of_stream), deleting, BatchAction::write_stream_only },
        // A whole .ts without its line: compared in full, so that only the line is written when it is equal.
        PlanCase { "WholeStreamWithoutItsLineIsComparedInFull", facts(false, OutputHolding::whole_stream), plain, BatchAction::compare_in_full },
        PlanCase { "WholeStreamAnEarlierRecordingClaimsIsRefused", facts(false, OutputHolding::whole_stream, "dish1/news.rec"), plain,
            BatchAction::refuse, std::nullopt, BatchRefusal::output_claimed },
        // Another run holds the .ts file's lock: judged again at the end, whatever else is known now.
        PlanCase { "TsLockedElsewhereIsJudgedAgainLater", locked_elsewhere(false, OutputHolding::start_of_stream), plain,
            BatchAction::judge_again_later },
        PlanCase { "TsLockedElsewhereWithItsLineIsJudgedAgainLater", locked_elsewhere(true, OutputHolding::nothing), deleting,
            BatchAction::judge_again_later },
        // Missing: converted by another run with -k, when it was found in a folder or seen before; named on
        // the command line, a failure, as for a single run.
        // -b -t -s checks a converted archive; -b -s alone checks only what it converts.
        PlanCase { "CataloguedIsStillCheckedWithDashTDashS", facts(true, OutputHolding::nothing), checking_only, BatchAction::skip,
            SkipReason::already_catalogued, std::nullopt, false, true },
        PlanCase { "ConvertedIsSkippedUncheckedWithDashS", facts(true, OutputHolding::whole_stream), checking, BatchAction::skip,
            SkipReason::already_catalogued },
        PlanCase { "GoneFromItsFolderIsSkipped", opened(Opening::missing, true), plain, BatchAction::skip, SkipReason::gone },
        PlanCase { "MissingWhenNamedIsAFailure", opened(Opening::missing, false), plain, BatchAction::fail },
        PlanCase { "NamedAndGoneSinceAnEarlierLookIsSkipped", opened(Opening::missing, false, true), plain, BatchAction::skip, SkipReason::gone },
        PlanCase { "UnreadableIsAFailure", opened(Opening::other_failure, true), plain, BatchAction::fail },
        PlanCase { "BeingConvertedElsewhereIsSkipped", opened(Opening::locked_elsewhere, false), afresh, BatchAction::skip,
            SkipReason::being_converted }),
    [](const testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

TEST(BatchPlan, DashAIsSpentByTheFirstLineWritten)
{
    struct Row {
        BatchState state;
        bool line_written;
        bool start_afresh_after;
    };
    for (const Row& row : { Row { afresh, true, false }, Row { afresh, false, true }, Row { plain, true, false }, Row { plain, false, false } })
        EXPECT_EQ(after_turn(row.state, row.line_written).start_afresh, row.start_afresh_after) << row.state.start_afresh << row.line_written;
    BatchState kept = after_turn({ true, true, true }, true);
    EXPECT_TRUE(kept.skip_extraction && kept.delete_input);
}

// A recording's identity.

std::string header_line() { return std::string(catalogue_header_line()); }

const std::string example_line_tail =
    ",12,ABC,TV,12:45,13/10/1993,14:00,13/10/1993,01:15,\"News\",2174,0003,0102,1234,00a0,00a1,00a0,0064,\"Local news\",\n";

RecordingHeader example_header()
{
    return *RecordingHeader::parse(build_recording());
}

struct ProgressCase {
    const char* name;
    std::vector<std::optional<std::uint64_t>> sizes;
    std::vector<std::pair<std::size_t, std::uint64_t>> turns_done;  // the recording's number, and the bytes worked
    std::size_t number;  // the recording whose place is asked for
    double seconds;      // since the batch began
    std::optional<std::uint64_t> bytes_in_all;
    std::uint64_t bytes_done;
    std::optional<std::uint64_t> seconds_left;
};

void PrintTo(const ProgressCase& progress_case, std::ostream* stream) { *stream << progress_case.name; }

class Progress : public testing::TestWithParam<ProgressCase> { };

TEST_P(Progress, CountsTheWorkDoneAndTheTimeLeft)
{
    const ProgressCase& progress_case = GetParam();
    BatchProgress progress(progress_case.sizes);
    for (auto [number, worked] : progress_case.turns_done)
        progress.turn_done(number, worked);
    BatchPlace place = progress.place(progress_case.number, false, progress_case.seconds);
    EXPECT_EQ(place.number, progress_case.number);
    EXPECT_EQ(place.count, progress_case.sizes.size());
    EXPECT_EQ(place.size, progress_case.sizes[progress_case.number - 1]);
    EXPECT_EQ(place.bytes_in_all, progress_case.bytes_in_all);
    EXPECT_EQ(place.bytes_done, progress_case.bytes_done);
    EXPECT_EQ(place.seconds_left, progress_case.seconds_left);
}

INSTANTIATE_TEST_SUITE_P(Batch, Progress,
    testing::Values(ProgressCase { "StartsWithEverySize", { 100, 200 }, {}, 1, 0, 300, 0, std::nullopt },
        ProgressCase { "SkippedRecordingLeavesTheTotal", { 100, 200, 300 }, { { 1, 0 } }, 2, 5, 500, 0, std::nullopt },
        ProgressCase { "TimeLeftAtTheRateSoFar", { 100, 300 }, { { 1, 100 } }, 2, 2, 400, 100, 6 },
        ProgressCase { "TimeLeftIsRoundedUp", { 100, 301 }, { { 1, 100 } }, 2, 2, 401, 100, 7 },
        ProgressCase { "NoRateInTheFirstSecond", { 100, 300 }, { { 1, 100 } }, 2, 0.5, 400, 100, std::nullopt },
        ProgressCase { "UnknownSizeLeavesOutTotalAndTime", { 100, std::nullopt }, { { 1, 100 } }, 2, 2, std::nullopt, 100, std::nullopt },
        // A compare that found a difference, then the copy: both count, in the total too.
        ProgressCase { "WorkBeyondItsSizeCounts", { 100, 100 }, { { 1, 150 } }, 2, 1, 250, 150, 1 },
        // A recording that shrank meanwhile counts for what was read.
        ProgressCase { "WorkShortOfItsSizeCounts", { 100, 100 }, { { 1, 40 } }, 2, 4, 140, 40, 10 }),
    [](const testing::TestParamInfo<ProgressCase>& info) { return std::string(info.param.name); });

TEST(Progress, SizesAndTimesReadAsAPersonWouldSayThem)
{
    for (auto [bytes, said] : std::vector<std::pair<std::uint64_t, std::string>> { { 0, "0 bytes" }, { 1, "1 byte" }, { 1023, "1023 bytes" },
             { 1024, "1.0 KiB" }, { 1536, "1.5 KiB" }, { 1048575, "1.0 MiB" }, { 4600000000, "4.3 GiB" }, { 1ULL << 50, "1.0 PiB" },
             { ~0ULL, "16384.0 PiB" } })
        EXPECT_EQ(describe_size(bytes), said) << bytes;
    for (auto [seconds, said] : std::vector<std::pair<double, std::string>> { { 0, "0 s" }, { 0.44, "0.4 s" }, { 3, "3 s" }, { 9.96, "10 s" },
             { 45, "45 s" }, { 59.6, "1 min 0 s" }, { 185, "3 min 5 s" }, { 7800, "2 h 10 min" } })
        EXPECT_EQ(describe_duration(seconds), said) << seconds;
}

TEST(RecordingIdentity, EverySpellingOfAPathIsOneRecording)
{
    // Folders longer than any name are still only folders.
    // On every system: either system's separators, any case, and the trailing dots and spaces that
    // Windows drops from a name.
    std::vector<std::string> spellings { "news.rec", "./news.rec", "../archive/news.rec", "/srv/archive/news.rec", "archive//news.rec",
        std::string(2000, 'd') + "/news.rec", "Z:\\archive\\news.rec", "z:/archive/news.rec", "Z:\\archive/NEWS.REC", "archive\\News.Rec",
        "news.rec.", "news.rec ", "NEWS.REC. ." };
    RecordingKey key = recording_key("news.rec", example_header());
    for (const std::string& written : spellings) {
        EXPECT_EQ(recording_key(written, example_header()), key) << written;
        CatalogueHoldings holdings;
        holdings.feed(header_line() + written + example_line_tail);
        EXPECT_TRUE(holdings.holds(key)) << written;
    }
}

TEST(RecordingIdentity, OtherNamesAndBroadcastsAreOtherRecordings)
{
    RecordingFields other_event;
    other_event.event_id = 0x4321;
    RecordingFields other_start;
    other_start.start_time = 0xC0790C2E;
    RecordingFields other_service;
    other_service.service_id = 0x0103;
    CatalogueHoldings holdings;
    holdings.feed(header_line() + "archive/news.rec" + example_line_tail);
    for (const RecordingFields& fields : { other_event, other_start, other_service })
        EXPECT_FALSE(holdings.holds(recording_key("news.rec", *RecordingHeader::parse(build_recording(fields)))));
    EXPECT_FALSE(holdings.holds(recording_key("news2.rec", example_header())));
    EXPECT_FALSE(holdings.holds(recording_key("archive", example_header())));
}

TEST(RecordingIdentity, LinesAreReadAsTheCatalogueWritesThem)
{
    RecordingKey key = recording_key("news, late.rec", example_header());
    const std::string catalogue = header_line() + "older.rec,1,\"Chan, nel\",TV,\"quoted \"\"title\"\"\n" + "more\"" + example_line_tail
        + "\"dir/news, late.rec\"" + example_line_tail;
    // In pieces of every size, so that a piece ends inside every kind of field, quote and line.
    for (std::size_t piece = 1; piece <= catalogue.size(); piece += piece < 40 ? 1 : 97) {
        CatalogueHoldings holdings;
        for (std::size_t offset = 0; offset < catalogue.size(); offset += piece)
            holdings.feed(std::string_view(catalogue).substr(offset, piece));
        EXPECT_TRUE(holdings.holds(key)) << piece;
        EXPECT_EQ(holdings.size(), 2u) << piece;  // the quoted line break ends no line
    }
    // A quote inside a quoted Filename, doubled as the line writes it, is one quote of the name.
    CatalogueHoldings quoted;
    quoted.feed(header_line() + "\"dir/The \"\"Best\"\".rec\"" + example_line_tail);
    EXPECT_TRUE(quoted.holds(recording_key("The \"Best\".rec", example_header())));

    // A catalogue that says it is UTF-8, and a Filename written with an apostrophe in front.
    CatalogueHoldings marked;
    marked.feed(std::string(utf8_mark) + header_line() + "'-news.rec" + example_line_tail + "''quoted.rec" + example_line_tail);
    EXPECT_TRUE(marked.holds(recording_key("-news.rec", example_header())));
    EXPECT_TRUE(marked.holds(recording_key("'quoted.rec", example_header())));
    EXPECT_FALSE(marked.holds(recording_key("'-news.rec", example_header())));

    // A line cut short counts only once its line feed comes.
    CatalogueHoldings torn;
    std::string line = "\"news, late.rec\"" + example_line_tail;
    torn.feed(header_line() + line.substr(0, line.size() - 1));
    EXPECT_FALSE(torn.holds(key));
    torn.feed("\n");
    EXPECT_TRUE(torn.holds(key));
}

// Lines as the catalogue was written before it quoted anything: texts as they are, commas, quotes and
// line breaks in them.
std::string unescaped_line(const std::string& filename, const std::string& channel, const std::string& program,
    const std::string& description, const std::string& times = "12:45,13/10/1993,14:00,13/10/1993,01:15")
{
    return filename + ",12," + channel + ",TV," + times + ",\"" + program + "\",2174,0003,0102,1234,00a0,00a1,00a0,0064,\"" + description
        + "\",\n";
}

struct ReadingCase {
    const char* name;
    std::string lines;                     // after the header line
    std::vector<std::string> held;         // names the catalogue holds, of the example broadcast
    std::vector<std::string> not_held;
    std::size_t records;
};

void PrintTo(const ReadingCase& reading, std::ostream* stream) { *stream << reading.name; }

class CatalogueReading : public testing::TestWithParam<ReadingCase> { };

TEST_P(CatalogueReading, KnowsEveryLineWhateverWroteIt)
{
    const ReadingCase& reading = GetParam();
    const std::string catalogue = header_line() + reading.lines;
    // In pieces of several sizes, so that a piece ends inside every kind of field, quote and line.
    for (std::size_t piece : { std::size_t { 1 }, std::size_t { 7 }, std::size_t { 64 }, catalogue.size() }) {
        CatalogueHoldings holdings;
        for (std::size_t offset = 0; offset < catalogue.size(); offset += piece)
            holdings.feed(std::string_view(catalogue).substr(offset, piece));
        for (const std::string& name : reading.held)
            EXPECT_TRUE(holdings.holds(recording_key(name, example_header()))) << name << " in pieces of " << piece;
        for (const std::string& name : reading.not_held)
            EXPECT_FALSE(holdings.holds(recording_key(name, example_header()))) << name << " in pieces of " << piece;
        EXPECT_EQ(holdings.records(), reading.records) << piece;
    }
}

const std::string today_line = "\"today, late.rec\"" + example_line_tail;

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueReading,
    testing::Values(
        ReadingCase { "UnescapedQuotesAndCommasMixedWithQuotedLines",
            unescaped_line("Using a 5\" floppy.rec", "ABC", "News", "Local news") + today_line
                + unescaped_line("a, b.rec", "Chan, nel", "He said \"yes\", then left", "Desc, with \"quotes\"")
                + unescaped_line("\"quoted start.rec", "\"ABC", "\"", "\"\"") + unescaped_line("late.rec", "A,B,C", "\"News\"", "say \"hi\",")
                + today_line,
            { "Using a 5\" floppy.rec", "today, late.rec", "a, b.rec", "\"quoted start.rec", "late.rec" }, { "floppy.rec", "b.rec" }, 6 },
        // A quote opened in one line's Description and closed in a later one is one record.
        ReadingCase { "DescriptionOverSeveralLines",
            unescaped_line("multi.rec", "ABC", "News", "Part one\nPart \"two\"\nPart three") + unescaped_line("said.rec", "ABC", "News", "He said \"hi\nthere\"")
                + unescaped_line("after.rec", "ABC", "News", "x"),
            { "multi.rec", "said.rec", "after.rec" }, {}, 3 },
        // Cut by a crash after a line feed inside a quoted field, and appended to later without a
        // repair: the next line is still its own.
        ReadingCase { "LineCutAfterALineFeedInsideQuotes",
            "cut.rec,12,ABC,TV,12:45,13/10/1993,14:00,13/10/1993,01:15,\"News\",2174,0003,0102,1234,00a0,00a1,00a0,0064,\"Local\n"
                + unescaped_line("next.rec", "ABC", "News", "x") + "odd line, no shape at all\n" + unescaped_line("last.rec", "ABC", "News", "x"),
            { "next.rec", "last.rec" }, { "cut.rec" }, 4 },
        ReadingCase { "WindowsLine", "D:\\Archive\\recs\\film.rec" + example_line_tail + unescaped_line("C:\\rec\\NEWS.REC", "ABC", "x", "y"),
            { "film.rec", "/srv/recs/news.rec" }, { "Archive" }, 2 },
        ReadingCase { "NamesInOtherLetters",
            "\xC3\x89T\xC3\x89.rec" + example_line_tail + "\xD0\x94\xD0\x9E\xD0\x9A.rec" + example_line_tail + "\xCE\x9D\xCE\x95\xCE\xA3.rec"
                + example_line_tail,
            { "\xC3\xA9t\xC3\xA9.rec", "\xD0\xB4\xD0\xBE\xD0\xBA.rec", "\xCE\xBD\xCE\xB5\xCF\x82.rec" }, { "ete.rec" }, 3 },
        // A name's bytes that are no UTF-8 are read as ISO 8859-1, on both sides.
        ReadingCase { "Latin1Name", "Caf\xC3\xA9.rec" + example_line_tail + "\xC9t\xE9.rec" + example_line_tail,
            { "Caf\xE9.rec", "CAF\xC3\x89.rec", "\xC3\xA9t\xC3\xA9.rec" }, { "Cafe.rec" }, 2 },
        // Too long to be read again, a line is read as CSV alone: a quote inside a field is a quote there.
        ReadingCase { "LongLineWithAQuoteInsideAField",
            unescaped_line("a 5\" floppy.rec", "ABC", "N", std::string(200 * 1024, 'd')) + unescaped_line("b.rec", "A\"B", "N", "D"),
            { "a 5\" floppy.rec", "b.rec" }, {}, 2 },
        ReadingCase { "OddWidthTimes",
            unescaped_line("wide.rec", "ABC", "N", "D", "12:45,13/10/1993,200:05,113/10/19930,100:15") + "\"quoted.rec\",12,ABC,TV,12:45,13/10/1993,"
                + "14:00,13/10/10000,255:255,\"N\",2174,0003,0102,1234,00a0,00a1,00a0,0064,\"D\",\n",
            { "wide.rec", "quoted.rec" }, {}, 2 }),
    [](const testing::TestParamInfo<ReadingCase>& info) { return std::string(info.param.name); });

TEST(RecordingIdentity, WhatIsNotACatalogueHoldsNothing)
{
    for (const std::string& text : { "Filename,Camera,\nnews.rec" + example_line_tail, "news.rec" + example_line_tail,
             header_line().substr(0, 20) + "\nnews.rec" + example_line_tail }) {
        CatalogueHoldings holdings;
        holdings.feed(text);
        EXPECT_EQ(holdings.size(), 0u) << text;
    }
    // A field too long to be any file's name or any identifier names no recording, and costs nothing.
    CatalogueHoldings long_fields;
    long_fields.feed(header_line() + std::string(5000, 'n') + example_line_tail);
    EXPECT_EQ(long_fields.size(), 0u);
}

// What a .ts file holds.

TEST(ComparedBlocks, CoverBothEndsAndSixteenPagesBetween)
{
    for (std::uint64_t size : { std::uint64_t { 1 }, std::uint64_t { 65536 }, std::uint64_t { 65537 }, std::uint64_t { 131072 },
             std::uint64_t { 131073 }, std::uint64_t { 200000 }, std::uint64_t { 5 } << 30 }) {
        std::vector<ByteRange> blocks = compared_blocks(size);
        std::uint64_t bytes = 0;
        for (const ByteRange& block : blocks) {
            EXPECT_LE(block.offset + block.length, size) << size;
            bytes += block.length;
        }
        EXPECT_EQ(blocks.front().offset, 0u) << size;
        EXPECT_EQ(blocks.front().length, std::min<std::uint64_t>(size, 65536)) << size;
        EXPECT_EQ(blocks.back().offset + blocks.back().length, size) << size;
        EXPECT_LE(bytes, 192u * 1024) << size;
        if (size > 131072 + 16 * 4096) {
            EXPECT_EQ(blocks.size(), 18u) << size;
            EXPECT_EQ(bytes, 192u * 1024) << size;
            for (std::size_t block = 1; block + 1 < blocks.size(); ++block)
                EXPECT_EQ(blocks[block].offset % 4096, 0u) << size;
        }
    }
}

using Bytes = std::vector<std::uint8_t>;

struct HoldingCase {
    const char* name;
    std::optional<Bytes> (*contents)(const Bytes& stream);
    OutputHolding expected;
    bool from_a_pipe = false;
    bool with_a_hole = false;  // a hole in the .ts file, between the blocks compared
};

void PrintTo(const HoldingCase& holding_case, std::ostream* stream) { *stream << holding_case.name; }

class OutputJudging : public testing::TestWithParam<HoldingCase> { };

// A page-aligned 32 KiB that no compared block touches.
ByteRange between_compared_blocks(std::uint64_t size)
{
    std::vector<ByteRange> blocks = compared_blocks(size);
    for (std::size_t block = 0; block + 1 < blocks.size(); ++block) {
        std::uint64_t start = (blocks[block].offset + blocks[block].length + 4095) / 4096 * 4096;
        if (start + 32768 <= blocks[block + 1].offset)
            return { start, 32768 };
    }
    return {};
}

TEST_P(OutputJudging, TellsWhatTheFileHolds)
{
    const HoldingCase& holding = GetParam();
#ifdef _WIN32
    if (holding.with_a_hole)
        GTEST_SKIP() << "this system's files are judged without looking for holes";
#endif
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 1 << 20);
    std::vector<std::uint8_t> stream(recording.begin() + 3760, recording.end());
    write_file(folder / "a.rec", recording);
    if (std::optional<Bytes> contents = holding.contents(stream)) {
        if (!holding.with_a_hole) {
            write_file(folder / "a.ts", *contents);
        } else {
            // Written up to the hole, then on from its end: what lies between was never written.
            ByteRange hole = between_compared_blocks(contents->size());
            ASSERT_GT(hole.length, 0u);
            write_file(folder / "a.ts", Bytes(contents->begin(), contents->begin() + static_cast<std::ptrdiff_t>(hole.offset)));
            std::fstream file(folder / "a.ts", std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(static_cast<std::streamoff>(hole.offset + hole.length));
            file.write(reinterpret_cast<const char*>(contents->data() + hole.offset + hole.length),
                static_cast<std::streamsize>(contents->size() - hole.offset - hole.length));
            ASSERT_TRUE(file.flush());
        }
    }
    File input = open_for_reading((folder / "a.rec").string());
    StreamSource opened { input.native(), "a.rec", identify(input.native()), holding.from_a_pipe, {} };
    Expected<OutputHolding, int> judgement = judge_output_path(opened, (folder / "a.ts").string());
    ASSERT_TRUE(judgement);
    EXPECT_EQ(*judgement, holding.expected);
}

Bytes first_bytes(const Bytes& stream, std::size_t length)
{
    return Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
}

INSTANTIATE_TEST_SUITE_P(Archive, OutputJudging,
    testing::Values(
        HoldingCase { "Missing", [](const Bytes&) -> std::optional<Bytes> { return std::nullopt; }, OutputHolding::nothing },
        HoldingCase { "Empty", [](const Bytes&) -> std::optional<Bytes> { return Bytes {}; }, OutputHolding::nothing },
        // A full-size file of zeros, as a crash can leave it, holds nothing of anybody's.
        HoldingCase { "Zeros", [](const Bytes& stream) -> std::optional<Bytes> { return Bytes(stream.size(), 0); }, OutputHolding::nothing },
        HoldingCase { "Whole", [](const Bytes& stream) -> std::optional<Bytes> { return stream; }, OutputHolding::whole_stream },
        HoldingCase { "CutShort", [](const Bytes& stream) -> std::optional<Bytes> { return first_bytes(stream, 300000); },
            OutputHolding::start_of_stream },
        HoldingCase { "ShorterThanTheComparedStart", [](const Bytes& stream) -> std::optional<Bytes> { return first_bytes(stream, 100); },
            OutputHolding::start_of_stream },
        // The last pages written before a crash were left zero.
        HoldingCase { "CutShortWithAZeroTail", [](const Bytes& stream) -> std::optional<Bytes> {
                         Bytes cut = first_bytes(stream, 400000);
                         std::fill(cut.begin() + 96 * 4096, cut.end(), 0);
                         return cut;
                     },
            OutputHolding::start_of_stream },
        // Full size but with pages a crash left empty, past the compared start.
        HoldingCase { "FullSizePartlyEmpty", [](const Bytes& stream) -> std::optional<Bytes> {
                         Bytes spoilt = stream;
                         std::fill(spoilt.begin() + 4096 * 120, spoilt.begin() + 4096 * 180, 0);
                         return spoilt;
                     },
            OutputHolding::start_of_stream },
        // Another recording's stream that begins with the same 64 KiB of padding, as a recorder writes it.
        HoldingCase { "SharedStartOfAnotherStream", [](const Bytes& stream) -> std::optional<Bytes> {
                         Bytes other = first_bytes(stream, 600000);
                         for (std::size_t index = 65536; index < other.size(); ++index)
                             other[index] ^= 0x5A;
                         return other;
                     },
            OutputHolding::something_else },
        HoldingCase { "OneByteLonger", [](const Bytes& stream) -> std::optional<Bytes> {
                         Bytes longer = stream;
                         longer.push_back(0x47);
                         return longer;
                     },
            OutputHolding::something_else },
        HoldingCase { "AnotherStreamOfTheSameSize", [](const Bytes& stream) -> std::optional<Bytes> {
                         Bytes other = stream;
                         other[1000] ^= 0xFF;
                         return other;
                     },
            OutputHolding::something_else },
        // Full size, equal wherever compared, but a part between was never written.
        HoldingCase { "FullSizeWithAHole", [](const Bytes& stream) -> std::optional<Bytes> { return stream; }, OutputHolding::start_of_stream,
            false, true },
        // What a pipe gave cannot be read again: a file with anything in it is never taken for its stream.
        HoldingCase { "FromAPipe", [](const Bytes& stream) -> std::optional<Bytes> { return stream; }, OutputHolding::something_else, true },
        HoldingCase { "NothingFromAPipe", [](const Bytes&) -> std::optional<Bytes> { return Bytes {}; }, OutputHolding::nothing, true }),
    [](const testing::TestParamInfo<HoldingCase>& info) { return std::string(info.param.name); });

// The catalogue as a batch follows it.

TEST(ContentHash, IsTheSameInPiecesOfAnySizeAndTellsOneByteApart)
{
    std::string text;
    for (int index = 0; index < 300; ++index)
        text += static_cast<char>(index * 37 % 251);
    ContentHash whole;
    whole.feed(text);
    for (std::size_t piece = 1; piece <= 70; ++piece) {
        ContentHash pieces;
        for (std::size_t offset = 0; offset < text.size(); offset += piece)
            pieces.feed(std::string_view(text).substr(offset, piece));
        EXPECT_EQ(pieces.value(), whole.value()) << piece;
    }
    for (std::size_t at : { std::size_t { 0 }, std::size_t { 7 }, std::size_t { 8 }, std::size_t { 31 }, std::size_t { 299 } }) {
        std::string other = text;
        other[at] ^= 1;
        ContentHash changed;
        changed.feed(other);
        EXPECT_NE(changed.value()[0], whole.value()[0]) << at;
        EXPECT_NE(changed.value()[1], whole.value()[1]) << at;
    }
    // A zero byte more is another length.
    ContentHash longer;
    longer.feed(text + std::string(1, '\0'));
    EXPECT_NE(longer.value(), whole.value());
}

TEST(CatalogueWatch, ReadsOnOrStartsOverWhenTheFileIsAnother)
{
    ScratchFolder folder;
    std::string path = (folder / "list.csv").string();
    auto key = [](const std::string& name) { return recording_key(name, example_header()); };
    auto append = [&path](const std::string& text) { write_file(path, read_file_text(path) + text); };
    CatalogueWatch watch(path);

    ASSERT_TRUE(watch.catch_up({}));
    EXPECT_FALSE(watch.holds(key("a.rec")));
    write_file(path, header_line() + "a.rec" + example_line_tail);
    ASSERT_TRUE(watch.catch_up({}));
    EXPECT_TRUE(watch.holds(key("a.rec")));
    append("b.rec" + example_line_tail);
    ASSERT_TRUE(watch.catch_up({}));
    EXPECT_TRUE(watch.holds(key("a.rec")) && watch.holds(key("b.rec")));

    // Emptied and written again in place, longer than before (another run's -a): read again whole.
    std::filesystem::resize_file(path, 0);
    append(header_line() + "c.rec" + example_line_tail + "d.rec" + example_line_tail + "e.rec" + example_line_tail);
    ASSERT_TRUE(watch.catch_up({}));
    EXPECT_FALSE(watch.holds(key("a.rec")));
    EXPECT_TRUE(watch.holds(key("c.rec")) && watch.holds(key("e.rec")));

    // Emptied and written again in place by another run's -a, at the same length and with the same last
    // 256 bytes: a daily programme's line, under another name of the same length.
    const std::string long_tail = example_line_tail.substr(0, example_line_tail.size() - 14) + "\"" + std::string(300, 'd') + "\",\n";
    write_file(path, header_line() + "x.rec" + long_tail);
    ASSERT_TRUE(watch.catch_up({}));
    EXPECT_TRUE(watch.holds(key("x.rec")));
    std::filesystem::resize_file(path, 0);
    append(header_line() + "y.rec" + long_tail);
    ASSERT_TRUE(watch.catch_up({}));
    EXPECT_TRUE(watch.holds(key("y.rec")));
    EXPECT_FALSE(watch.holds(key("x.rec")));
    write_file(path, header_line() + "c.rec" + example_line_tail + "d.rec" + example_line_tail + "e.rec" + example_line_tail);
    ASSERT_TRUE(watch.catch_up({}));

    // Another file put in its place, as an editor saves one, with its first line changed and the
    // rest as it was.
    std::string saved = read_file_text(path);
    saved.replace(saved.find("c.rec"), 5, "f.rec");
    write_file(folder / "saved.csv", saved);
    std::filesystem::rename(folder / "saved.csv", path);
    ASSERT_TRUE(watch.catch_up({}));
    EXPECT_TRUE(watch.holds(key("f.rec")));
    EXPECT_FALSE(watch.holds(key("c.rec")));
    // What was read before the file changed is gone with it, however short the new one is.
    write_file(folder / "saved.csv", header_line());
    std::filesystem::rename(folder / "saved.csv", path);
    ASSERT_TRUE(watch.catch_up({}));
    EXPECT_FALSE(watch.holds(key("c.rec")) || watch.holds(key("f.rec")));
}

TEST(CatalogueWatch, LineAnotherRunWroteMeanwhileIsNotWrittenTwice)
{
    // The batch looked at the catalogue before another run, one that could not be kept out by the
    // recording's lock (over NFS), appended this recording's line: the look under the catalogue's lock,
    // just before the append, finds it.
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording({}, 1000));
    std::string catalogue = (folder / "list.csv").string();
    write_file(catalogue, header_line());
    CatalogueWatch watch(catalogue);
    ASSERT_TRUE(watch.catch_up({}));

    RunOptions options;
    options.input_path = (folder / "a.rec").string();
    options.catalogue_path = catalogue;
    options.skip_extraction = true;
    CapturedConsole console;
    ConsoleReporter reporter(console.console());
    LockedRecording recording;
    ASSERT_TRUE(open_recording(options, reporter, recording));
    const std::string meanwhile = header_line() + options.input_path + example_line_tail;
    write_file(catalogue, meanwhile);

    ConversionResult result = convert_opened(recording, options, { false, OutputGuard::batch_name, &watch }, reporter);
    EXPECT_EQ(result.outcome, ConversionOutcome::skipped);
    EXPECT_EQ(read_file_text(catalogue), meanwhile);
    EXPECT_EQ(console.text(), "\nReading " + options.input_path + "\nreading header ...\nappending " + catalogue + "\nskipping "
            + options.input_path + ": already in " + catalogue);
}

}
