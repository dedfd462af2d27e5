// Runs the extraction stage with a chosen copy method and piece size, for timing against other copies.
// usage: copy_through_library buffered|kernel <piece bytes> <recording> <output>

#include "io/console.h"
#include "io/file_descriptor.h"
#include "recording/stream_extraction.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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

    FileDescriptor input = open_file(argv[3], O_RDONLY);
    if (!input.is_open()) {
        std::perror(argv[3]);
        return 1;
    }
    FileDescriptor discard = open_file("/dev/null", O_WRONLY);
    Console console { discard.get(), false };
    OpenRecording recording { input.get(), argv[3], identify_descriptor(input.get()), false, {} };
    return extract_transport_stream(recording, argv[4], console, settings) ? 0 : 1;
}
