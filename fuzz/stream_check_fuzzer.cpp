// Fuzzes the stream check over any bytes: the first byte picks the sizes of the pieces the stream is
// fed in, the rest is the stream. Fed whole or in pieces, the checker must give the same report, and
// that report must be the one a plain reading of the sync rules over the whole stream gives.

#include "recording/stream_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

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

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t length)
{
    if (length == 0)
        return 0;
    std::size_t piece = 1 + input[0] * 13u;
    const std::uint8_t* data = input + 1;
    std::size_t size = length - 1;
    auto bytes = std::as_bytes(std::span(data, size));

    StreamChecker whole(0x100);
    whole.feed(bytes);
    StreamReport report = whole.report();
    StreamChecker pieces(0x100);
    for (std::size_t offset = 0; offset < size; offset += piece)
        pieces.feed(bytes.subspan(offset, std::min(piece, size - offset)));
    StreamReport in_pieces = pieces.report();

    require(report.packets == in_pieces.packets && report.sync_losses == in_pieces.sync_losses
            && report.bytes_skipped == in_pieces.bytes_skipped && report.sync_errors == in_pieces.sync_errors
            && report.continuity_errors == in_pieces.continuity_errors && report.marked_in_error == in_pieces.marked_in_error
            && report.scrambled == in_pieces.scrambled && report.last_packet_bytes == in_pieces.last_packet_bytes
            && report.pcr_duration == in_pieces.pcr_duration,
        "the same stream in pieces gives another report");
    StreamReport expected = expected_sync(data, size);
    require(report.packets == expected.packets && report.sync_losses == expected.sync_losses && report.bytes_skipped == expected.bytes_skipped
            && report.sync_errors == expected.sync_errors && report.last_packet_bytes == expected.last_packet_bytes,
        "the sync rules are not followed");
    require(report.packets * packet + report.bytes_skipped + report.last_packet_bytes == size, "a byte is not accounted for");
    require(report.continuity_errors <= report.packets && report.marked_in_error <= report.packets && report.scrambled <= report.packets,
        "more faults than packets");
    return 0;
}
