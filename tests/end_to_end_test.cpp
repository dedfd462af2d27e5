// Runs the built program on recordings in a scratch folder and checks its whole output, its exit status
// and the files it leaves.

#include "catalogue/catalogue.h"
#include "recording/recording_header.h"
#include "support/csv_reader.h"
#include "support/json_reader.h"
#include "support/process_runner.h"
#include "support/recording_builder.h"
#include "support/scratch_folder.h"
#include "support/usage_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// -1 as the shell sees it, and as Windows reports it; and what the system writes between a folder and a
// name, as a batch spells the recordings it finds.
#ifdef _WIN32
constexpr int failure_status = -1;
const std::string separator = "\\";
#else
constexpr int failure_status = 255;
const std::string separator = "/";
#endif

// The tests guarded with _WIN32 below run the program through a POSIX shell, for pipes, redirections
// and closed descriptors, or use /dev/full; the rest run on every system.

const std::string usage_text = expected_usage_text;

const std::string example_line =
    "a.rec,12,ABC,TV,12:45,13/10/1993,14:00,13/10/1993,01:15,\"News\",2174,0003,0102,1234,00a0,00a1,00a0,0064,\"Local news\",\n";

// The example line for a recording given under another name.
std::string example_line_for(const std::string& input_path)
{
    std::string line = input_path;
    line.append(example_line, 5);
    return line;
}

std::set<std::string> listing(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::vector<std::uint8_t> stream_part(const std::vector<std::uint8_t>& recording)
{
    return { recording.begin() + 3760, recording.end() };
}

// Each line of a text, its line feed kept.
std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string header_and(const std::string& lines)
{
    return std::string(catalogue_header_line()) + lines;
}

TEST(EndToEnd, NoArgumentsConvertsTheDefaultFiles)
{
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 1000);
    write_file(folder / "test.rec", recording);

    ProcessResult result = run_pelorus({}, folder.path());
    EXPECT_EQ(result.output,
        "\nReading test.rec\nreading header ...\nWriting test.ts\nprocessing file ..... done"
        "\ncreating rec.csv\nappending rec.csv\nall done");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file_bytes(folder / "test.ts"), stream_part(recording));
    EXPECT_EQ(read_file_text(folder / "rec.csv"), header_and(example_line_for("test.rec")));
    EXPECT_EQ(read_file_bytes(folder / "test.rec"), recording);
}

TEST(EndToEnd, BundledSampleConverts)
{
    ScratchFolder folder;
    std::filesystem::copy_file(PELORUS_SAMPLE_RECORDING, folder / "test.rec");
    ProcessResult result = run_pelorus({}, folder.path());
    EXPECT_EQ(result.output,
        "\nReading test.rec\nreading header ...\nWriting test.ts\nprocessing file ..... done"
        "\ncreating rec.csv\nappending rec.csv\nall done");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file_bytes(folder / "test.ts"), stream_part(read_file_bytes(folder / "test.rec")));
    EXPECT_EQ(read_file_text(folder / "rec.csv"),
        header_and("test.rec,801,Harbour Light TV,TV,05:55,14/03/2026,06:00,14/03/2026,00:05,\"Test Card and Tone\","
                   "ff01,0007,0c81,5a3c,0101,0102,0101,0100,"
                   "\"Colour bars with a 1 kHz line-up tone, shown before the morning programmes begin.\",\n"));
}

TEST(EndToEnd, StreamCheckReportsAfterTheCopyOrInsteadOfIt)
{
    ScratchFolder folder;
    std::filesystem::copy_file(PELORUS_SAMPLE_RECORDING, folder / "test.rec");
    const std::string line = "\nstream: 7544 packets, no errors, 00:00:06 by PCR";
    ProcessResult copied = run_pelorus({ "-s" }, folder.path());
    EXPECT_EQ(copied.output, "\nReading test.rec\nreading header ...\nWriting test.ts\nprocessing file ..... done" + line
            + "\ncreating rec.csv\nappending rec.csv\nall done");
    EXPECT_EQ(copied.exit_status, 0);
    EXPECT_EQ(read_file_bytes(folder / "test.ts"), stream_part(read_file_bytes(folder / "test.rec")));

    ProcessResult checked = run_pelorus({ "-t", "-s", "-a", "-c", "only.csv" }, folder.path());
    EXPECT_EQ(checked.output, "\nReading test.rec\nreading header ...\nchecking stream ..... done" + line
            + "\ncreating only.csv\nappending only.csv\nall done");
    EXPECT_EQ(checked.exit_status, 0);
    EXPECT_EQ(read_file_text(folder / "only.csv"), read_file_text(folder / "rec.csv"));
}

TEST(EndToEnd, UsageTextOpensNothing)
{
    // A flag with more after its letter once deleted the recording (-keep) or emptied the catalogue
    // (-append).
    for (std::vector<std::string> arguments : { std::vector<std::string> { "a.rec", "-x", "b.ts" },
             { "/x" }, { "a.rec", "-o" }, { "-T" }, { "-keep", "a.rec" }, { "-append", "-t", "a.rec", "-c", "list.csv" },
             { "-tk", "a.rec" }, { "-b" }, { "-b", "-c", "list.csv", "-o", "video" } }) {
        ScratchFolder folder;
        std::vector<std::uint8_t> recording = build_recording({}, 100);
        write_file(folder / "a.rec", recording);
        write_file(folder / "list.csv", header_and(example_line));
        ProcessResult result = run_pelorus(arguments, folder.path());
        EXPECT_EQ(result.output, usage_text);
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(listing(folder.path()), (std::set<std::string> { "a.rec", "list.csv" }));
        EXPECT_EQ(read_file_bytes(folder / "a.rec"), recording);
        EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(example_line));
    }
}

TEST(EndToEnd, HelpAndVersionAreNotErrors)
{
    ScratchFolder folder;
    ProcessResult help = run_pelorus({ "--help" }, folder.path());
    EXPECT_EQ(help.output, usage_text);
    EXPECT_EQ(help.exit_status, 0);
    ProcessResult version = run_pelorus({ "--version" }, folder.path());
    EXPECT_EQ(version.output, usage_text.substr(0, usage_text.find("\n=")));
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_TRUE(listing(folder.path()).empty());
}

TEST(EndToEnd, AbsolutePathsArePaths)
{
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 1000);
    write_file(folder / "x.rec", recording);
    write_file(folder / "test.rec", recording);
    std::string base = folder.path().string() + "/";
    ProcessResult result = run_pelorus({ base + "x.rec", base + "x.ts", base + "x.csv" }, folder.path());
    EXPECT_EQ(result.output, "\nReading " + base + "x.rec\nreading header ...\nWriting " + base + "x.ts\nprocessing file ..... done"
            + "\ncreating " + base + "x.csv\nappending " + base + "x.csv\nall done");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file_bytes(folder / "x.ts"), stream_part(recording));
    EXPECT_EQ(read_file_text(folder / "x.csv"), header_and(example_line_for(base + "x.rec")));

    // Once read as /k, this deleted the default recording.
    ProcessResult missing = run_pelorus({ "/keep/a.rec" }, folder.path());
    EXPECT_EQ(missing.output, "\nReading /keep/a.rec\nerror: cannot open /keep/a.rec: No such file or directory");
    EXPECT_EQ(missing.exit_status, failure_status);
    EXPECT_EQ(read_file_bytes(folder / "test.rec"), recording);
    EXPECT_EQ(listing(folder.path()), (std::set<std::string> { "test.rec", "x.rec", "x.ts", "x.csv" }));
}

#ifndef _WIN32
TEST(EndToEnd, StreamOrCatalogueOnStandardOutputGetsItAlone)
{
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 3 << 20);
    write_file(folder / "a.rec", recording);
    const std::string messages = "\nReading a.rec\nreading header ...\nWriting /dev/stdout\nprocessing file ..... done"
                                 "\ncreating list.csv\nappending list.csv\nall done";

    // Into a file that standard output is redirected to, and into a pipe.
    ProcessResult into_file = run_process({ "/bin/sh", "-c", "\"" PELORUS_BINARY "\" -i a.rec -o /dev/stdout -c list.csv > out.ts 2> messages" }, folder.path());
    EXPECT_EQ(into_file.exit_status, 0);
    EXPECT_TRUE(read_file_bytes(folder / "out.ts") == stream_part(recording));
    EXPECT_EQ(read_file_text(folder / "messages"), messages);

    ProcessResult into_pipe = run_process({ "/bin/sh", "-c", "\"" PELORUS_BINARY "\" -a -i a.rec -o /dev/stdout -c list.csv 2> messages" }, folder.path());
    EXPECT_EQ(into_pipe.exit_status, 0);
    EXPECT_TRUE(std::vector<std::uint8_t>(into_pipe.output.begin(), into_pipe.output.end()) == stream_part(recording));
    EXPECT_EQ(read_file_text(folder / "messages"), messages);

    ProcessResult line = run_process({ "/bin/sh", "-c", "\"" PELORUS_BINARY "\" -t -i a.rec -c /dev/stdout 2> messages" }, folder.path());
    EXPECT_EQ(line.exit_status, 0);
    EXPECT_EQ(line.output, example_line);
    EXPECT_EQ(read_file_text(folder / "messages"), "\nReading a.rec\nreading header ...\nappending /dev/stdout\nall done");

    // Both standard streams the stream, or the catalogue: the messages are written nowhere.
    ProcessResult both = run_process({ "/bin/sh", "-c", "\"" PELORUS_BINARY "\" -i a.rec -o /dev/stdout -c list.csv > both.ts 2>&1" }, folder.path());
    EXPECT_EQ(both.exit_status, 0);
    EXPECT_TRUE(read_file_bytes(folder / "both.ts") == stream_part(recording));
    write_file(folder / "lines.csv", header_and(""));
    ProcessResult lines = run_process({ "/bin/sh", "-c", "\"" PELORUS_BINARY "\" -t -i a.rec -c /dev/stdout >> lines.csv 2>&1" }, folder.path());
    EXPECT_EQ(lines.exit_status, 0);
    EXPECT_EQ(read_file_text(folder / "lines.csv"), header_and(example_line));

    // Standard output the recording itself: it is never written, even by a redirection.
    ProcessResult into_recording = run_process({ "/bin/sh", "-c", "\"" PELORUS_BINARY "\" -a a.rec a.ts list.csv >> a.rec 2> messages" }, folder.path());
    EXPECT_EQ(into_recording.exit_status, 0);
    EXPECT_TRUE(read_file_bytes(folder / "a.rec") == recording);
    EXPECT_EQ(read_file_text(folder / "messages"), "\nReading a.rec\nreading header ...\nWriting a.ts\nprocessing file ..... done"
                                                  "\ncreating list.csv\nappending list.csv\nall done");
}
#endif

#ifndef _WIN32
TEST(EndToEnd, ReaderThatQuitsIsAWriteError)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording({}, 3 << 20));
    ProcessResult result = run_process({ "/bin/bash", "-c",
        "\"" PELORUS_BINARY "\" -i a.rec -o /dev/stdout -c list.csv 2> messages | head -c 1 > /dev/null; echo ${PIPESTATUS[0]}" }, folder.path());
    EXPECT_EQ(result.output, "255\n");
    EXPECT_EQ(read_file_text(folder / "messages"),
        "\nReading a.rec\nreading header ...\nWriting /dev/stdout\nprocessing file ...\nerror: cannot write /dev/stdout: Broken pipe");
    EXPECT_FALSE(std::filesystem::exists(folder / "list.csv"));
}
#endif

#ifndef _WIN32
TEST(EndToEnd, ClosedStandardDescriptorsTakeNoFile)
{
    // Started with the standard descriptors closed, the recording and the .ts file would get
    // descriptors 0 and 1, and the messages would go into the stream or nowhere.
    ScratchFolder folder;
    std::string name(200, 'r');
    std::vector<std::uint8_t> recording = build_recording({}, 1 << 20);
    write_file(folder / (name + ".rec"), recording);
    ProcessResult result = run_process({ "/bin/sh", "-c", "\"" PELORUS_BINARY "\" " + name + ".rec " + name + ".ts list.csv <&- >&- 2>&-; echo \" [$?]\"" },
        folder.path());
    EXPECT_EQ(result.output, " [0]\n");
    EXPECT_TRUE(read_file_bytes(folder / (name + ".ts")) == stream_part(recording));
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(example_line_for(name + ".rec")));
}
#endif

#ifndef _WIN32
TEST(EndToEnd, MessagesThatCannotBeWrittenFailTheRunAfterTheWork)
{
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 1000);
    write_file(folder / "a.rec", recording);
    // Standard output on a full device, and on a pipe whose reader has already gone.
    for (const std::string& redirect : { std::string("> /dev/full"), std::string("| true") }) {
        std::string script = "{ sleep 0.2; \"" PELORUS_BINARY "\" -a a.rec a.ts list.csv 2> errors; echo $? > status; } " + redirect;
        run_process({ "/bin/sh", "-c", script }, folder.path());
        EXPECT_EQ(read_file_text(folder / "status"), "255\n") << redirect;
        EXPECT_EQ(read_file_text(folder / "errors"), "pelorus: cannot write messages: "
                + std::string(redirect[0] == '>' ? "No space left on device" : "Broken pipe") + "\n") << redirect;
        EXPECT_EQ(read_file_bytes(folder / "a.ts"), stream_part(recording)) << redirect;
        EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(example_line)) << redirect;
    }
}
#endif

TEST(EndToEnd, InputThatCannotBeReadSaysWhy)
{
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "adir");
    ProcessResult missing = run_pelorus({ "missing.rec", "out.ts", "list.csv" }, folder.path());
    EXPECT_EQ(missing.output, "\nReading missing.rec\nerror: cannot open missing.rec: No such file or directory");
    EXPECT_EQ(missing.exit_status, failure_status);
    // A folder opens, but it is no recording that could be judged: its header cannot be read.
    ProcessResult folder_input = run_pelorus({ "adir", "out.ts", "list.csv" }, folder.path());
    EXPECT_EQ(folder_input.output, "\nReading adir\nreading header ...\nerror: cannot read adir: Is a directory");
    EXPECT_EQ(folder_input.exit_status, failure_status);
    EXPECT_EQ(listing(folder.path()), std::set<std::string> { "adir" });
}

#ifndef _WIN32
TEST(EndToEnd, RecordingFromAPipeGivesWhatTheFileGives)
{
    // Streams of 0 bytes (no sync byte: not a recording), 1 byte, exactly one chunk, and 20 MiB.
    for (std::size_t stream_length : { std::size_t { 0 }, std::size_t { 1 }, std::size_t { 16 } << 20, std::size_t { 20 } << 20 }) {
        ScratchFolder folder;
        std::vector<std::uint8_t> recording = build_recording({}, stream_length);
        write_file(folder / "a.rec", recording);
        ProcessResult from_file = run_pelorus({ "-i", "a.rec", "-o", "file.ts", "-c", "file.csv" }, folder.path());
        ProcessResult from_pipe = run_process({ "/bin/sh", "-c", "cat a.rec | \"" PELORUS_BINARY "\" -i /dev/stdin -o pipe.ts -c pipe.csv; echo \" [$?]\"" },
            folder.path());

        std::string expected = from_file.output;
        for (auto [from, to] : { std::pair<std::string, std::string> { "a.rec", "/dev/stdin" }, { "file.", "pipe." } })
            for (std::size_t at; (at = expected.find(from)) != std::string::npos;)
                expected.replace(at, from.size(), to);
        EXPECT_EQ(from_pipe.output, expected + " [" + std::to_string(from_file.exit_status) + "]\n") << stream_length;
        if (stream_length == 0) {
            EXPECT_EQ(from_file.exit_status, failure_status);
            continue;
        }
        EXPECT_EQ(from_file.exit_status, 0);
        EXPECT_TRUE(read_file_bytes(folder / "pipe.ts") == stream_part(recording)) << stream_length;
        EXPECT_EQ(read_file_text(folder / "pipe.csv"), header_and(example_line_for("/dev/stdin"))) << stream_length;
    }
}
#endif

TEST(EndToEnd, EmptyPathIsAMissingFileNotTheDefault)
{
    ScratchFolder folder;
    write_file(folder / "test.rec", build_recording({}, 100));
    ProcessResult result = run_pelorus({ "" }, folder.path());
    EXPECT_EQ(result.output, "\nReading \nerror: cannot open : No such file or directory");
    EXPECT_EQ(result.exit_status, failure_status);
    EXPECT_EQ(listing(folder.path()), std::set<std::string> { "test.rec" });
}

TEST(EndToEnd, RejectedHeadersLeaveNoOutput)
{
    struct Spoil {
        const char* name;
        void (*apply)(std::vector<std::uint8_t>&);
        const char* reason;
    };
    for (Spoil spoil : { Spoil { "magic", [](auto& bytes) { bytes[0] = 't'; }, "it does not begin with TFrc" },
             Spoil { "version least significant byte first", [](auto& bytes) { put_u16(bytes, 4, 0x0050); }, "format version 0x0050 is unknown" },
             Spoil { "sync byte", [](auto& bytes) { bytes[3760] = 0; }, "no transport stream at offset 3760" },
             Spoil { "3760 bytes", [](auto& bytes) { bytes.resize(3760); }, "it is 3760 bytes long, too short for a recording" },
             Spoil { "cut inside the header", [](auto& bytes) { bytes.resize(3000); }, "it is 3000 bytes long, too short for a recording" },
             Spoil { "empty", [](auto& bytes) { bytes.clear(); }, "it is 0 bytes long, too short for a recording" },
             Spoil { "cut to 2 bytes", [](auto& bytes) { bytes.resize(2); }, "it is 2 bytes long, too short for a recording" } }) {
        ScratchFolder folder;
        std::vector<std::uint8_t> recording = build_recording({}, 1000);
        spoil.apply(recording);
        write_file(folder / "a.rec", recording);
        ProcessResult result = run_pelorus({ "a.rec", "a.ts", "list.csv" }, folder.path());
        EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nerror: bad .rec file: " + std::string(spoil.reason)) << spoil.name;
        EXPECT_EQ(result.exit_status, failure_status) << spoil.name;
        EXPECT_EQ(listing(folder.path()), std::set<std::string> { "a.rec" }) << spoil.name;
    }
}

TEST(EndToEnd, SmallestRecordingGivesOneByteStream)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording());
    ProcessResult result = run_pelorus({ "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(result.output,
        "\nReading a.rec\nreading header ...\nWriting a.ts\nprocessing file ..... done"
        "\ncreating list.csv\nappending list.csv\nall done");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file_bytes(folder / "a.ts"), std::vector<std::uint8_t> { 0x47 });
}

TEST(EndToEnd, PathsWithBracketsAndSpacesAreUsedWhole)
{
    ScratchFolder folder;
    write_file(folder / "News [HD].rec", build_recording({}, 10));
    ProcessResult result = run_pelorus({ "News [HD].rec", "rec]1.ts", "a, b.csv" }, folder.path());
    EXPECT_EQ(result.exit_status, 0) << result.output;
    EXPECT_EQ(listing(folder.path()), (std::set<std::string> { "News [HD].rec", "rec]1.ts", "a, b.csv" }));
    EXPECT_EQ(read_file_text(folder / "a, b.csv"), header_and(example_line_for("News [HD].rec")));
}

TEST(EndToEnd, DashUWritesTextsInUtf8)
{
    ScratchFolder folder;
    RecordingFields fields;
    fields.channel_name = std::string("\x11\x00H\x00\xFC\x04\x10", 7);       // two-byte table: "Hü" and Cyrillic A
    fields.event_name = std::string("\x10\x00\x02\xA3\xF3" "d\xBC", 7);            // 8859-2 by number: "Łódź"
    fields.event_description = "\x86" "Cafe\x87, ends at \xA4" "5\x8Anext line";  // default table
    write_file(folder / "a.rec", build_recording(fields, 100));
    ProcessResult result = run_pelorus({ "-u", "-t", "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(result.exit_status, 0) << result.output;

    // A catalogue made with -u says so, with the UTF-8 mark before its header line.
    std::string catalogue = read_file_text(folder / "list.csv");
    ASSERT_EQ(catalogue.substr(0, catalogue_start_length()), std::string(utf8_mark) + std::string(catalogue_header_line()));
    std::vector<std::string> columns = parse_csv_record(catalogue.substr(catalogue_start_length()));
    ASSERT_EQ(columns.size(), 20u);
    EXPECT_EQ(columns[0], "a.rec");
    EXPECT_EQ(columns[2], "H\u00FC\u0410");
    EXPECT_EQ(columns[9], "\u0141\u00F3d\u017A");
    EXPECT_EQ(columns[18], "Cafe, ends at \u20AC" "5\nnext line");
}

TEST(EndToEnd, TwentyMebibyteStreamPrintsThreeDots)
{
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 20 << 20);
    write_file(folder / "a.rec", recording);
    ProcessResult result = run_pelorus({ "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(result.output,
        "\nReading a.rec\nreading header ...\nWriting a.ts\nprocessing file ...... done"
        "\ncreating list.csv\nappending list.csv\nall done");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_TRUE(read_file_bytes(folder / "a.ts") == stream_part(recording));
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(example_line));
}

TEST(EndToEnd, ExactlySixteenMebibytesPrintsTwoDots)
{
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 16 << 20);
    write_file(folder / "a.rec", recording);
    ProcessResult result = run_pelorus({ "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_NE(result.output.find("\nprocessing file ..... done\n"), std::string::npos) << result.output;
    EXPECT_TRUE(read_file_bytes(folder / "a.ts") == stream_part(recording));
}

TEST(EndToEnd, LongerExistingOutputIsTruncated)
{
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 500);
    write_file(folder / "a.rec", recording);
    write_file(folder / "a.ts", std::vector<std::uint8_t>(100000, 0xAB));
    ProcessResult result = run_pelorus({ "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file_bytes(folder / "a.ts"), stream_part(recording));
}

TEST(EndToEnd, DefaultStreamNeverTakesAnotherRecordings)
{
    ScratchFolder folder;
    RecordingFields weather_fields;
    weather_fields.event_id = 0x4321;
    std::vector<std::uint8_t> news = build_recording({}, 300000);
    std::vector<std::uint8_t> weather = build_recording(weather_fields, 200000);
    weather[3761] ^= 0xFF;
    write_file(folder / "news.rec", news);
    write_file(folder / "weather.rec", weather);
    ASSERT_EQ(run_pelorus({ "-k", "news.rec" }, folder.path()).exit_status, 0);

    // The default test.ts holds news's stream, its only copy now: it is not taken for weather's.
    ProcessResult refused = run_pelorus({ "-k", "weather.rec" }, folder.path());
    EXPECT_EQ(refused.output, "\nReading weather.rec\nreading header ...\nerror: cannot write test.ts: it holds another recording's stream"
                              " (name it with -o to replace it)");
    EXPECT_EQ(refused.exit_status, failure_status);
    EXPECT_EQ(read_file_bytes(folder / "test.ts"), stream_part(news));
    EXPECT_EQ(read_file_bytes(folder / "weather.rec"), weather);
    EXPECT_EQ(read_file_text(folder / "rec.csv"), header_and(example_line_for("news.rec")));

    // Named, it is replaced as always; a file of zeros that a crash left is no recording's and is written.
    ProcessResult named = run_pelorus({ "weather.rec", "-o", "test.ts" }, folder.path());
    EXPECT_EQ(named.exit_status, 0) << named.output;
    EXPECT_EQ(read_file_bytes(folder / "test.ts"), stream_part(weather));
    write_file(folder / "test.ts", std::vector<std::uint8_t>(200000, 0));
    ProcessResult zeros = run_pelorus({ "weather.rec" }, folder.path());
    EXPECT_EQ(zeros.exit_status, 0) << zeros.output;
    EXPECT_EQ(read_file_bytes(folder / "test.ts"), stream_part(weather));
}

TEST(EndToEnd, NamesThatCanOnlyBeSlipsAreRefused)
{
    struct Slip {
        std::vector<std::string> arguments;
        std::string message;
    };
    std::vector<Slip> slips {
        { { "-k", "news.rec", "archive.csv" }, "cannot write archive.csv: its name is a catalogue's" },  // the .ts forgotten
        { { "news.rec", "news.csv", "news.ts" }, "cannot write news.csv: its name is a catalogue's" },    // the last two swapped
        { { "-t", "news.rec", "-c", "list.TS" }, "cannot write list.TS: its name is a stream's" },
        { { "news.rec", "a.ts", "Other.Rec" }, "cannot write Other.Rec: its name is a recording's" },
    };
#ifdef _WIN32
    // The system drops trailing dots and spaces: these are archive.csv.
    slips.push_back({ { "news.rec", "archive.csv. " }, "cannot write archive.csv. : its name is a catalogue's" });
#endif
    for (const Slip& slip : slips) {
        ScratchFolder folder;
        std::vector<std::uint8_t> recording = build_recording({}, 1000);
        write_file(folder / "news.rec", recording);
        ProcessResult result = run_pelorus(slip.arguments, folder.path());
        EXPECT_EQ(result.output, "\nReading news.rec\nreading header ...\nerror: " + slip.message);
        EXPECT_EQ(result.exit_status, failure_status);
        EXPECT_EQ(listing(folder.path()), std::set<std::string> { "news.rec" }) << slip.message;
        EXPECT_EQ(read_file_bytes(folder / "news.rec"), recording);
    }
    // A batch's catalogue is refused before any recording is read.
    ScratchFolder folder;
    write_file(folder / "news.rec", build_recording({}, 1000));
    ProcessResult batch = run_pelorus({ "-b", "news.rec", "-c", "list.rec" }, folder.path());
    EXPECT_EQ(batch.output, "\nerror: cannot write list.rec: its name is a recording's");
    EXPECT_EQ(batch.exit_status, failure_status);
}

TEST(EndToEnd, SkipExtractionLeavesOutputAloneAndStillCatalogues)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording({}, 500));
    write_file(folder / "a.ts", std::string("an older stream"));
    std::filesystem::file_time_type before = std::filesystem::last_write_time(folder / "a.ts");

    ProcessResult result = run_pelorus({ "a.rec", "a.ts", "list.csv", "-t" }, folder.path());
    EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\ncreating list.csv\nappending list.csv\nall done");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file_text(folder / "a.ts"), "an older stream");
    EXPECT_TRUE(std::filesystem::last_write_time(folder / "a.ts") == before);
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(example_line));

    ScratchFolder empty;
    write_file(empty / "a.rec", build_recording({}, 500));
    EXPECT_EQ(run_pelorus({ "-t", "a.rec", "a.ts", "list.csv" }, empty.path()).exit_status, 0);
    EXPECT_EQ(listing(empty.path()), (std::set<std::string> { "a.rec", "list.csv" }));
}

TEST(EndToEnd, OutputThatCannotBeOpenedLeavesCatalogueAlone)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording({}, 500));
    std::filesystem::create_directory(folder / "a.ts");
    ProcessResult result = run_pelorus({ "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nWriting a.ts\nerror: cannot open a.ts: Is a directory");
    EXPECT_EQ(result.exit_status, failure_status);
    EXPECT_EQ(listing(folder.path()), (std::set<std::string> { "a.rec", "a.ts" }));
}

#ifndef _WIN32
TEST(EndToEnd, FullDiskForOutputIsAnErrorAndCatalogueIsUntouched)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording({}, 500));
    write_file(folder / "list.csv", header_and("older,\n"));
    ProcessResult result = run_pelorus({ "a.rec", "-o", "/dev/full", "-c", "list.csv" }, folder.path());
    EXPECT_EQ(result.output,
        "\nReading a.rec\nreading header ...\nWriting /dev/full\nprocessing file ...\nerror: cannot write /dev/full: No space left on device");
    EXPECT_EQ(result.exit_status, failure_status);
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and("older,\n"));
}
#endif

TEST(EndToEnd, ExistingCatalogueGainsALineOrStartsAfreshWithDashA)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording({}, 500));
    write_file(folder / "list.csv", header_and("older,\n"));

    ProcessResult appended = run_pelorus({ "-t", "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(appended.output, "\nReading a.rec\nreading header ...\nappending list.csv\nall done");
    EXPECT_EQ(appended.exit_status, 0);
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and("older,\n" + example_line));

    // -a keeps the lines it empties in list.csv~, flushed before the catalogue is emptied.
    ProcessResult afresh = run_pelorus({ "-t", "-a", "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(afresh.output, "\nReading a.rec\nreading header ...\ncreating list.csv\nkept 2 old lines in list.csv~\nappending list.csv\nall done");
    EXPECT_EQ(afresh.exit_status, 0);
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(example_line));
    EXPECT_EQ(read_file_text(folder / "list.csv~"), header_and("older,\n" + example_line));

    // Run again on the same recording, it has nothing of another's to keep.
    ProcessResult again = run_pelorus({ "-t", "-a", "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(again.output, "\nReading a.rec\nreading header ...\ncreating list.csv\nappending list.csv\nall done");
    EXPECT_EQ(read_file_text(folder / "list.csv~"), header_and("older,\n" + example_line));

    // list.csv~ holds a line the catalogue lacks: it is kept, and the next copy is numbered.
    write_file(folder / "list.csv", header_and(example_line + "newer,\n"));
    ProcessResult numbered = run_pelorus({ "-t", "-a", "a.rec", "a.ts", "list.csv" }, folder.path());
    EXPECT_EQ(numbered.output, "\nReading a.rec\nreading header ...\ncreating list.csv\nkept 2 old lines in list.csv.~1~\nappending list.csv\nall done");
    EXPECT_EQ(read_file_text(folder / "list.csv~"), header_and("older,\n" + example_line));
    EXPECT_EQ(read_file_text(folder / "list.csv.~1~"), header_and(example_line + "newer,\n"));
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(example_line));
}

TEST(EndToEnd, CatalogueThatCannotBeOpenedIsRefusedBeforeTheCopy)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording({}, 500));
    std::filesystem::create_directory(folder / "list.csv");
    for (auto [catalogue, reason] : { std::pair { "list.csv", "Is a directory" }, std::pair { "missing/list.csv", "No such file or directory" } }) {
        ProcessResult result = run_pelorus({ "a.rec", "a.ts", catalogue }, folder.path());
        EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nerror: cannot open " + std::string(catalogue) + ": " + reason);
        EXPECT_EQ(result.exit_status, failure_status);
        EXPECT_EQ(listing(folder.path()), (std::set<std::string> { "a.rec", "list.csv" }));
    }
}

TEST(EndToEnd, BatchConvertsAFolderSkipsWhatIsDoneAndSumsUp)
{
    ScratchFolder folder;
    for (const char* name : { "recs", "more", "video" })
        std::filesystem::create_directory(folder / name);
    std::filesystem::create_directory(folder / "recs" / "older.rec");  // a folder, not a recording
    // What another system's copy leaves beside each file, and the file system's own folder: no one's recordings.
    write_file(folder / "recs" / "._a.rec", std::string("\0\5\26\7", 4));
    std::filesystem::create_directory(folder / "recs" / "lost+found");
    RecordingFields other;
    other.event_id = 0x4321;
    RecordingFields later;
    later.event_id = 0x5555;
    std::vector<std::uint8_t> first = build_recording({}, 1000);
    std::vector<std::uint8_t> second = build_recording(other, 2000);
    std::vector<std::uint8_t> done = build_recording({}, 3000);
    std::vector<std::uint8_t> bad = build_recording({}, 1000);
    bad[0] = 'X';
    write_file(folder / "recs" / "a.rec", first);
    write_file(folder / "recs" / "B.REC", second);
    write_file(folder / "recs" / "c.rec", done);
    write_file(folder / "recs" / "d.rec", bad);
    write_file(folder / "recs" / "notes.txt", std::string("not a recording\n"));
    std::vector<std::uint8_t> other_stream = build_recording(later, 1000);
    other_stream[3761] ^= 0xFF;
    write_file(folder / "more" / "a.rec", other_stream);
    auto in = [](const std::string& folder_name, const std::string& name) { return folder_name + separator + name; };
    // An earlier batch converted c.rec, whose line is in the catalogue, under another spelling of its
    // folder, and whose .ts is whole; a.rec has a line too, but its .ts was lost since, so only its .ts
    // is written again.
    write_file(folder / "video" / "c.ts", stream_part(done));
    write_file(folder / "list.csv", header_and(example_line_for(in(".", in("recs", "c.rec"))) + example_line_for(in("recs", "a.rec"))));
    const std::string before = read_file_text(folder / "list.csv");

    // -b may follow the paths, and -o and -c move no positional slot; the folder named twice counts
    // once; more/a.rec, another broadcast, would overwrite the .ts that recs/a.rec writes.
    ProcessResult result = run_pelorus({ "recs", "-o", "video", "-c", "list.csv", in("recs", "a.rec"), "more", "-b" }, folder.path());
    const std::string copied = "\nprocessing file ..... done";
    // Each place gives the recording's size and the bytes done of those the batch works on: a skipped
    // recording, or one that fails before its copy, leaves the total. A skip says only why; each failure
    // is named again at the end with its reason, and the bytes written last.
    const std::string bad_header = "error: bad .rec file: it does not begin with TFrc";
    const std::string claimed = "error: cannot write " + in("video", "a.ts") + ": it is the .ts of " + in("recs", "a.rec");
    EXPECT_EQ(without_times(result.output),
        "\nnot searched: " + in("recs", "older.rec") + " is a folder"
        + "\nrecording 1 of 5 (2.0 KiB), 0 bytes of 7.8 KiB done\nReading " + in("recs", "B.REC") + "\nreading header ...\nWriting "
        + in("video", "B.ts") + copied + "\nappending list.csv"
        + "\nrecording 2 of 5 (1000 bytes), 2.0 KiB of 7.8 KiB done\nReading " + in("recs", "a.rec") + "\nreading header ...\nWriting "
        + in("video", "a.ts") + copied
        + "\nrecording 3 of 5 (2.9 KiB), 2.9 KiB of 7.8 KiB done\nskipping " + in("recs", "c.rec") + ": already in list.csv"
        + "\nrecording 4 of 5 (1000 bytes), 2.9 KiB of 4.9 KiB done\nReading " + in("recs", "d.rec") + "\nreading header ...\n" + bad_header
        + "\nrecording 5 of 5 (1000 bytes), 2.9 KiB of 3.9 KiB done\nReading " + in("more", "a.rec") + "\nreading header ...\n" + claimed
        + "\n5 recordings: 2 converted, 1 skipped, 2 failed\nfailed: " + in("recs", "d.rec") + "\n  " + bad_header + "\nfailed: "
        + in("more", "a.rec") + "\n  " + claimed + "\n2.9 KiB written in T");
    EXPECT_EQ(result.exit_status, failure_status);
    EXPECT_EQ(read_file_bytes(folder / "video" / "a.ts"), stream_part(first));
    EXPECT_EQ(read_file_bytes(folder / "video" / "B.ts"), stream_part(second));
    EXPECT_EQ(read_file_bytes(folder / "video" / "c.ts"), stream_part(done));
    EXPECT_EQ(listing(folder / "video"), (std::set<std::string> { "B.ts", "a.ts", "c.ts" }));
    std::string second_line = catalogue_row(in("recs", "B.REC"), *RecordingHeader::parse(second));
    EXPECT_EQ(read_file_text(folder / "list.csv"), before + second_line);

    // Run again by other spellings, from inside the folder too: everything is there, nothing is added.
    std::string absolute = (folder / "recs").string();
    for (std::vector<std::string> again : { std::vector<std::string> { "-b", in(".", "recs") + separator, "-o", "video", "-c", "list.csv" },
             { "-b", absolute, "-o", "video", "-c", "list.csv" }, { "-b", ".", "-o", in("..", "video"), "-c", in("..", "list.csv") } }) {
        std::filesystem::path where = again[1] == "." ? folder / "recs" : folder.path();
        std::string rerun = run_pelorus(again, where).output;
        EXPECT_NE(rerun.find("4 recordings: 0 converted, 3 skipped, 1 failed"), std::string::npos) << again[1] << rerun;
        EXPECT_EQ(rerun.find("Writing"), std::string::npos) << again[1] << rerun;
        EXPECT_EQ(read_file_text(folder / "list.csv"), before + second_line) << again[1];
    }

    // -o must name a folder: a file, or nothing there, ends the batch before anything is read or written.
    for (auto [not_a_folder, reason] : { std::pair { "list.csv", "it is not a folder" }, std::pair { "missing", "No such file or directory" } }) {
        ProcessResult refused = run_pelorus({ "-b", "more", "-o", not_a_folder, "-c", "other.csv" }, folder.path());
        EXPECT_EQ(refused.output, "\nerror: cannot write " + std::string(not_a_folder) + ": " + reason);
        EXPECT_EQ(refused.exit_status, failure_status);
        EXPECT_EQ(read_file_text(folder / "list.csv"), before + second_line);
        EXPECT_FALSE(std::filesystem::exists(folder / "other.csv"));
    }

    // Another disk with a recording of the same name, into the same folder: the first one's stream is
    // never replaced, and -k keeps the recording that could not be written.
    ProcessResult other_disk = run_pelorus({ "-b", "-k", "more", "-o", "video", "-c", "list.csv" }, folder.path());
    const std::string holds = "error: cannot write " + in("video", "a.ts") + ": it holds another recording's stream";
    EXPECT_EQ(without_times(other_disk.output), "\nrecording 1 of 1 (1000 bytes), 0 bytes of 1000 bytes done\nReading " + in("more", "a.rec")
            + "\nreading header ...\n" + holds + "\n1 recording: 0 converted, 0 skipped, 1 failed\nfailed: " + in("more", "a.rec") + "\n  " + holds
            + "\nnothing written or read, in T");
    EXPECT_EQ(other_disk.exit_status, failure_status);
    EXPECT_EQ(read_file_bytes(folder / "video" / "a.ts"), stream_part(first));
    EXPECT_EQ(read_file_bytes(folder / "more" / "a.rec"), other_stream);
    EXPECT_EQ(read_file_text(folder / "list.csv"), before + second_line);

    // With -s the batch names at its end the recordings whose streams need a look.
    std::filesystem::create_directory(folder / "checked");
    std::vector<std::uint8_t> sample = read_file_bytes(PELORUS_SAMPLE_RECORDING);
    write_file(folder / "checked" / "good.rec", sample);
    sample.erase(sample.begin() + 3760 + 100 * 188 + 88, sample.begin() + 3760 + 101 * 188);
    write_file(folder / "checked" / "cut.rec", sample);
    ProcessResult checked = run_pelorus({ "-b", "-t", "-s", "checked", "-c", "checked.csv" }, folder.path());
    const std::string reading = "\nreading header ...\nchecking stream ..... done\nstream: ";
    const std::string cut_stream = "7543 packets, 1 sync loss (88 bytes skipped), 00:00:06 by PCR";
    EXPECT_EQ(without_times(checked.output), "\nrecording 1 of 2 (1.4 MiB), 0 bytes of 2.7 MiB done\nReading " + in("checked", "cut.rec") + reading
            + cut_stream + "\ncreating checked.csv\nappending checked.csv"
            + "\nrecording 2 of 2 (1.4 MiB), 1.4 MiB of 2.7 MiB done\nReading " + in("checked", "good.rec") + reading
            + "7544 packets, no errors, 00:00:06 by PCR\nappending checked.csv"
            + "\n2 recordings: 2 converted, 0 skipped, 0 failed\nstream faults: " + in("checked", "cut.rec") + "\n  " + cut_stream
            + "\n2.7 MiB read in T\nall done");
    EXPECT_EQ(checked.exit_status, 0);
    // Run again, the converted archive is checked all the same: that is how an archive is checked.
    ProcessResult rechecked = run_pelorus({ "-b", "-t", "-s", "checked", "-c", "checked.csv" }, folder.path());
    const std::string skipped = ": already in checked.csv\nchecking stream ..... done\nstream: ";
    EXPECT_EQ(without_times(rechecked.output), "\nrecording 1 of 2 (1.4 MiB), 0 bytes of 2.7 MiB done\nskipping " + in("checked", "cut.rec")
            + skipped + cut_stream + "\nrecording 2 of 2 (1.4 MiB), 1.4 MiB of 2.7 MiB done\nskipping " + in("checked", "good.rec") + skipped
            + "7544 packets, no errors, 00:00:06 by PCR" + "\n2 recordings: 0 converted, 2 skipped, 0 failed\nstream faults: " + in("checked", "cut.rec")
            + "\n  " + cut_stream + "\n2.7 MiB read in T\nall done");

#ifndef _WIN32
    // A catalogue that is a FIFO, with a reader waiting on it, holds nothing to skip, and is never
    // waited on to find out; it is opened once, so a reader that reads to its end gets every line.
    // The stream check of a longer recording between two lines gives the reader time to find the end,
    // were the pipe closed after each line.
    std::filesystem::create_directory(folder / "slow");
    std::vector<std::uint8_t> slow = build_recording({}, 32 << 20);
    write_file(folder / "slow" / "x.rec", slow);
    ProcessResult into_pipe = run_process({ "/bin/sh", "-c", "mkfifo pipe.csv && { cat pipe.csv > got & } && timeout -s KILL 20 \"" PELORUS_BINARY
        "\" -b -t -s recs/c.rec slow/x.rec recs/B.REC -c pipe.csv > /dev/null; echo \" [$?]\"; wait" }, folder.path());
    EXPECT_EQ(into_pipe.output, " [0]\n");
    EXPECT_EQ(read_file_text(folder / "got"), example_line_for("recs/c.rec") + example_line_for("slow/x.rec") + second_line);
#endif
}

TEST(EndToEnd, BatchStartsAfreshOnceAndFailsOnAMissingName)
{
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "recs");
    std::string lines;
    for (const char* name : { "a.rec", "b.rec", "c.rec" }) {
        write_file(folder / "recs" / name, build_recording({}, 1000));
        lines += example_line_for("recs" + separator + name);
    }
    write_file(folder / "list.csv", header_and(example_line_for("old.rec")));
    // -a empties the catalogue for the first line only: the batch keeps all three.
    ProcessResult afresh = run_pelorus({ "-b", "-a", "-t", "recs", "-c", "list.csv" }, folder.path());
    EXPECT_EQ(afresh.exit_status, 0) << afresh.output;
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(lines));
    EXPECT_NE(afresh.output.find("\nkept 1 old line in list.csv~\n"), std::string::npos) << afresh.output;

    // A file named on the command line that is not there is a failure, as for a single run.
    ProcessResult missing = run_pelorus({ "-b", "-t", "recs" + separator + "a.rec", "recs" + separator + "gone.rec", "-c", "list.csv" }, folder.path());
    EXPECT_EQ(missing.exit_status, failure_status);
    const std::string cannot_open = "error: cannot open recs" + separator + "gone.rec: No such file or directory";
    EXPECT_EQ(without_times(missing.output.substr(missing.output.find("\nrecording 2 of 2"))), "\nrecording 2 of 2 (size unknown), 0 bytes done\nReading recs"
            + separator + "gone.rec\n" + cannot_open + "\n2 recordings: 0 converted, 1 skipped, 1 failed" + "\nfailed: recs" + separator + "gone.rec\n  "
            + cannot_open + "\nnothing written or read, in T");
}

// A line as the catalogue was written before it quoted anything: every text as it is.
std::string unescaped_row(const std::string& filename, const RecordingFields& fields)
{
    std::string line = catalogue_row(filename, *RecordingHeader::parse(build_recording(fields)));
    std::size_t times = line.find(",TV,");
    std::size_t identifiers = line.find(",2174,");
    return filename + ",12," + fields.channel_name + line.substr(times, line.find(",\"", times) - times) + ",\"" + fields.event_name + "\""
        + line.substr(identifiers, line.rfind(",\"") - identifiers) + ",\"" + fields.event_description + "\",\n";
}

TEST(EndToEnd, CatalogueWrittenWithoutQuotingIsKnown)
{
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "recs");
    std::vector<std::pair<std::string, RecordingFields>> recordings(3);
    recordings[0].first = "news, late.rec";
    recordings[0].second.channel_name = "Chan, nel";
    recordings[1].first = "floppy.rec";
    recordings[1].second.event_name = "Using a 5\" floppy";
    recordings[1].second.event_description = "He said \"yes\", and left\nthe next day";
    recordings[2].first = "quote.rec";
    recordings[2].second.channel_name = "\"ABC";
    recordings[2].second.event_description = "\"";
    std::string lines;
    for (std::size_t index = 0; index < recordings.size(); ++index) {
        recordings[index].second.event_id = static_cast<std::uint16_t>(index + 1);
        write_file(folder / "recs" / recordings[index].first, build_recording(recordings[index].second, 1000));
        write_file(folder / "recs" / (recordings[index].first.substr(0, recordings[index].first.size() - 4) + ".ts"),
            stream_part(build_recording(recordings[index].second, 1000)));
        lines += unescaped_row("recs/" + recordings[index].first, recordings[index].second);
    }
    write_file(folder / "list.csv", header_and(lines));

    ProcessResult rerun = run_pelorus({ "-b", "recs", "-c", "list.csv" }, folder.path());
    EXPECT_EQ(rerun.exit_status, 0) << rerun.output;
    // A rerun says two lines a recording: its place, and why it is skipped.
    auto skipping = [](const std::string& name) { return "\nskipping recs" + separator + name + ": already in list.csv"; };
    EXPECT_EQ(without_times(rerun.output), "\nrecording 1 of 3 (1000 bytes), 0 bytes of 2.9 KiB done" + skipping("floppy.rec")
            + "\nrecording 2 of 3 (1000 bytes), 0 bytes of 2.0 KiB done" + skipping("news, late.rec")
            + "\nrecording 3 of 3 (1000 bytes), 0 bytes of 1000 bytes done" + skipping("quote.rec")
            + "\n3 recordings: 0 converted, 3 skipped, 0 failed\nnothing written or read, in T\nall done");
    EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(lines));
}

#ifndef _WIN32
TEST(EndToEnd, Latin1NameInAUtf8CatalogueIsValidAndKnown)
{
    // Recorders name files after titles, in the broadcast's tables: here ISO 8859-1.
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "recs");
    write_file(folder / "recs" / "Caf\xE9.rec", build_recording({}, 1000));
    ProcessResult first = run_pelorus({ "-u", "-b", "recs", "-c", "list.csv" }, folder.path());
    EXPECT_EQ(first.exit_status, 0) << first.output;
    EXPECT_EQ(read_file_text(folder / "list.csv"), std::string(utf8_mark) + header_and(example_line_for("recs/Caf\xC3\xA9.rec")));
    ProcessResult rerun = run_pelorus({ "-u", "-b", "recs", "-c", "list.csv" }, folder.path());
    EXPECT_NE(rerun.output.find("skipping recs/Caf\xE9.rec: already in list.csv"), std::string::npos) << rerun.output;
    EXPECT_EQ(read_file_text(folder / "list.csv"), std::string(utf8_mark) + header_and(example_line_for("recs/Caf\xC3\xA9.rec")));
}
#endif

TEST(EndToEnd, DashKFreesConvertedRecordingsOnlyAfterAFullCompare)
{
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "recs");
    std::vector<std::vector<std::uint8_t>> recordings;
    for (const char* name : { "a", "b", "c" }) {
        RecordingFields fields;
        fields.event_id = static_cast<std::uint16_t>(name[0]);
        recordings.push_back(build_recording(fields, 1 << 20));
        write_file(folder / "recs" / (std::string(name) + ".rec"), recordings.back());
    }
    ASSERT_EQ(run_pelorus({ "-b", "recs", "-c", "list.csv" }, folder.path()).exit_status, 0);
    const std::string catalogue = read_file_text(folder / "list.csv");
    // c.ts is damaged where the quick look does not read: it still looks whole.
    std::vector<std::uint8_t> damaged = read_file_bytes(folder / "recs" / "c.ts");
    damaged[700000] ^= 0xFF;
    write_file(folder / "recs" / "c.ts", damaged);
    ASSERT_NE(run_pelorus({ "-b", "recs", "-c", "list.csv" }, folder.path()).output.find("0 converted, 3 skipped"), std::string::npos);

    ProcessResult freed = run_pelorus({ "-b", "-k", "recs", "-c", "list.csv" }, folder.path());
    auto in_recs = [](const std::string& name) { return "recs" + separator + name; };
    auto converted_before = [&](const std::string& name) {
        return "\nskipping " + in_recs(name + ".rec") + ": already in list.csv" + "\ncomparing " + in_recs(name + ".ts") + " with its recording ...";
    };
    // What is compared counts as done.
    EXPECT_EQ(without_times(freed.output), "\nrecording 1 of 3 (1.0 MiB), 0 bytes of 3.0 MiB done" + converted_before("a") + ".. the same\ndeleting "
            + in_recs("a.rec") + "\nrecording 2 of 3 (1.0 MiB), 1.0 MiB of 3.0 MiB done" + converted_before("b") + ".. the same\ndeleting "
            + in_recs("b.rec") + "\nrecording 3 of 3 (1.0 MiB), 2.0 MiB of 3.0 MiB done" + converted_before("c") + " it differs\nWriting "
            + in_recs("c.ts") + "\nprocessing file ..... done" + "\ndeleting " + in_recs("c.rec") + "\n3 recordings: 1 converted, 2 skipped, 0 failed"
            + "\n1.0 MiB written in T\nall done");
    EXPECT_EQ(freed.exit_status, 0);
    EXPECT_EQ(listing(folder / "recs"), (std::set<std::string> { "a.ts", "b.ts", "c.ts" }));
    for (std::size_t index = 0; index < recordings.size(); ++index)
        EXPECT_TRUE(read_file_bytes(folder / "recs" / (std::string(1, static_cast<char>('a' + index)) + ".ts")) == stream_part(recordings[index]));
    EXPECT_EQ(read_file_text(folder / "list.csv"), catalogue);
}

std::string numbered_recording(int index)
{
    std::string name = "r";
    name += std::to_string(index);
    name += ".rec";
    return name;
}

TEST(EndToEnd, ReportHasATypedObjectForEveryRecordingOfABatch)
{
    // A batch meets each outcome: a.rec new, b.rec with its line but no .ts, c.rec with a whole .ts
    // and no line, d.rec with both, e.rec no recording.
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "recs");
    std::vector<std::vector<std::uint8_t>> recordings;
    for (char name = 'a'; name <= 'e'; ++name) {
        RecordingFields fields;
        fields.event_id = static_cast<std::uint16_t>(name);
        fields.channel_name = "M\xC8unchen";
        recordings.push_back(build_recording(fields, 1000 * static_cast<std::size_t>(name - 'a' + 1)));
        write_file(folder / "recs" / (std::string(1, name) + ".rec"), recordings.back());
    }
    recordings[4][0] = 'X';
    write_file(folder / "recs" / "e.rec", recordings[4]);
    auto in_recs = [](const std::string& name) { return "recs" + separator + name; };
    std::string lines;
    for (char name : { 'b', 'd' }) {
        RecordingFields fields;
        fields.event_id = static_cast<std::uint16_t>(name);
        fields.channel_name = "M\xC8unchen";
        lines += catalogue_row(in_recs(std::string(1, name) + ".rec"), *RecordingHeader::parse(build_recording(fields)));
    }
    write_file(folder / "list.csv", header_and(lines));
    for (char name : { 'c', 'd' })
        write_file(folder / "recs" / (std::string(1, name) + ".ts"), stream_part(recordings[static_cast<std::size_t>(name - 'a')]));

    ProcessResult first = run_pelorus({ "-b", "recs", "-c", "list.csv", "-j", "report.jsonl" }, folder.path());
    EXPECT_EQ(first.exit_status, failure_status) << first.output;
    // Then the converted archive checked with -t -s: each is skipped, and its object has the check.
    ProcessResult checked = run_pelorus({ "-b", "-t", "-s", "recs", "-c", "list.csv", "-j", "report.jsonl" }, folder.path());
    EXPECT_EQ(checked.exit_status, failure_status) << checked.output;

    std::vector<std::string> report = lines_of(read_file_text(folder / "report.jsonl"));
    ASSERT_EQ(report.size(), 10U);
    const std::vector<std::pair<std::string, std::string>> expected { { "converted", "" }, { "stream_only", "" }, { "line_only", "" },
        { "skipped", "already in list.csv" }, { "failed", "bad .rec file: it does not begin with TFrc" } };
    for (std::size_t index = 0; index < report.size(); ++index) {
        JsonObject object = parse_json_line(report[index]);
        std::size_t which = index % 5;
        bool rerun = index >= 5;
        std::string name(1, static_cast<char>('a' + which));
        EXPECT_EQ(object.at("recording").text(), in_recs(name + ".rec"));
        EXPECT_EQ(object.at("name").text(), name + ".rec");
        auto [outcome, reason] = expected[which];
        if (rerun && which < 4)
            std::tie(outcome, reason) = std::pair<std::string, std::string> { "skipped", "already in list.csv" };
        EXPECT_EQ(object.at("outcome").text(), outcome) << report[index];
        EXPECT_EQ(object.at("reason").is_null() ? "" : object.at("reason").text(), reason) << report[index];
        EXPECT_EQ(object.at("catalogue").text(), "list.csv");
        EXPECT_EQ(object.at("stream_bytes").number(), 1000.0 * static_cast<double>(which + 1));
        if (rerun)
            EXPECT_TRUE(object.at("ts").is_null());
        else
            EXPECT_EQ(object.at("ts").text(), in_recs(name + ".ts"));
        if (which == 4) {
            // Never read as a recording: its header's fields are null, and nothing was checked.
            for (const char* field : { "event_id", "service_id", "start", "channel", "pcr_pid", "check" })
                EXPECT_TRUE(object.at(field).is_null()) << field;
            continue;
        }
        EXPECT_EQ(object.at("event_id").number(), 'a' + static_cast<double>(which));
        EXPECT_EQ(object.at("service_id").number(), 0x0102);
        EXPECT_EQ(object.at("pcr_pid").number(), 0xA0);
        EXPECT_EQ(object.at("start").text(), "1993-10-13T12:45Z");
        EXPECT_EQ(object.at("duration_minutes").number(), 75);
        EXPECT_EQ(object.at("channel").text(), "M\xC3\xBCnchen");
        if (!rerun) {
            EXPECT_TRUE(object.at("check").is_null());
            continue;
        }
        // The counts are the ones the console gave for the same recording.
        const JsonObject& check = object.at("check").object();
        std::size_t said = 0;
        for (std::size_t turn = 0; turn <= which; ++turn)
            said = checked.output.find("\nstream: ", said) + 9;
        EXPECT_EQ(check.at("packets").number(), std::stod(checked.output.substr(said)));
        EXPECT_GE(check.at("sync_losses").number(), 1) << "the fixture's stream is no transport stream past its first byte";
        EXPECT_TRUE(check.at("pcr_seconds").is_null()) << "the fixture's stream carries no PCR";
    }
#ifndef _WIN32
    // And as another reader takes it: every line a JSON object, in UTF-8.
    ProcessResult python = run_process({ "python3", "-c",
        "import json\nrows = [json.loads(line) for line in open('report.jsonl', encoding='utf-8')]\n"
        "print(len(rows), sorted({type(row['event_id']).__name__ for row in rows}), rows[0]['channel'] == 'M\\u00fcnchen')" }, folder.path());
    EXPECT_EQ(python.output, "10 ['NoneType', 'int'] True\n");
    // A report that is a FIFO is opened once, so a reader that reads to its end gets every object. The
    // check of a longer recording between two objects gives the reader time to find the end, were the
    // FIFO closed after each.
    std::filesystem::create_directory(folder / "piped");
    write_file(folder / "piped" / "1.rec", build_recording({}, 1000));
    write_file(folder / "piped" / "2.rec", build_recording({}, 32 << 20));
    write_file(folder / "piped" / "3.rec", build_recording({}, 1000));
    ProcessResult into_pipe = run_process({ "/bin/sh", "-c", "mkfifo pipe.jsonl && { cat pipe.jsonl > got & } && timeout -s KILL 20 \"" PELORUS_BINARY
        "\" -b -t -s piped -c piped.csv -j pipe.jsonl > /dev/null; echo \" [$?]\"; wait" }, folder.path());
    EXPECT_EQ(into_pipe.output, " [0]\n");
    EXPECT_EQ(lines_of(read_file_text(folder / "got")).size(), 3U);
#endif
    // The report was never the catalogue: that gained the lines of a.rec and c.rec, and nothing else.
    std::string catalogue = read_file_text(folder / "list.csv");
    EXPECT_EQ(std::count(catalogue.begin(), catalogue.end(), '\n'), 5);
}

TEST(EndToEnd, ReportThatIsAnotherFileOrNotAReportIsRefusedFirst)
{
    for (auto [report, message] : std::vector<std::pair<std::string, std::string>> { { "list.csv", "it is the catalogue" },
             { "a.ts", "it is the output file" }, { "a.rec", "it is the input file" }, { "notes.txt", "it is not a report" } }) {
        ScratchFolder folder;
        std::vector<std::uint8_t> recording = build_recording({}, 1000);
        write_file(folder / "a.rec", recording);
        write_file(folder / "list.csv", header_and(""));
        write_file(folder / "notes.txt", std::string("not json\n"));
        ProcessResult result = run_pelorus({ "-k", "a.rec", "a.ts", "list.csv", "-j", report }, folder.path());
        EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nerror: cannot write " + report + ": " + message);
        EXPECT_EQ(result.exit_status, failure_status);
        EXPECT_EQ(read_file_bytes(folder / "a.rec"), recording);
        EXPECT_FALSE(std::filesystem::exists(folder / "a.ts")) << report;
        EXPECT_EQ(read_file_text(folder / "list.csv"), header_and(""));
        EXPECT_EQ(read_file_text(folder / "notes.txt"), "not json\n");
    }
    // A batch judges it once, before any recording.
    ScratchFolder folder;
    write_file(folder / "a.rec", build_recording({}, 1000));
    write_file(folder / "notes.txt", std::string("not json\n"));
    ProcessResult batch = run_pelorus({ "-b", "a.rec", "-j", "notes.txt" }, folder.path());
    EXPECT_EQ(batch.output, "\nerror: cannot write notes.txt: it is not a report");
    EXPECT_EQ(batch.exit_status, failure_status);
    EXPECT_EQ(listing(folder.path()), (std::set<std::string> { "a.rec", "notes.txt" }));
#ifndef _WIN32
    // A report that cannot be written fails the run, after the line, and -k keeps the recording.
    ScratchFolder full;
    std::vector<std::uint8_t> recording = build_recording({}, 1000);
    write_file(full / "a.rec", recording);
    ProcessResult result = run_pelorus({ "-k", "a.rec", "a.ts", "list.csv", "-j", "/dev/full" }, full.path());
    EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nWriting a.ts\nprocessing file ..... done\ncreating list.csv\nappending list.csv"
                             "\nerror: cannot write /dev/full: No space left on device");
    EXPECT_EQ(result.exit_status, failure_status);
    EXPECT_EQ(read_file_bytes(full / "a.rec"), recording);
    EXPECT_EQ(read_file_bytes(full / "a.ts"), stream_part(recording));
    EXPECT_EQ(read_file_text(full / "list.csv"), header_and(example_line));
#endif
}

TEST(EndToEnd, TwoBatchesAtOnceConvertEachRecordingOnce)
{
    // One batch over the folder and one over its recordings named in the reverse order, by another
    // spelling, started together; then two over the folder with -k, each deleting what it converted,
    // neither failing on what the other deleted.
    constexpr int count = 12;
    for (bool remove : { false, true }) {
        ScratchFolder folder;
        std::filesystem::create_directory(folder / "recs");
        std::vector<std::vector<std::uint8_t>> recordings;
        std::vector<std::string> forward { "-b", "recs", "-c", "list.csv", "-j", "report.jsonl" };
        std::vector<std::string> backward { "-b", "-c", "list.csv", "-j", "report.jsonl" };
        std::string other_spelling = ".";
        other_spelling += separator;
        other_spelling += "recs";
        other_spelling += separator;
        for (int index = 0; index < count; ++index) {
            RecordingFields fields;
            fields.event_id = static_cast<std::uint16_t>(index);
            recordings.push_back(build_recording(fields, static_cast<std::size_t>(index + 1) * 100000));
            write_file(folder / "recs" / numbered_recording(index), recordings.back());
            backward.insert(backward.begin() + 1, other_spelling + numbered_recording(index));
        }
        if (remove) {
            forward.push_back("-k");
            backward = { "-b", other_spelling, "-c", "list.csv", "-k", "-j", "report.jsonl" };
        }
        ProcessResult results[2];
        std::thread other([&] { results[1] = run_pelorus(backward, folder.path()); });
        results[0] = run_pelorus(forward, folder.path());
        other.join();
        for (const ProcessResult& result : results) {
            EXPECT_EQ(result.exit_status, 0) << result.output;
            EXPECT_EQ(result.output.find("error"), std::string::npos) << result.output;
        }

        std::string catalogue = read_file_text(folder / "list.csv");
        for (int index = 0; index < count; ++index) {
            std::string name = numbered_recording(index);
            std::string filename = separator + name + ",";
            std::size_t first = catalogue.find(filename);
            EXPECT_NE(first, std::string::npos) << name << " has no line";
            EXPECT_EQ(first, catalogue.rfind(filename)) << name << " has two lines";
            std::string stream_name = name.substr(0, name.size() - 4) + ".ts";
            EXPECT_TRUE(read_file_bytes(folder / "recs" / stream_name) == stream_part(recordings[static_cast<std::size_t>(index)])) << name;
            EXPECT_EQ(std::filesystem::exists(folder / "recs" / name), !remove) << name;
        }
        EXPECT_EQ(std::count(catalogue.begin(), catalogue.end(), '\n'), count + 1) << catalogue;

        // The report has whole objects from both: one per recording each names, one of them converting
        // it. With -k, a recording the other batch deleted before this one listed its folder is not named.
        std::map<std::string, std::vector<std::string>> outcomes;
        for (const std::string& line : lines_of(read_file_text(folder / "report.jsonl"))) {
            JsonObject object = parse_json_line(line);
            outcomes[object.at("name").text()].push_back(object.at("outcome").text());
        }
        EXPECT_EQ(outcomes.size(), static_cast<std::size_t>(count));
        for (const auto& [name, found] : outcomes) {
            if (remove)
                EXPECT_LE(found.size(), 2U) << name;
            else
                EXPECT_EQ(found.size(), 2U) << name;
            EXPECT_EQ(std::count(found.begin(), found.end(), "converted"), 1) << name;
        }
    }
}

TEST(EndToEnd, ManyRunsAtOnceOnOneCatalogueLoseNoLine)
{
    constexpr int runs = 24;
    ScratchFolder folder;
    for (int index = 0; index < runs; ++index)
        write_file(folder / numbered_recording(index), build_recording({}, 1 << 20));
    // Started together, the way users convert a folder.
    std::vector<int> statuses(runs, 1);
    std::vector<std::thread> starters;
    for (int index = 0; index < runs; ++index) {
        starters.emplace_back([&folder, &statuses, index] {
            std::string name = numbered_recording(index);
            statuses[static_cast<std::size_t>(index)] = run_pelorus({ name, name.substr(0, name.size() - 4) + ".ts", "list.csv" }, folder.path()).exit_status;
        });
    }
    for (std::thread& starter : starters)
        starter.join();
    EXPECT_EQ(statuses, std::vector<int>(runs, 0));

    std::string catalogue = read_file_text(folder / "list.csv");
    ASSERT_EQ(catalogue.substr(0, catalogue_header_line().size()), catalogue_header_line());
    std::multiset<std::string> lines;
    std::size_t start = catalogue_header_line().size();
    while (start < catalogue.size()) {
        std::size_t end = catalogue.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        lines.insert(catalogue.substr(start, end + 1 - start));
        start = end + 1;
    }
    std::multiset<std::string> expected;
    for (int index = 0; index < runs; ++index)
        expected.insert(example_line_for(numbered_recording(index)));
    EXPECT_EQ(lines, expected);
}

// Opt-in: it writes a 4.5 GiB output. Run with PELORUS_LARGE_FILE_TESTS=1.
#ifdef _WIN32
// The test's own answer to the console's Ctrl-C, which reaches every process on the console.
BOOL WINAPI ignore_console_event(DWORD)
{
    return TRUE;
}

TEST(EndToEnd, CtrlCOnARunBlockedOnAStalledPipeSaysWhatItLeft)
{
    // The recording comes through a named pipe that stalls after 100000 bytes: the run is blocked in
    // its read when Ctrl-C comes, and must abandon it.
    ScratchFolder folder;
    std::vector<std::uint8_t> recording = build_recording({}, 500000);
    std::wstring pipe_name = L"\\\\.\\pipe\\pelorus-test-" + std::to_wstring(::GetCurrentProcessId());
    HANDLE pipe = ::CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 20, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    SECURITY_ATTRIBUTES inherited { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(::CreatePipe(&read_end, &write_end, &inherited, 0));
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::wstring binary = std::filesystem::path(PELORUS_BINARY).wstring();
    std::wstring command = L"\"" + binary + L"\" " + pipe_name + L" out.ts list.csv";
    std::wstring where = folder.path().wstring();
    PROCESS_INFORMATION process {};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, where.c_str(), &startup, &process));
    ::CloseHandle(write_end);
    ::ConnectNamedPipe(pipe, nullptr);
    DWORD written = 0;
    ::WriteFile(pipe, recording.data(), 100000, &written, nullptr);
    ::Sleep(500);
    ::SetConsoleCtrlHandler(ignore_console_event, TRUE);
    bool sent = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    bool ended_at_once = ::WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
    // A run that is still blocked, or one that had no Ctrl-C to get, is let go by the end of its stream.
    ::CloseHandle(pipe);
    ::WaitForSingleObject(process.hProcess, 20000);
    std::string output;
    char chunk[4096];
    DWORD length = 0;
    while (::ReadFile(read_end, chunk, sizeof chunk, &length, nullptr) && length > 0)
        output.append(chunk, length);
    DWORD exit_code = 0;
    ::GetExitCodeProcess(process.hProcess, &exit_code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(read_end);
    ::SetConsoleCtrlHandler(ignore_console_event, FALSE);
    if (!sent)
        GTEST_SKIP() << "no console here to send Ctrl-C through";
    EXPECT_TRUE(ended_at_once) << "the blocked read was not abandoned";
    EXPECT_EQ(output, "\nReading " + std::filesystem::path(pipe_name).string() + "\nreading header ...\nWriting out.ts\nprocessing file ...\ninterrupted: out.ts is not whole");
    EXPECT_EQ(exit_code, static_cast<DWORD>(STATUS_CONTROL_C_EXIT));
    EXPECT_EQ(std::filesystem::file_size(folder / "out.ts"), 100000U - 3760U);
    EXPECT_FALSE(std::filesystem::exists(folder / "list.csv"));
}
#endif

TEST(EndToEnd, RecordingLargerThanFourGibibytesIsCopiedWhole)
{
    if (std::getenv("PELORUS_LARGE_FILE_TESTS") == nullptr)
        GTEST_SKIP() << "set PELORUS_LARGE_FILE_TESTS=1 to copy a 4.5 GiB sparse recording";
    ScratchFolder folder;
    constexpr std::uint64_t recording_size = std::uint64_t { 9 } << 29;  // 4.5 GiB
    if (std::filesystem::space(folder.path()).available < recording_size + (std::uint64_t { 1 } << 30))
        GTEST_SKIP() << "not enough free space for a 4.5 GiB output";

    // Sparse apart from the header and markers that straddle the 4 GiB boundaries of input and output.
    write_file(folder / "big.rec", build_recording());
    std::filesystem::resize_file(folder / "big.rec", recording_size);
    {
        std::fstream recording(folder / "big.rec", std::ios::in | std::ios::out | std::ios::binary);
        for (std::uint64_t offset : { (std::uint64_t { 1 } << 32) - 3, (std::uint64_t { 1 } << 32) + 3760 - 3, recording_size - 6 }) {
            recording.seekp(static_cast<std::streamoff>(offset));
            recording.write("MARKER", 6);
        }
        ASSERT_TRUE(recording.flush());
    }

    ProcessResult result = run_pelorus({ "big.rec", "big.ts", "list.csv" }, folder.path());
    EXPECT_EQ(result.exit_status, 0) << result.output;
    // 4.5 GiB less the header area is 288 chunks, the last of them short, then the final pass.
    EXPECT_EQ(result.output, "\nReading big.rec\nreading header ...\nWriting big.ts\nprocessing file ..."
            + std::string(289, '.') + " done\ncreating list.csv\nappending list.csv\nall done");

    ASSERT_EQ(std::filesystem::file_size(folder / "big.ts"), recording_size - 3760);
    std::ifstream input(folder / "big.rec", std::ios::binary);
    std::ifstream output(folder / "big.ts", std::ios::binary);
    input.seekg(3760);
    std::vector<char> expected(1 << 20);
    std::vector<char> actual(1 << 20);
    for (std::uint64_t offset = 0; offset < recording_size - 3760; offset += expected.size()) {
        input.read(expected.data(), static_cast<std::streamsize>(expected.size()));
        output.read(actual.data(), static_cast<std::streamsize>(actual.size()));
        ASSERT_EQ(input.gcount(), output.gcount()) << "differs near " << offset;
        ASSERT_TRUE(std::equal(expected.begin(), expected.begin() + input.gcount(), actual.begin())) << "differs near " << offset;
    }
}

}
