// The two ways a copy can look at every byte of the stream, for timing against each other and against
// pelorus -s: read each piece into a buffer, check it and write it; or map the recording a window at
// a time, write from the mapping and check the mapped bytes, the mapping either faulted in page by
// page or populated whole first. All feed the program's own checker.
// usage: checked_copy_designs buffered|mapped|populated <piece or window bytes> <recording> [<output>]
// With no output the stream is only read and checked. Linux and POSIX only: it maps with mmap.

#include "recording/recording_header.h"
#include "recording/stream_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool write_whole(int output, const std::byte* data, std::size_t length)
{
    while (length > 0) {
        ssize_t written = ::write(output, data, length);
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool copy_buffered(int input, int output, std::size_t piece, StreamChecker& checker)
{
    std::vector<std::byte> buffer(piece);
    for (off_t offset = static_cast<off_t>(transport_stream_offset);;) {
        ssize_t got = ::pread(input, buffer.data(), piece, offset);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        checker.feed(std::span(buffer).first(static_cast<std::size_t>(got)));
        if (output >= 0 && !write_whole(output, buffer.data(), static_cast<std::size_t>(got)))
            return false;
        offset += got;
    }
}

bool copy_mapped(int input, int output, std::size_t window, bool populate, StreamChecker& checker)
{
    struct stat status { };
    if (::fstat(input, &status) != 0)
        return false;
    auto end = static_cast<std::uint64_t>(status.st_size);
    auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    for (std::uint64_t offset = transport_stream_offset; offset < end;) {
        std::uint64_t base = offset / page * page;
        auto length = static_cast<std::size_t>(std::min<std::uint64_t>(window, end - base));
        void* mapping = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, input, static_cast<off_t>(base));
        if (mapping == MAP_FAILED)
            return false;
#ifdef MADV_POPULATE_READ
        // The page tables filled in one call, rather than by a fault for each page.
        if (populate && ::madvise(mapping, length, MADV_POPULATE_READ) != 0)
            return false;
#else
        static_cast<void>(populate);
#endif
        auto bytes = std::span(static_cast<const std::byte*>(mapping), length).subspan(static_cast<std::size_t>(offset - base));
        bool written = output < 0 || write_whole(output, bytes.data(), bytes.size());
        checker.feed(bytes);
        ::munmap(mapping, length);
        if (!written)
            return false;
        offset = base + length;
    }
    return true;
}

}

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s buffered|mapped|populated <piece or window bytes> <recording> [<output>]\n", argv[0]);
        return 2;
    }
    std::string design = argv[1];
    std::size_t size = std::strtoull(argv[2], nullptr, 10);
    int input = ::open(argv[3], O_RDONLY);
    int output = argc == 5 ? ::open(argv[4], O_WRONLY | O_CREAT | O_TRUNC, 0644) : -1;
    if (input < 0 || (argc == 5 && output < 0) || size == 0) {
        std::perror("open");
        return 1;
    }
    StreamChecker checker(0x101);
    bool done = design == "buffered" ? copy_buffered(input, output, size, checker)
                                     : copy_mapped(input, output, size, design == "populated", checker);
    StreamReport report = checker.report();
    std::fprintf(stderr, "%llu packets, %llu sync errors\n", static_cast<unsigned long long>(report.packets),
        static_cast<unsigned long long>(report.sync_errors));
    return done && (output < 0 || ::close(output) == 0) ? 0 : 1;
}
