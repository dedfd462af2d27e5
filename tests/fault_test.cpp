// Runs the built program under injected faults and checks that nothing is lost: the exit status, the
// message naming the file, the recording untouched, and no catalogue line for a copy that failed.

#include "catalogue/catalogue.h"
#include "recording/recording_header.h"
#include "support/process_runner.h"
#include "support/recording_builder.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sys/stat.h>

namespace {

constexpr int failure_status = 255;
const std::string older_catalogue = std::string(catalogue_header_line()) + "older.rec,line,\n";

bool can_run(const std::vector<std::string>& probe)
{
    ScratchFolder folder;
    return run_process(probe, folder.path()).exit_status == 0;
}

bool strace_works()
{
    static const bool works = can_run({ "/bin/sh", "-c", "strace -f -qq -o /dev/null true" });
    return works;
}

bool private_mounts_work()
{
    static const bool works = can_run({ "/bin/sh", "-c", "unshare -m sh -c 'mount -t tmpfs -o size=1m tmpfs /mnt'" });
    return works;
}

#define REQUIRE_STRACE()                                                                                   \
    if (!strace_works())                                                                                   \
    GTEST_SKIP() << "strace cannot trace here (not installed, or ptrace is not permitted)"

#ifdef PELORUS_KERNEL_COPY
constexpr bool kernel_copy_built = true;
#else
constexpr bool kernel_copy_built = false;
#endif

// Tests that inject faults into the kernel copy's splice calls.
#define REQUIRE_KERNEL_COPY()                                                                              \
    if (!kernel_copy_built)                                                                                \
    GTEST_SKIP() << "this build has no kernel copy (the generic POSIX layer)"

// A leak check cannot run under a tracer, and a preloaded library must not upset the address
// sanitizer's check of the load order; the sanitizer build's other options still apply.
std::string sanitizer_options_under_trace()
{
    const char* inherited = std::getenv("ASAN_OPTIONS");
    std::string options = "ASAN_OPTIONS=";
    if (inherited != nullptr && *inherited != '\0')
        options += std::string(inherited) + ":";
    return options + "detect_leaks=0:verify_asan_link_order=0";
}

struct FileState {
    std::string contents;
    std::int64_t modified_ns;
};

// One recording in a scratch folder, with a catalogue that already holds a line; the recording and the
// catalogue are checked against what they held before the run.
class FaultRun {
public:
    explicit FaultRun(std::size_t stream_length = 3 << 20)
        : recording_(build_recording({}, stream_length))
    {
        write_file(folder_ / "a.rec", recording_);
        write_file(folder_ / "list.csv", older_catalogue);
    }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    const std::filesystem::path& folder() const { return folder_.path(); }

    ProcessResult run(const std::vector<std::string>& arguments) { return run_pelorus(arguments, folder_.path()); }

    // strace rewrites the named system calls; -P counts only the calls on the given files. What strace
    // saw is kept in trace(), so a test can tell that its fault was really injected.
    ProcessResult run_traced(const std::vector<std::string>& strace_options, const std::vector<std::string>& arguments)
    {
        std::vector<std::string> command { PELORUS_BINARY };
        command.insert(command.end(), arguments.begin(), arguments.end());
        return run_command_traced(strace_options, command);
    }

    ProcessResult run_command_traced(const std::vector<std::string>& strace_options, const std::vector<std::string>& traced)
    {
        std::string log = (trace_folder_ / "strace.log").string();
        std::vector<std::string> command { "strace", "-f", "-qq", "-o", log, "-E", sanitizer_options_under_trace() };
        command.insert(command.end(), strace_options.begin(), strace_options.end());
        command.insert(command.end(), traced.begin(), traced.end());
        ProcessResult result = run_process(command, folder_.path());
        trace_ = read_file_text(log);
        return result;
    }

    int injected_calls() const { return count_in_trace("(INJECTED)"); }
    const std::string& trace() const { return trace_; }

    int count_in_trace(const std::string& text) const
    {
        int count = 0;
        for (std::size_t at = trace_.find(text); at != std::string::npos; at = trace_.find(text, at + 1))
            ++count;
        return count;
    }

    void expect_recording_intact() const
    {
        ASSERT_TRUE(std::filesystem::exists(folder_ / "a.rec")) << "the recording was removed";
        EXPECT_TRUE(read_file_bytes(folder_ / "a.rec") == recording_) << "the recording changed";
    }

    void expect_catalogue_unchanged() const { EXPECT_EQ(read_file_text(folder_ / "list.csv"), older_catalogue); }

    void expect_complete_output(const std::string& name) const
    {
        EXPECT_TRUE(read_file_bytes(folder_ / name) == std::vector<std::uint8_t>(recording_.begin() + 3760, recording_.end()))
            << name << " is not the whole stream";
    }

    void expect_catalogue_gained_line() const
    {
        std::string catalogue = read_file_text(folder_ / "list.csv");
        EXPECT_EQ(catalogue.substr(0, older_catalogue.size()), older_catalogue);
        EXPECT_EQ(std::count(catalogue.begin(), catalogue.end(), '\n'), 3);
    }

private:
    ScratchFolder folder_;
    ScratchFolder trace_folder_;
    std::vector<std::uint8_t> recording_;
    std::string trace_;
};

std::string messages_before_copy(const std::string& input, const std::string& output)
{
    return "\nReading " + input + "\nreading header ...\nWriting " + output + "\nprocessing file ...";
}

// Every failure keeps the recording, with or without -k.
const std::vector<std::vector<std::string>> with_and_without_k { {}, { "-k" } };

std::vector<std::string> operator+(std::vector<std::string> first, const std::vector<std::string>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST(Faults, OutputOnFullDevice)
{
    for (const auto& extra : with_and_without_k) {
        FaultRun run;
        ProcessResult result = run.run(std::vector<std::string> { "-i", "a.rec", "-o", "/dev/full", "-c", "list.csv" } + extra);
        EXPECT_EQ(result.output, messages_before_copy("a.rec", "/dev/full") + "\nerror: cannot write /dev/full: No space left on device");
        EXPECT_EQ(result.exit_status, failure_status);
        run.expect_recording_intact();
        run.expect_catalogue_unchanged();
    }
}

TEST(Faults, CatalogueOnFullDevice)
{
    for (const auto& extra : with_and_without_k) {
        FaultRun run;
        ProcessResult result = run.run(std::vector<std::string> { "a.rec", "a.ts", "-c", "/dev/full" } + extra);
        EXPECT_EQ(result.output, messages_before_copy("a.rec", "a.ts") + ".. done\nappending /dev/full\nerror: cannot write /dev/full: No space left on device");
        EXPECT_EQ(result.exit_status, failure_status);
        run.expect_recording_intact();
        run.expect_complete_output("a.ts");
    }
}

TEST(Faults, ReadErrorDuringTheCopy)
{
    REQUIRE_STRACE();
    REQUIRE_KERNEL_COPY();
    // The recording's splice calls are the copy's reads; the header is read with pread64 and is not hit.
    for (const char* call : { "1", "2", "3" }) {
        for (const auto& extra : with_and_without_k) {
            FaultRun run;
            std::string recording = run.path("a.rec");
            ProcessResult result = run.run_traced({ "-P", recording, "-e", "trace=splice", "-e", std::string("inject=splice:error=EIO:when=") + call },
                std::vector<std::string> { "-i", recording, "-o", "a.ts", "-c", "list.csv" } + extra);
            EXPECT_EQ(run.injected_calls(), 1);
            EXPECT_EQ(result.output.substr(result.output.rfind('\n')), "\nerror: cannot read " + recording + ": Input/output error") << "splice " << call;
            EXPECT_EQ(result.output.substr(0, messages_before_copy(recording, "a.ts").size()), messages_before_copy(recording, "a.ts"));
            EXPECT_EQ(result.exit_status, failure_status);
            run.expect_recording_intact();
            run.expect_catalogue_unchanged();
        }
    }
}

TEST(Faults, ReadErrorInTheHeader)
{
    REQUIRE_STRACE();
    FaultRun run;
    std::string recording = run.path("a.rec");
    ProcessResult result = run.run_traced({ "-P", recording, "-e", "trace=pread64", "-e", "inject=pread64:error=EIO:when=1" },
        { "-i", recording, "-o", "a.ts", "-c", "list.csv" });
    EXPECT_EQ(run.injected_calls(), 1);
    EXPECT_EQ(result.output, "\nReading " + recording + "\nreading header ...\nerror: cannot read " + recording + ": Input/output error");
    EXPECT_EQ(result.exit_status, failure_status);
    EXPECT_FALSE(std::filesystem::exists(run.folder() / "a.ts"));
    run.expect_catalogue_unchanged();
}

TEST(Faults, ReadErrorInTheBufferedCopy)
{
    REQUIRE_STRACE();
    // Where there is a kernel copy it first declines the copy, so that the copy reads with pread64.
    // The header is the first pread64; the copy's first read fails.
    std::vector<std::string> injection { "-e", "trace=splice,pread64", "-e", "inject=pread64:error=EIO:when=2" };
    if (kernel_copy_built)
        injection = { "-e", "trace=splice,pread64", "-e", "inject=splice:error=EINVAL:when=1", "-e", "inject=pread64:error=EIO:when=2" };
    for (const auto& extra : with_and_without_k) {
        FaultRun run;
        std::string recording = run.path("a.rec");
        ProcessResult result = run.run_traced(std::vector<std::string> { "-P", recording } + injection,
            std::vector<std::string> { "-i", recording, "-o", "a.ts", "-c", "list.csv" } + extra);
        EXPECT_EQ(run.injected_calls(), kernel_copy_built ? 2 : 1);
        EXPECT_EQ(result.output, messages_before_copy(recording, "a.ts") + "\nerror: cannot read " + recording + ": Input/output error");
        EXPECT_EQ(result.exit_status, failure_status);
        run.expect_recording_intact();
        run.expect_catalogue_unchanged();
    }
}

TEST(Faults, DiskFullDuringTheCopy)
{
    REQUIRE_STRACE();
    struct Injection {
        const char* name;
        std::vector<std::string> options;  // applied with -P on the recording and the output
    };
    for (const Injection& injection : { Injection { "first write", { "-e", "trace=splice", "-e", "inject=splice:error=ENOSPC:when=2" } },
             Injection { "later write", { "-e", "trace=splice", "-e", "inject=splice:error=ENOSPC:when=4" } },
             Injection { "buffered write", { "-e", "trace=splice,write", "-e", "inject=splice:error=EINVAL:when=1", "-e", "inject=write:error=ENOSPC:when=3" } } }) {
        // Without a kernel copy only the buffered writes are there to fail.
        if (!kernel_copy_built && std::string(injection.name) != "buffered write")
            continue;
        for (const auto& extra : with_and_without_k) {
            FaultRun run;
            std::string recording = run.path("a.rec");
            std::string output = run.path("a.ts");
            ProcessResult result = run.run_traced(std::vector<std::string> { "-P", recording, "-P", output } + injection.options,
                std::vector<std::string> { "-i", recording, "-o", output, "-c", "list.csv" } + extra);
            EXPECT_EQ(result.output.substr(0, messages_before_copy(recording, output).size()), messages_before_copy(recording, output)) << injection.name;
            EXPECT_GE(run.injected_calls(), 1) << injection.name;
            EXPECT_EQ(result.output.substr(result.output.rfind('\n')), "\nerror: cannot write " + output + ": No space left on device") << injection.name;
            EXPECT_EQ(result.exit_status, failure_status) << injection.name;
            run.expect_recording_intact();
            run.expect_catalogue_unchanged();
        }
    }
}

TEST(Faults, ShortTransfersAreContinued)
{
    REQUIRE_STRACE();
    // Every read and write moves at most 1000 bytes: through the kernel path into a regular file, and
    // through the buffered copy into a pipe. strace only watches, to show the transfers were short.
    for (bool through_pipe : { false, true }) {
        FaultRun run;
        std::string output = through_pipe ? "pipe" : "a.ts";
        std::string script = PELORUS_BINARY " a.rec " + output + " list.csv; echo \" [$?]\"";
        if (through_pipe)
            script = "mkfifo pipe && { cat pipe > b.ts & } && " + script + "; wait";
        ProcessResult result = run.run_command_traced({ "-e", "trace=pread64,write,splice", "-E", "LD_PRELOAD=" PELORUS_SHORT_TRANSFER_LIBRARY },
            { "/bin/sh", "-c", script });
        EXPECT_GT(run.count_in_trace(") = 1000\n"), 3000) << "the transfers were not made short";
        EXPECT_EQ(result.output, messages_before_copy("a.rec", output) + ".. done\nappending list.csv\nall done [0]\n");
        run.expect_complete_output(through_pipe ? "b.ts" : "a.ts");
        run.expect_catalogue_gained_line();
        run.expect_recording_intact();
    }
}

TEST(Faults, InterruptedCallsAreRetried)
{
    REQUIRE_STRACE();
    for (const char* call : { "splice", "pread64" }) {
        if (!kernel_copy_built && std::string(call) == "splice")
            continue;
        FaultRun run;
        std::string recording = run.path("a.rec");
        std::vector<std::string> options { "-P", recording, "-P", run.path("a.ts"), "-e", "trace=splice,pread64",
            "-e", std::string("inject=") + call + ":error=EINTR:when=2+2" };
        // For the buffered copy's reads the kernel first declines the copy.
        if (std::string(call) == "pread64")
            options = options + std::vector<std::string> { "-e", "inject=splice:error=EINVAL:when=1" };
        ProcessResult result = run.run_traced(options, { "-i", recording, "-o", "a.ts", "-c", "list.csv" });
        EXPECT_GE(run.injected_calls(), 2) << call;
        EXPECT_EQ(result.output, messages_before_copy(recording, "a.ts") + ".. done\nappending list.csv\nall done") << call;
        EXPECT_EQ(result.exit_status, 0);
        run.expect_complete_output("a.ts");
        run.expect_catalogue_gained_line();
    }
}

TEST(Faults, CatalogueThatVanishesBetweenTwoOpensIsOpenedAgain)
{
    REQUIRE_STRACE();
    // The catalogue exists when the creating open tries it, and is gone (another program moved it away
    // and back) when the plain open comes: the run tries again rather than failing. The first two opens
    // are the early look at the catalogue.
    FaultRun run;
    std::string catalogue = run.path("list.csv");
    ProcessResult result = run.run_traced({ "-P", catalogue, "-e", "trace=openat", "-e", "inject=openat:error=ENOENT:when=4" },
        { "-t", "a.rec", "-c", catalogue });
    EXPECT_EQ(run.injected_calls(), 1);
    EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nappending " + catalogue + "\nall done");
    EXPECT_EQ(result.exit_status, 0);
    run.expect_catalogue_gained_line();
}

struct SameFileCase {
    const char* name;
    void (*prepare)(const std::filesystem::path& folder);
    std::vector<std::string> arguments;
    std::string message;  // what follows "error: "
};

void PrintTo(const SameFileCase& same_file, std::ostream* stream) { *stream << same_file.name; }

void nothing(const std::filesystem::path&) { }

std::map<std::string, FileState> snapshot(const std::filesystem::path& folder)
{
    std::map<std::string, FileState> state;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        struct stat status { };
        ::lstat(entry.path().c_str(), &status);
        std::string contents = entry.is_symlink() ? std::filesystem::read_symlink(entry.path()).string() : read_file_text(entry.path());
        state[entry.path().filename().string()] = { contents, status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec };
    }
    return state;
}

class Refusal : public testing::TestWithParam<SameFileCase> { };

TEST_P(Refusal, IsMadeBeforeAnythingIsWritten)
{
    const SameFileCase& same_file = GetParam();
    for (const auto& extra : with_and_without_k) {
        FaultRun run;
        same_file.prepare(run.folder());
        std::map<std::string, FileState> before = snapshot(run.folder());
        ProcessResult result = run.run(same_file.arguments + extra);
        EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nerror: " + same_file.message);
        EXPECT_EQ(result.exit_status, failure_status);
        std::map<std::string, FileState> after = snapshot(run.folder());
        EXPECT_EQ(after.size(), before.size()) << "a file was created";
        for (const auto& [name, state] : before) {
            EXPECT_EQ(after[name].contents, state.contents) << name;
            EXPECT_EQ(after[name].modified_ns, state.modified_ns) << name;
        }
        run.expect_recording_intact();
    }
}

void other_recordings(const std::filesystem::path& folder)
{
    write_file(folder / "b.rec", build_recording({}, 1000));
    write_file(folder / "c.rec", build_recording({}, 1000));
}

void notes(const std::filesystem::path& folder) { write_file(folder / "notes.txt", std::string("call the plumber\n")); }

INSTANTIATE_TEST_SUITE_P(Faults, Refusal,
    testing::Values(
        // Slips at the command line: a glob over recordings, a forgotten .ts, a catalogue mistyped.
        SameFileCase { "GlobOfRecordings", other_recordings, { "a.rec", "b.rec", "c.rec" }, "cannot write b.rec: it is a recording" },
        SameFileCase { "GlobOfRecordingsCatalogueOnly", other_recordings, { "-t", "a.rec", "b.rec", "c.rec" }, "cannot write c.rec: it is not a catalogue" },
        SameFileCase { "ForgottenOutputNamesTheCatalogue", nothing, { "a.rec", "list.csv" }, "cannot write list.csv: it is a catalogue" },
        SameFileCase { "ForgottenOutputNamesAUtf8Catalogue",
            [](const auto& folder) { write_file(folder / "utf8.csv", "\xEF\xBB\xBF" + older_catalogue); },
            { "a.rec", "utf8.csv" }, "cannot write utf8.csv: it is a catalogue" },
        SameFileCase { "TheMarkBeforeAnythingElseIsNoCatalogue",
            [](const auto& folder) { write_file(folder / "photos.csv", std::string("\xEF\xBB\xBF" "Filename,Camera,Taken\n")); },
            { "-u", "a.rec", "a.ts", "photos.csv" }, "cannot write photos.csv: it is not a catalogue" },
        SameFileCase { "CatalogueIsNotACatalogue", notes, { "a.rec", "a.ts", "notes.txt" }, "cannot write notes.txt: it is not a catalogue" },
        SameFileCase { "StartingAfreshEmptiesOnlyACatalogue", notes, { "-a", "a.rec", "a.ts", "notes.txt" }, "cannot write notes.txt: it is not a catalogue" },
        SameFileCase { "OnlyTheWholeHeaderLineMakesACatalogue",
            [](const auto& folder) { write_file(folder / "photos.csv", std::string("Filename,Camera,Taken\nbeach.jpg,X100,2026-08-01\n")); },
            { "-a", "a.rec", "a.ts", "photos.csv" }, "cannot write photos.csv: it is not a catalogue" },
        SameFileCase { "CatalogueIsALinkToNothing", [](const auto& folder) { std::filesystem::create_symlink("unmounted/list.csv", folder / "gone.csv"); },
            { "a.rec", "a.ts", "gone.csv" }, "cannot open gone.csv: No such file or directory" },
        SameFileCase { "OutputIsInputSamePath", nothing, { "a.rec", "a.rec", "list.csv" }, "cannot write a.rec: it is the input file" },
        SameFileCase { "OutputIsInputOtherSpelling", nothing, { "a.rec", "./a.rec", "list.csv" }, "cannot write ./a.rec: it is the input file" },
        SameFileCase { "OutputIsInputHardLink", [](const auto& folder) { std::filesystem::create_hard_link(folder / "a.rec", folder / "hard.ts"); },
            { "a.rec", "hard.ts", "list.csv" }, "cannot write hard.ts: it is the input file" },
        SameFileCase { "OutputIsInputSymlink", [](const auto& folder) { std::filesystem::create_symlink("a.rec", folder / "soft.ts"); },
            { "a.rec", "soft.ts", "list.csv" }, "cannot write soft.ts: it is the input file" },
        SameFileCase { "CatalogueIsInputSamePath", nothing, { "a.rec", "a.ts", "a.rec" }, "cannot write a.rec: it is the input file" },
        SameFileCase { "CatalogueIsInputOtherSpelling", nothing, { "-t", "a.rec", "a.ts", "./a.rec" }, "cannot write ./a.rec: it is the input file" },
        SameFileCase { "CatalogueIsInputHardLink", [](const auto& folder) { std::filesystem::create_hard_link(folder / "a.rec", folder / "hard.csv"); },
            { "a.rec", "a.ts", "hard.csv" }, "cannot write hard.csv: it is the input file" },
        SameFileCase { "CatalogueIsInputSymlink", [](const auto& folder) { std::filesystem::create_symlink("a.rec", folder / "soft.csv"); },
            { "-t", "a.rec", "a.ts", "soft.csv" }, "cannot write soft.csv: it is the input file" },
        SameFileCase { "CatalogueIsOutputSamePath", nothing, { "a.rec", "new.ts", "new.ts" }, "cannot write new.ts: it is the output file" },
        SameFileCase { "CatalogueIsOutputOtherSpelling", nothing, { "a.rec", "new.ts", "./new.ts" }, "cannot write ./new.ts: it is the output file" },
        SameFileCase { "CatalogueIsOutputHardLink",
            [](const auto& folder) {
                write_file(folder / "old.ts", std::string("older stream"));
                std::filesystem::create_hard_link(folder / "old.ts", folder / "hard.csv");
            },
            { "a.rec", "old.ts", "hard.csv" }, "cannot write hard.csv: it is the output file" },
        SameFileCase { "CatalogueIsOutputSymlinkNotYetCreated", [](const auto& folder) { std::filesystem::create_symlink("new.ts", folder / "soft.csv"); },
            { "a.rec", "new.ts", "soft.csv" }, "cannot write soft.csv: it is the output file" }),
    [](const testing::TestParamInfo<SameFileCase>& info) { return std::string(info.param.name); });

// Runs pelorus with one system call held back for 1.5 s while another program changes a file, half a
// second in; the output ends with the exit status in brackets. A run that does not end in 30 s is
// stopped, and shows as [124].
ProcessResult run_while_changing(const FaultRun& run, const std::string& held_call, const std::string& change, const std::string& arguments)
{
    std::string script = "(sleep 0.5; " + change + ") & timeout 30 strace -qq -o /dev/null -E '" + sanitizer_options_under_trace() + "' " + held_call
        + " \"" PELORUS_BINARY "\" " + arguments + "; echo \" [$?]\"; wait";
    return run_process({ "/bin/sh", "-c", script }, run.folder());
}

const std::string hold_output_open = "-P a.ts -e trace=openat -e inject=openat:delay_enter=1500000";
const std::string hold_first_flush = "-e trace=fsync -e inject=fsync:delay_enter=1500000:when=1";

TEST(Faults, FilesChangedBeforeTheyAreOpened)
{
    REQUIRE_STRACE();
    // While the .ts file's open is held back, after the early checks found nothing wrong, another
    // program puts something else at the output or at the catalogue path: each file is judged again as
    // it is opened. A recording cut short makes the copy end early, which is not the end of the
    // recording it was asked to copy.
    const std::string notes = "call the plumber\n";
    struct Change {
        const char* name;
        std::string change;
        std::string arguments;
        std::string output_after_copy;  // empty for a run refused when the .ts file is opened
        std::string last_line;
        std::string catalogue_after;
    };
    for (const Change& change : {
             Change { "link to the recording at the output", "ln -s a.rec a.ts", "-k a.rec a.ts list.csv", "",
                 "\nerror: cannot write a.ts: it is the input file", older_catalogue },
             Change { "link to another recording at the output", "ln -s b.rec a.ts", "-k a.rec a.ts list.csv", "",
                 "\nerror: cannot write a.ts: it is a recording", older_catalogue },
             Change { "link to the catalogue at the output", "ln -s list.csv a.ts", "-k a.rec a.ts other.csv", "",
                 "\nerror: cannot write a.ts: it is a catalogue", older_catalogue },
             Change { "recording cut short", "truncate -s 100000 a.rec", "a.rec a.ts list.csv", "..",
                 "\nerror: cannot read a.rec: the file shrank during the copy", older_catalogue },
             Change { "notes put at the catalogue", "mv notes.txt list.csv", "-a -k a.rec a.ts list.csv", ".. done\ncreating list.csv",
                 "\nerror: cannot write list.csv: it is not a catalogue", notes },
             Change { "link to a recording put at the catalogue", "ln -sf b.rec list.csv", "-k a.rec a.ts list.csv", ".. done\nappending list.csv",
                 "\nerror: cannot write list.csv: it is not a catalogue", "" },
             Change { "link to nothing put at the catalogue", "ln -sf missing/list.csv list.csv", "-k a.rec a.ts list.csv",
                 ".. done\ncreating list.csv", "\nerror: cannot open list.csv: No such file or directory", "" } }) {
        FaultRun run;
        write_file(run.folder() / "b.rec", build_recording({}, 1000));
        write_file(run.folder() / "notes.txt", notes);
        ProcessResult result = run_while_changing(run, hold_output_open, change.change, change.arguments);
        std::string before = change.output_after_copy.empty() ? "\nReading a.rec\nreading header ...\nWriting a.ts"
                                                              : messages_before_copy("a.rec", "a.ts") + change.output_after_copy;
        EXPECT_EQ(result.output, before + change.last_line + " [255]\n") << change.name;
        if (change.change.starts_with("truncate"))
            continue;
        run.expect_recording_intact();
        EXPECT_TRUE(read_file_bytes(run.folder() / "b.rec") == build_recording({}, 1000)) << change.name;
        if (!change.catalogue_after.empty()) {
            EXPECT_EQ(read_file_text(run.folder() / "list.csv"), change.catalogue_after) << change.name;
        }
    }
}

TEST(SafeRemoval, RecordingChangedDuringTheRunIsKept)
{
    REQUIRE_STRACE();
    // The .ts file's flush is held back while a writer adds to the recording or rewrites it in place,
    // or another program adds to the .ts file just written.
    for (auto [change, reason] : { std::pair { "head -c 100000 /dev/urandom >> a.rec", "it changed during the run" },
             std::pair { "touch -d '2030-01-01' a.rec", "it changed during the run" },
             std::pair { "printf x >> a.ts", "the .ts file changed after it was written" } }) {
        FaultRun run;
        ProcessResult result = run_while_changing(run, hold_first_flush, change, "-k a.rec a.ts list.csv");
        EXPECT_EQ(result.output, messages_before_copy("a.rec", "a.ts") + ".. done\nappending list.csv\nkeeping a.rec: " + reason + "\nall done [0]\n")
            << change;
        EXPECT_TRUE(std::filesystem::exists(run.folder() / "a.rec")) << change;
        run.expect_catalogue_gained_line();
    }
}

TEST(Faults, RunWaitsForTheCatalogueLock)
{
    // This test holds the lock for a second while a run wants the catalogue; the run must not write
    // until the lock is given up, and then add its line.
    FaultRun run;
    std::string script = "exec 9>>list.csv && flock 9 && "
                         "{ (\"" PELORUS_BINARY "\" -t a.rec a.ts list.csv; echo \" [$?]\") > out 9>&- & } && "
                         "sleep 1 && cp list.csv during.csv && flock -u 9 && exec 9>&- && wait && cat out";
    ProcessResult result = run_process({ "/bin/sh", "-c", script }, run.folder());
    EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nappending list.csv\nall done [0]\n");
    EXPECT_EQ(read_file_text(run.folder() / "during.csv"), older_catalogue) << "the run wrote while the lock was held";
    run.expect_catalogue_gained_line();
}

TEST(SafeRemoval, EverythingIsOnTheDiskBeforeTheRecordingGoes)
{
    REQUIRE_STRACE();
    // An existing catalogue, and a new one whose folder entry must be made durable as well.
    for (std::string catalogue : { "list.csv", "sub/new.csv" }) {
        FaultRun run;
        std::filesystem::create_directory(run.folder() / "sub");
        ProcessResult result = run.run_traced({ "-y", "-e", "trace=fsync,fdatasync,unlink,unlinkat,close" }, { "-k", "a.rec", "a.ts", catalogue });
        ASSERT_EQ(result.exit_status, 0) << result.output;
        std::string folder = std::filesystem::canonical(run.folder()).string();
        std::size_t removal = run.trace().find("unlink");
        ASSERT_NE(removal, std::string::npos);
        std::vector<std::string> must_sync { folder + "/a.ts>", folder + ">", folder + "/" + catalogue + ">" };
        if (catalogue == "sub/new.csv")
            must_sync.push_back(folder + "/sub>");
        for (const std::string& synced : must_sync) {
            bool found = false;
            for (std::size_t at = run.trace().find("sync("); at != std::string::npos && at < removal; at = run.trace().find("sync(", at + 1)) {
                std::size_t end = run.trace().find(')', at);
                if (run.trace().substr(at, end - at).ends_with("<" + synced) && run.trace().compare(end, 5, ") = 0") == 0)
                    found = true;
            }
            EXPECT_TRUE(found) << synced << " was not synced before the recording was removed:\n" << run.trace();
        }
        // The catalogue stays locked until the recording is gone, so that no other run's -a empties its
        // line meanwhile: its last handle is closed after the removal.
        std::size_t last_close = std::string::npos;
        for (std::size_t at = run.trace().find("close("); at != std::string::npos; at = run.trace().find("close(", at + 1))
            if (run.trace().compare(run.trace().find(')', at) - catalogue.size() - 2, catalogue.size() + 2, "/" + catalogue + ">") == 0)
                last_close = at;
        EXPECT_TRUE(last_close != std::string::npos && last_close > removal) << "the catalogue was let go before the removal:\n" << run.trace();
    }
}

TEST(SafeRemoval, CompleteRunRemovesTheRecordingLast)
{
    FaultRun run;
    ProcessResult result = run.run({ "-k", "a.rec", "a.ts", "list.csv" });
    EXPECT_EQ(result.output, messages_before_copy("a.rec", "a.ts") + ".. done\nappending list.csv\ndeleting a.rec\nall done");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_FALSE(std::filesystem::exists(run.folder() / "a.rec"));
    run.expect_complete_output("a.ts");
    run.expect_catalogue_gained_line();
}

TEST(SafeRemoval, WithoutStreamTheRecordingIsKept)
{
    FaultRun run;
    ProcessResult result = run.run({ "-k", "-t", "a.rec", "a.ts", "list.csv" });
    EXPECT_EQ(result.output, "\nReading a.rec\nreading header ...\nappending list.csv\nkeeping a.rec: no .ts file written\nall done");
    EXPECT_EQ(result.exit_status, 0);
    run.expect_recording_intact();
    run.expect_catalogue_gained_line();
}

TEST(SafeRemoval, KeepsWhatItMustNotRemove)
{
    struct Case {
        const char* name;
        std::string script;  // runs pelorus as $P with -k
        std::string kept_line;
    };
    for (const Case& keep : { Case { "input is a symbolic link", "ln -s a.rec link.rec && $P -k -i link.rec -o a.ts -c list.csv",
                                  "\nkeeping link.rec: it is not a regular file" },
             Case { "input is standard input", "$P -k -i /dev/stdin -o a.ts -c list.csv < a.rec", "\nkeeping /dev/stdin: it is not a regular file" },
             Case { "output is /dev/null", "$P -k a.rec /dev/null list.csv", "\nkeeping a.rec: the .ts file is not a regular file" },
             Case { "output is a FIFO", "mkfifo pipe && { cat pipe > b.ts & } && $P -k a.rec pipe list.csv",
                 "\nkeeping a.rec: the .ts file is not a regular file" },
             Case { "catalogue is /dev/null", "$P -k a.rec a.ts /dev/null", "\nkeeping a.rec: the catalogue is not a regular file" },
             Case { "catalogue is a link to /dev/null", "ln -s /dev/null null.csv && $P -k a.rec a.ts null.csv",
                 "\nkeeping a.rec: the catalogue is not a regular file" } }) {
        FaultRun run;
        ProcessResult result = run_process({ "/bin/sh", "-c", "P=\"" PELORUS_BINARY "\"; " + keep.script + "; echo \" [$?]\"; wait" }, run.folder());
        std::string appended = result.output.substr(result.output.rfind("\nappending"));
        EXPECT_EQ(appended.substr(appended.find(keep.kept_line)), keep.kept_line + "\nall done [0]\n") << keep.name << ": " << result.output;
        run.expect_recording_intact();
    }
}

TEST(SafeRemoval, FailedRemovalIsAnError)
{
    REQUIRE_STRACE();
    FaultRun run;
    std::string recording = run.path("a.rec");
    ProcessResult result = run.run_traced({ "-P", recording, "-e", "trace=unlink,unlinkat", "-e", "inject=unlink,unlinkat:error=EACCES" },
        { "-k", "-i", recording, "-o", "a.ts", "-c", "list.csv" });
    EXPECT_EQ(run.injected_calls(), 1);
    EXPECT_EQ(result.output, messages_before_copy(recording, "a.ts") + ".. done\nappending list.csv\ndeleting " + recording + "\nerror: cannot delete " + recording + ": Permission denied");
    EXPECT_EQ(result.exit_status, failure_status);
    run.expect_recording_intact();
}

TEST(SafeRemoval, EarlierFailuresKeepTheRecording)
{
    // Each script runs pelorus as $P with -k; $T runs what follows under strace. Another run's .ts is
    // held by flock(1), which locks the file and then starts pelorus.
    struct Failure {
        const char* name;
        std::string script;
        std::string last_line;
        bool needs_strace = false;
    };
    for (const Failure& failure : {
             Failure { "output cannot be opened", "mkdir dir && $P -k a.rec dir list.csv", "\nerror: cannot open dir: Is a directory" },
             Failure { "catalogue cannot be opened", "mkdir dir && $P -k a.rec a.ts dir", "\nerror: cannot open dir: Is a directory" },
             Failure { "another run writes the .ts", "printf 'the other stream' > a.ts && flock a.ts $P -k a.rec a.ts list.csv",
                 "\nerror: cannot write a.ts: another run is writing it" },
             Failure { "another run converts the recording", "flock a.rec $P -k a.rec a.ts list.csv",
                 "\nerror: cannot read a.rec: another run is converting it" },
             // Another run writes the whole .ts and goes while this one waits inside its lock call.
             Failure { "another run wrote the .ts meanwhile",
                 ": > a.ts && { $T -P a.ts -e trace=flock -e inject=flock:delay_enter=2000000 $P -k a.rec a.ts list.csv & } && "
                 "sleep 0.7 && printf 'the other stream' > a.ts && wait $!",
                 "\nerror: cannot write a.ts: another run is writing it", true },
             Failure { "the .ts cannot be locked", ": > a.ts && $T -P a.ts -e trace=flock -e inject=flock:error=ENOLCK $P -k a.rec a.ts list.csv",
                 "\nerror: cannot lock a.ts: No locks available", true },
             Failure { "the catalogue cannot be locked", "$T -P list.csv -e trace=flock -e inject=flock:error=ENOLCK $P -k a.rec a.ts list.csv",
                 "\nerror: cannot lock list.csv: No locks available", true },
             Failure { "a torn line cannot be cut back",
                 "$T -P list.csv -e trace=write,ftruncate -e inject=write:error=ENOSPC -e inject=ftruncate:error=EIO $P -k a.rec a.ts list.csv",
                 "\nerror: cannot write list.csv: No space left on device; its last line may be incomplete", true },
             // A file-size limit is a write error like a full disk, not a signal that ends the run half way.
             Failure { "file-size limit on the .ts", "prlimit --fsize=100000 $P -k a.rec a.ts list.csv", "\nerror: cannot write a.ts: File too large" },
             Failure { "file-size limit in the catalogue line", "prlimit --fsize=$(($(wc -c < list.csv) + 50)) $P -k -t a.rec -c list.csv",
                 "\nerror: cannot write list.csv: File too large" } }) {
        if (failure.needs_strace && !strace_works())
            continue;
        FaultRun run;
        std::string script = "P=\"" PELORUS_BINARY "\"; T=\"strace -f -qq -o /dev/null -E " + sanitizer_options_under_trace() + "\"; "
            + failure.script + "; echo \" [$?]\"";
        ProcessResult result = run_process({ "/bin/sh", "-c", script }, run.folder());
        EXPECT_TRUE(result.output.ends_with(failure.last_line + " [255]\n")) << failure.name << ": " << result.output;
        run.expect_recording_intact();
        run.expect_catalogue_unchanged();
        if (std::string(failure.name).starts_with("another run wr")) {
            EXPECT_EQ(read_file_text(run.folder() / "a.ts"), "the other stream");
        }
        // The next run's line is a record of its own, as a CSV reader sees it.
        if (std::string(failure.name).starts_with("file-size limit") && can_run({ "python3", "-c", "import csv" })) {
            ASSERT_EQ(run.run({ "-t", "a.rec", "-c", "list.csv" }).exit_status, 0);
            ProcessResult read_back = run_process({ "python3", "-c",
                "import csv; rows = list(csv.reader(open('list.csv', newline=''))); print(len(rows), rows[-1][0], len(rows[-1]))" }, run.folder());
            EXPECT_EQ(read_back.output, "3 a.rec 20\n") << failure.name;
        }
    }
}

TEST(Faults, StoppedBatchIsResumedByARerun)
{
    // The second recording is a FIFO whose writer stalls part way, so the batch is surely inside its
    // copy when it is stopped; then a rerun, with the recording now whole, finishes the batch. SIGTERM
    // stands in for Ctrl-C, since a shell that is not interactive starts its background commands
    // with SIGINT ignored.
    FaultRun run;
    std::filesystem::create_directory(run.folder() / "recs");
    std::vector<std::uint8_t> second = build_recording({}, 200000);
    write_file(run.folder() / "second.rec", second);
    for (const char* name : { "a.rec", "c.rec" })
        std::filesystem::copy_file(run.folder() / "a.rec", run.folder() / "recs" / name);
    std::string script = "P=\"" PELORUS_BINARY "\"; mkfifo recs/b.rec || exit; "
                         "sh -c 'exec > recs/b.rec; head -c 100000 second.rec; exec sleep 30' & writer=$!; "
                         "$P -b recs -c list.csv > first & batch=$!; "
                         "while [ \"$(stat -c %s recs/b.ts 2>/dev/null)\" != 96240 ]; do sleep 0.02; done; kill -TERM $batch; wait $batch; "
                         "echo \"first [$?]\"; stat -c %s recs/b.ts; "
                         "kill $writer; rm recs/b.rec && cp second.rec recs/b.rec && $P -b recs -c list.csv; echo \" [$?]\"";
    ProcessResult result = run_process({ "/bin/sh", "-c", script }, run.folder());
    std::string copied = "\nprocessing file ..... done\nappending list.csv";
    // The stopped batch abandoned its read of the stalled pipe at once, left the .ts as it was, and
    // ended as the signal ends a process.
    EXPECT_EQ(without_times(result.output), "first [143]\n96240\n"
            "\nrecording 1 of 3 (3.0 MiB), 0 bytes of 6.2 MiB done\nskipping recs/a.rec: already in list.csv"
            "\nrecording 2 of 3 (195.3 KiB), 0 bytes of 3.2 MiB done\nReading recs/b.rec\nreading header ...\nWriting recs/b.ts" + copied
            + "\nrecording 3 of 3 (3.0 MiB), 195.3 KiB of 3.2 MiB done\nReading recs/c.rec\nreading header ...\nWriting recs/c.ts" + copied
            + "\n3 recordings: 2 converted, 1 skipped, 0 failed\n3.2 MiB written in T\nall done [0]\n");
    // It had said all it did for the recording it finished, which .ts it left, and what it never reached.
    EXPECT_EQ(without_times(read_file_text(run.folder() / "first")), "\nrecording 1 of 3 (3.0 MiB), 0 bytes done\nReading recs/a.rec"
            "\nreading header ...\nWriting recs/a.ts" + copied + "\nrecording 2 of 3 (size unknown), 3.0 MiB done\nReading recs/b.rec"
            "\nreading header ...\nWriting recs/b.ts\nprocessing file ...\ninterrupted: recs/b.ts is not whole"
            "\n3 recordings: 1 converted, 0 skipped, 1 failed\nfailed: recs/b.rec\n  interrupted: recs/b.ts is not whole"
            "\nnever reached: 1 recording\n3.1 MiB written in T");
    EXPECT_TRUE(read_file_bytes(run.folder() / "recs" / "b.ts") == std::vector<std::uint8_t>(second.begin() + 3760, second.end()));
    std::string catalogue = read_file_text(run.folder() / "list.csv");
    EXPECT_EQ(catalogue.substr(0, older_catalogue.size()), older_catalogue);
    EXPECT_EQ(std::count(catalogue.begin(), catalogue.end(), '\n'), 5) << catalogue;
    for (const char* name : { "recs/a.rec,", "recs/b.rec,", "recs/c.rec," })
        EXPECT_EQ(catalogue.find(name), catalogue.rfind(name)) << name << " is catalogued twice";
}

// What an interruption leaves, after what it came in.
struct Interruption {
    const char* name;
    // $P runs pelorus, each transfer slowed down; `until_size F N` waits for F to hold N bytes, and
    // `guard` kills a run after 20 s.
    const char* script;
    const char* output;  // what the script prints, the run's messages last
    enum { not_whole, whole, none } stream;  // what a.ts holds after
    bool line_written;
    bool recording_kept;
};

void PrintTo(const Interruption& interruption, std::ostream* stream) { *stream << interruption.name; }

class Interrupted : public testing::TestWithParam<Interruption> { };

TEST_P(Interrupted, SaysWhatItLeftAndEndsAsTheSignalWould)
{
    const Interruption& interruption = GetParam();
    FaultRun run;
    // A shell that is not interactive starts its background commands with SIGINT ignored; env gives
    // pelorus the default back, as a terminal's shell would.
    std::string script = "P=\"env --default-signal=INT LD_PRELOAD=" PELORUS_SHORT_TRANSFER_LIBRARY " PELORUS_SHORT_TRANSFER_BYTES=65536 "
                         "PELORUS_TRANSFER_DELAY_US=10000 " + sanitizer_options_under_trace() + " " PELORUS_BINARY "\"; "
                         "until_size() { n=0; until [ \"$(stat -c %s \"$1\" 2>/dev/null || echo 0)\" -ge \"$2\" ] || [ $n -gt 2000 ]; do "
                         "sleep 0.01; n=$((n+1)); done; }; "
                         // A run that does not end as it should is ended, and the test fails on its status.
                         "guard() { ( sleep 20; kill -KILL $1 ) > /dev/null 2>&1 & guarding=$!; }; "
                         + std::string(interruption.script) + "; kill $guarding";
    ProcessResult result = run_process({ "/bin/sh", "-c", script }, run.folder());
    EXPECT_EQ(result.output, interruption.output);
    std::vector<std::uint8_t> stream;
    if (std::filesystem::exists(run.folder() / "a.ts"))
        stream = read_file_bytes(run.folder() / "a.ts");
    switch (interruption.stream) {
    case Interruption::not_whole:
        EXPECT_GT(stream.size(), 0U);
        EXPECT_LT(stream.size(), std::size_t { 3 << 20 }) << "the copy was not stopped part way";
        break;
    case Interruption::whole:
        run.expect_complete_output("a.ts");
        break;
    case Interruption::none:
        EXPECT_FALSE(std::filesystem::exists(run.folder() / "a.ts"));
        break;
    }
    if (interruption.line_written)
        run.expect_catalogue_gained_line();
    else
        run.expect_catalogue_unchanged();
    if (interruption.recording_kept)
        run.expect_recording_intact();
    else
        EXPECT_FALSE(std::filesystem::exists(run.folder() / "a.rec"));
}

INSTANTIATE_TEST_SUITE_P(Faults, Interrupted,
    testing::Values(
        // Mid-copy the copy stops at the end of its piece; -k deletes nothing, and no line is written.
        Interruption { "MidCopy",
            "$P -k a.rec a.ts list.csv > out & run=$!; guard $run; until_size a.ts 1; kill -INT $run; wait $run; echo \"[$?]\"; cat out",
            "[130]\n\nReading a.rec\nreading header ...\nWriting a.ts\nprocessing file ...\ninterrupted: a.ts is not whole",
            Interruption::not_whole, false, true },
        // A read blocked on a stalled pipe is abandoned at once; with -t nothing is written, so the
        // recording is what was not finished.
        Interruption { "BlockedOnAStalledPipe",
            "mkfifo f.rec; { head -c 100000 a.rec; sleep 30; } > f.rec & writer=$!; "
            "$P -t -s f.rec a.ts list.csv > out & run=$!; guard $run; sleep 0.5; kill -TERM $run; wait $run; echo \"[$?]\"; kill $writer; cat out",
            "[143]\n\nReading f.rec\nreading header ...\nchecking stream ...\ninterrupted: f.rec was not finished",
            Interruption::none, false, true },
        // Once the copy is whole, the run waits on for the catalogue's lock, writes the line, and -k
        // deletes the recording; only then does it end.
        Interruption { "AfterTheCopyIsWhole",
            "exec 9>>list.csv; flock 9; $P -k a.rec a.ts list.csv > out 9>&- & run=$!; guard $run; until_size a.ts 3145728; sleep 0.3; "
            "kill -INT $run; sleep 0.5; kill -0 $run && echo waiting; flock -u 9; exec 9>&-; wait $run; echo \"[$?]\"; cat out",
            "waiting\n[130]\n\nReading a.rec\nreading header ...\nWriting a.ts\nprocessing file ..... done\nappending list.csv"
            "\ndeleting a.rec\nall done",
            Interruption::whole, true, false },
        // A second signal ends the run at once, lock or no lock: not even the messages it holds for a
        // file are written out.
        Interruption { "TwiceEndsAtOnce",
            "exec 9>>list.csv; flock 9; $P -k a.rec a.ts list.csv > out 9>&- & run=$!; guard $run; until_size a.ts 3145728; sleep 0.3; "
            "kill -INT $run; sleep 0.2; kill -INT $run; wait $run; echo \"[$?]\"; cat out",
            "[130]\n",
            Interruption::whole, false, true },
        // A signal ignored when the run starts, as nohup leaves it, stays ignored.
        Interruption { "IgnoredStaysIgnored",
            "trap '' TERM; $P a.rec a.ts list.csv > out & run=$!; guard $run; until_size a.ts 1; kill -TERM $run; wait $run; echo \"[$?]\"; cat out",
            "[0]\n\nReading a.rec\nreading header ...\nWriting a.ts\nprocessing file ..... done\nappending list.csv\nall done",
            Interruption::whole, true, true }),
    [](const testing::TestParamInfo<Interruption>& info) { return std::string(info.param.name); });

TEST(Faults, CatalogueStartedAfreshDuringABatchIsNoticed)
{
    // The batch has read a catalogue of one line. While it copies a.rec, which comes through a FIFO that
    // stalls, another run's -a empties the catalogue and writes b.rec's line: as long as the old one,
    // with the same last 256 bytes. The batch must neither write b.rec's line again nor take x.rec's
    // line for one still there.
    for (const std::string& extra : { std::string(), std::string(" -k") }) {
        FaultRun run;
        std::filesystem::create_directory(run.folder() / "recs");
        RecordingFields daily;
        daily.event_description = std::string(300, 'd');
        std::vector<std::uint8_t> b = build_recording(daily, 300000);
        write_file(run.folder() / "recs" / "b.rec", b);
        write_file(run.folder() / "a.src", build_recording({}, 200000));
        std::string x_line = catalogue_row("recs/x.rec", *RecordingHeader::parse(b));
        write_file(run.folder() / "list.csv", std::string(catalogue_header_line()) + x_line);
        std::string script = "P=\"" PELORUS_BINARY "\"; mkfifo recs/a.rec || exit; "
                             "sh -c 'exec > recs/a.rec; head -c 100000 a.src; while [ ! -e go ]; do sleep 0.02; done; tail -c +100001 a.src' & "
                             "$P -b recs -c list.csv" + extra + " > batch.out & batch=$!; "
                             "while [ ! -s recs/a.ts ]; do sleep 0.02; done; $P -a -t recs/b.rec -c list.csv > afresh.out; touch go; "
                             "wait $batch; echo \"[$?]\"";
        ProcessResult result = run_process({ "/bin/sh", "-c", script }, run.folder());
        EXPECT_EQ(result.output, "[0]\n") << read_file_text(run.folder() / "batch.out");
        std::string b_line = catalogue_row("recs/b.rec", *RecordingHeader::parse(b));
        ASSERT_EQ(b_line.size(), x_line.size());
        std::string catalogue = read_file_text(run.folder() / "list.csv");
        EXPECT_EQ(catalogue.find(b_line), catalogue.rfind(b_line)) << "b.rec's line was written twice:\n" << catalogue;
        EXPECT_EQ(catalogue.find("recs/x.rec,"), std::string::npos);
        EXPECT_NE(catalogue.find("recs/a.rec,"), std::string::npos);
        EXPECT_EQ(std::count(catalogue.begin(), catalogue.end(), '\n'), 3) << catalogue;
        EXPECT_TRUE(read_file_bytes(run.folder() / "recs" / "b.ts") == std::vector<std::uint8_t>(b.begin() + 3760, b.end()));
        EXPECT_EQ(std::filesystem::exists(run.folder() / "recs" / "b.rec"), extra.empty());
    }
}

TEST(Faults, BatchesWhereRecordingsCannotBeLockedTakeTurnsAtEachStream)
{
    // Over NFS a recording opened for reading cannot be locked, so two batches at once both start on
    // one recording; the one that finds its .ts locked puts it last and judges it again there.
    constexpr int count = 12;
    int put_last = 0;
    for (const std::string& extra : { std::string(), std::string(" -k") }) {
        for (int round = 0; round < 3; ++round) {
            FaultRun run;
            std::filesystem::create_directory(run.folder() / "recs");
            std::vector<std::vector<std::uint8_t>> recordings;
            std::vector<std::string> names;
            for (int index = 0; index < count; ++index) {
                RecordingFields fields;
                fields.event_id = static_cast<std::uint16_t>(index);
                recordings.push_back(build_recording(fields, static_cast<std::size_t>(index + 1) * 100000));
                std::string name = "r";
                name += std::to_string(100 + index);
                name += ".rec";
                write_file(run.folder() / "recs" / name, recordings.back());
                names.push_back(name);
            }
            // Named one by one in the reverse order; with -k, by the folder, since a recording named that
            // the other batch deleted is a failure.
            std::string backward;
            for (auto name = names.rbegin(); name != names.rend(); ++name)
                backward += " ./recs/" + *name;
            if (!extra.empty())
                backward = " ./recs/";
            std::string preload = "env LD_PRELOAD=" PELORUS_NFS_LOCKS_LIBRARY " " + sanitizer_options_under_trace() + " \"" PELORUS_BINARY "\"";
            std::string script = preload + " -b recs -c list.csv" + extra + " > one & " + preload + " -b" + backward + " -c list.csv" + extra
                + " > other; echo \"[$?]\"; wait $!; echo \"[$?]\"";
            ProcessResult result = run_process({ "/bin/sh", "-c", script }, run.folder());
            std::string outputs = read_file_text(run.folder() / "one") + read_file_text(run.folder() / "other");
            EXPECT_EQ(result.output, "[0]\n[0]\n") << outputs;
            int put_last_here = 0;
            for (std::size_t at = outputs.find("\nputting "); at != std::string::npos; at = outputs.find("\nputting ", at + 1))
                ++put_last_here;
            int second_looks = 0;
            for (std::size_t at = outputs.find(", a second look ("); at != std::string::npos; at = outputs.find(", a second look (", at + 1))
                ++second_looks;
            // One put last says only its place and why, and its place again when its turn comes.
            EXPECT_EQ(outputs.find("reading header ...\nputting "), std::string::npos) << outputs;
            EXPECT_EQ(second_looks, put_last_here) << outputs;
            put_last += put_last_here;
            std::string catalogue = read_file_text(run.folder() / "list.csv");
            EXPECT_EQ(std::count(catalogue.begin(), catalogue.end(), '\n'), count + 2) << catalogue;
            for (int index = 0; index < count; ++index) {
                std::string name = "r";
                name += std::to_string(100 + index);
                std::string filename = "/" + name + ".rec,";
                EXPECT_NE(catalogue.find(filename), std::string::npos) << name << " has no line";
                EXPECT_EQ(catalogue.find(filename), catalogue.rfind(filename)) << name << " has two lines";
                const std::vector<std::uint8_t>& recording = recordings[static_cast<std::size_t>(index)];
                EXPECT_TRUE(read_file_bytes(run.folder() / "recs" / (name + ".ts")) == std::vector<std::uint8_t>(recording.begin() + 3760, recording.end()))
                    << name;
                EXPECT_EQ(std::filesystem::exists(run.folder() / "recs" / (name + ".rec")), extra.empty()) << name;
            }
        }
    }
    EXPECT_GT(put_last, 0) << "the two batches never met at one .ts file";
}

TEST(Faults, SmallFileSystemFillsUp)
{
    if (!private_mounts_work())
        GTEST_SKIP() << "no private mount namespace here (unshare -m and mount need privileges)";
    struct Case {
        const char* name;
        std::string arguments;
        std::string failing_path;
    };
    for (const Case& full : { Case { "stream", "-i a.rec -o small/a.ts -c list.csv", "small/a.ts" },
             Case { "catalogue", "-i a.rec -o a.ts -c small/list.csv", "small/list.csv" },
             Case { "catalogue mid-line", "-i a.rec -o a.ts -c small/list.csv", "small/list.csv" } }) {
        for (const auto& extra : with_and_without_k) {
            FaultRun run;
            std::filesystem::create_directory(run.folder() / "small");
            std::string options = full.arguments + (extra.empty() ? "" : " -k");
            // A 1 MiB tmpfs seen by this run alone; for the catalogue case it is filled first. It goes
            // with the run's mount namespace, so what the run left on it is copied out first.
            // In the mid-line case the catalogue's one page has room for 50 bytes of the line, no more.
            std::string script = "mount -t tmpfs -o size=1m tmpfs small && "
                                 "{ [ \"$0\" != 'catalogue mid-line' ] || { cat list.csv; head -c $((4096 - 50 - $(wc -c < list.csv))) /dev/zero | tr '\\0' x; echo; } > small/list.csv; } && "
                                 "{ [ \"$0\" = stream ] || head -c 2M /dev/zero > small/filler 2>/dev/null; true; } && "
                                 PELORUS_BINARY " " + options + "; status=$?; "
                                 "for file in small/a.ts small/list.csv; do [ ! -e $file ] || cp $file left-$(basename $file); done; exit $status";
            ProcessResult result = run_process({ "unshare", "-m", "sh", "-c", script, full.name }, run.folder());
            EXPECT_EQ(result.output.substr(result.output.rfind('\n')), "\nerror: cannot write " + full.failing_path + ": No space left on device") << full.name << ": " << result.output;
            EXPECT_EQ(result.exit_status, failure_status) << full.name;
            run.expect_recording_intact();
            // The catalogue that holds the older line is untouched when the stream fails; a new catalogue
            // on the full file system holds no torn line.
            run.expect_catalogue_unchanged();
            std::string name = full.name;
            if (name == "catalogue")
                EXPECT_EQ(read_file_text(run.folder() / "left-list.csv"), "") << "a torn line stayed";
            else if (name == "catalogue mid-line")
                EXPECT_TRUE(read_file_text(run.folder() / "left-list.csv") == older_catalogue + std::string(4096 - 50 - older_catalogue.size(), 'x') + "\n")
                    << "a torn line stayed";
            else
                EXPECT_LT(std::filesystem::file_size(run.folder() / "left-a.ts"), 3u << 20);
        }
    }
}

}
