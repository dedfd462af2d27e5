// Fuzzes the stream check over any bytes, and holds its two ways against each other: the first byte
// seeds the sizes of the pieces the stream is fed in, the rest is the stream. The plain way, fed whole,
// is the reference; the fast way, fed whole and in pieces of random sizes, and the plain way in those
// pieces, must give the same report, and that report must be the one a plain reading of the sync rules
// over the whole stream gives. Run over files of real and damaged streams (fuzz/differential.sh), the
// same target is the differential harness of the fast way.

#include "recording/stream_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

constexpr std::size_t packet = transport_packet_size;
constexpr std::uint8_t sync_byte = 0x47;

// Whether packets resume at `at`: five starts with their sync byte, or all the whole packets left when
// fewer, two at least.
bool resumes(const std::uint8_t* data, std::size_t size, std::size_t at)
{
    std::size_t whole = (size - at) / packet;
    std::size_t needed = whole >= 5 ? 5 : whole;
    if (needed < 2)
        return false;
    for (std::size_t start = 0; start < needed; ++start)
        if (data[at + start * packet] != sync_byte)
            return false;
    return true;
}

// The sync rules read once more, over the whole stream at once.
StreamReport expected_sync(const std::uint8_t* data, std::size_t size)
{
    StreamReport report;
    bool in_sync = true;
    for (std::size_t at = 0; at < size;) {
        if (!in_sync) {
            if (data[at] == sync_byte && resumes(data, size, at)) {
                in_sync = true;
                continue;
            }
            ++report.bytes_skipped;
            ++at;
        } else if (size - at < packet) {
            report.last_packet_bytes = size - at;
            at = size;
        } else if (data[at] == sync_byte || at + packet == size || data[at + packet] == sync_byte) {
            ++report.packets;
            report.sync_errors += data[at] != sync_byte;
            at += packet;
        } else {
            ++report.sync_losses;
            in_sync = false;
        }
    }
    return report;
}

// The pieces a stream is fed in: sizes from 1 byte to a few packets and more, drawn from the seed.
std::vector<std::size_t> piece_sizes(std::uint8_t seed, std::size_t size)
{
    std::vector<std::size_t> sizes;
    std::uint32_t state = 0x9E3779B9u ^ seed;
    for (std::size_t covered = 0; covered < size;) {
        state = state * 1664525u + 1013904223u;
        std::size_t piece = 1 + (state >> 8) % (seed % 4 == 0 ? 200u : seed % 4 == 1 ? 1000u : 70000u);
        sizes.push_back(std::min(piece, size - covered));
        covered += sizes.back();
    }
    return sizes;
}

StreamReport fed(StreamChecker::Way way, std::span<const std::byte> bytes, const std::vector<std::size_t>& pieces)
{
    StreamChecker checker(0x100, way);
    std::size_t offset = 0;
    for (std::size_t piece : pieces) {
        checker.feed(bytes.subspan(offset, piece));
        offset += piece;
    }
    return checker.report();
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t length)
{
    if (length == 0)
        return 0;
    const std::uint8_t* data = input + 1;
    std::size_t size = length - 1;
    auto bytes = std::as_bytes(std::span(data, size));
    std::vector<std::size_t> pieces = piece_sizes(input[0], size);

    StreamReport report = fed(StreamChecker::Way::plain, bytes, { size });
    require(fed(StreamChecker::Way::fast, bytes, { size }) == report, "the fast way fed whole gives another report");
    require(fed(StreamChecker::Way::fast, bytes, pieces) == report, "the fast way in pieces gives another report");
    require(fed(StreamChecker::Way::plain, bytes, pieces) == report, "the plain way in pieces gives another report");

    StreamReport expected = expected_sync(data, size);
    require(report.packets == expected.packets && report.sync_losses == expected.sync_losses && report.bytes_skipped == expected.bytes_skipped
            && report.sync_errors == expected.sync_errors && report.last_packet_bytes == expected.last_packet_bytes,
        "the sync rules are not followed");
    require(report.packets * packet + report.bytes_skipped + report.last_packet_bytes == size, "a byte is not accounted for");
    require(report.continuity_errors <= report.packets && report.marked_in_error <= report.packets && report.scrambled <= report.packets,
        "more faults than packets");
    return 0;
}
