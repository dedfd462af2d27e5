#include "recording/stream_extraction.h"

#include "cli/console_reporter.h"
#include "platform/file.h"
#include "support/captured_console.h"
#include "support/recording_builder.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct Extraction {
    ScratchFolder folder;
    CapturedConsole console;
    ExtractionSettings settings;
    std::vector<std::uint8_t> recording = build_recording({}, 5000);
    std::string input_path = (folder / "a.rec").string();
    std::string output_path = (folder / "a.ts").string();

    // The stage's messages, and any failure in words, go to the captured console.
    bool run()
    {
        write_file(input_path, recording);
        File input = open_for_reading(input_path);
        StreamSource recording_read { input.native(), input_path, identify(input.native()), false, {} };
        ConsoleReporter reporter(console.console());
        // Announced by the caller, so that a failure to open reads as part of this step.
        reporter.writing_stream(output_path);
        FilesOfTheRun files;
        files.name(RunFileRole::recording, input_path, recording_read.identity, reporter);
        Expected<OpenedOutput, StreamFailure> output = open_output(files, output_path, reporter);
        StreamOutcome outcome = output ? write_stream_into(*output, recording_read, reporter, settings) : Unexpected { output.error() };
        if (!outcome)
            reporter.error(outcome.error());
        return outcome.has_value();
    }
};

TEST(StreamExtraction, WritesTheStreamWithItsMessages)
{
    for (bool sync_to_disk : { false, true }) {
        Extraction extraction;
        extraction.settings.sync_to_disk = sync_to_disk;
        ASSERT_TRUE(extraction.run());
        EXPECT_EQ(extraction.console.text(), "\nWriting " + extraction.output_path + "\nprocessing file ..... done");
        EXPECT_EQ(read_file_bytes(extraction.output_path), std::vector<std::uint8_t>(extraction.recording.begin() + 3760, extraction.recording.end()));
    }
}

TEST(StreamExtraction, MissingCopyBufferLeavesAnEmptyOutput)
{
    Extraction extraction;
    write_file(extraction.output_path, std::string("older contents"));
    extraction.settings.allocate_buffer = [](std::size_t) { return CopyBuffer(); };
    EXPECT_FALSE(extraction.run());
    EXPECT_EQ(extraction.console.text(), "\nWriting " + extraction.output_path + "\nerror: ts_buf=0");
    EXPECT_TRUE(std::filesystem::exists(extraction.output_path));
    EXPECT_EQ(std::filesystem::file_size(extraction.output_path), 0u);
}

TEST(StreamExtraction, ReadErrorNamesTheRecording)
{
    Extraction extraction;
    extraction.settings.copy.method = CopyMethod::buffered;
    extraction.settings.calls.read_at = [](NativeHandle, void*, std::size_t, std::uint64_t) -> std::int64_t {
        errno = EIO;
        return -1;
    };
    EXPECT_FALSE(extraction.run());
    EXPECT_EQ(extraction.console.text(),
        "\nWriting " + extraction.output_path + "\nprocessing file ...\nerror: cannot read " + extraction.input_path + ": Input/output error");
}

TEST(StreamExtraction, WriteErrorNamesTheOutput)
{
    Extraction extraction;
    extraction.settings.copy.method = CopyMethod::buffered;
    extraction.settings.calls.write = [](NativeHandle, const void*, std::size_t) -> std::int64_t {
        errno = EIO;
        return -1;
    };
    EXPECT_FALSE(extraction.run());
    EXPECT_EQ(extraction.console.text(),
        "\nWriting " + extraction.output_path + "\nprocessing file ...\nerror: cannot write " + extraction.output_path + ": Input/output error");
}

}
