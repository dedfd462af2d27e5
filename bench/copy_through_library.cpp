// Runs the extraction stage with a chosen copy method and piece size, for timing against other copies.
// usage: copy_through_library buffered|kernel <piece bytes> <recording> <output>

#include "platform/file.h"
#include "recording/stream_extraction.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s buffered|kernel <piece bytes> <recording> <output>\n", argv[0]);
        return 2;
    }
    ExtractionSettings settings;
    settings.copy.method = std::string(argv[1]) == "kernel" ? CopyMethod::kernel_first : CopyMethod::buffered;
    settings.copy.piece_size = std::strtoull(argv[2], nullptr, 10);

    File input = open_for_reading(argv[3]);
    if (!input.is_open()) {
        std::perror(argv[3]);
        return 1;
    }
    // The stage's progress is of no interest here.
    struct Silent final : ProgressReporter {
        void keep_messages_out_of(const FileIdentity&) override { }
        void writing_stream(const std::string&) override { }
        void copying_stream() override { }
        void checking_stream() override { }
        void chunk_done() override { }
        void stream_done() override { }
        void creating_catalogue(const std::string&) override { }
        void kept_old_lines(std::uint64_t, const std::string&) override { }
        void appending_to_catalogue(const std::string&) override { }
    } silent;
    StreamSource recording { input.native(), argv[3], identify(input.native()), false, {} };
    FilesOfTheRun files;
    files.name(RunFileRole::recording, argv[3], recording.identity, silent);
    Expected<OpenedOutput, StreamFailure> output = open_output(files, argv[4], silent);
    if (!output)
        return 1;
    return write_stream_into(*output, recording, silent, settings) ? 0 : 1;
}
