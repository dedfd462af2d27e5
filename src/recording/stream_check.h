// Checking a transport stream's packets while it is copied: sync bytes, continuity counters, packets
// marked in error or scrambled, a cut-short last packet, and the duration the PCR gives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

inline constexpr std::size_t transport_packet_size = 188;

// The program clock runs at 27 MHz.
inline constexpr std::uint64_t pcr_ticks_per_second = 27'000'000;

struct StreamReport {
    std::uint64_t packets = 0;  // whole packets; a cut-short last one is not counted
    std::uint64_t sync_errors = 0;
    std::uint64_t continuity_errors = 0;
    std::uint64_t marked_in_error = 0;
    std::uint64_t scrambled = 0;
    std::size_t last_packet_bytes = 0;  // the length of a cut-short last packet, or 0
    std::optional<std::uint64_t> pcr_duration;  // in PCR ticks; empty with fewer than two PCRs

    bool has_errors() const
    {
        return sync_errors != 0 || continuity_errors != 0 || marked_in_error != 0 || scrambled != 0 || last_packet_bytes != 0;
    }
};

// Fed the stream in pieces of any size, in order; packets split across pieces are checked whole. The
// packets are the 188-byte steps from the stream's first byte: a recording is packet-aligned, so
// the checker never looks for the next sync byte.
class StreamChecker {
public:
    // The PID whose PCRs give the duration: the header's PCR PID.
    explicit StreamChecker(unsigned pcr_pid) : pcr_pid_(pcr_pid) { }

    void feed(std::span<const std::byte> bytes);

    // What was found; the bytes still held, fewer than a packet, are the cut-short last packet.
    StreamReport report() const;

private:
    void check(const std::uint8_t* packet);
    void check_in_full(const std::uint8_t* packet);
    void check_continuity(unsigned pid, unsigned counter, bool discontinuity);
    void check_pcr(const std::uint8_t* packet, bool discontinuity);

    // A PID's continuity in one byte: the last counter seen in the low four bits, and these flags.
    static constexpr std::uint8_t seen = 0x10;
    static constexpr std::uint8_t repeated = 0x20;  // that counter has been repeated once already

    unsigned pcr_pid_;
    std::array<std::uint8_t, 8192> pids_ {};
    std::array<std::uint8_t, transport_packet_size> partial_ {};
    std::size_t partial_size_ = 0;
    std::optional<std::uint64_t> last_pcr_;
    std::uint64_t pcr_count_ = 0;
    std::uint64_t pcr_ticks_ = 0;
    StreamReport counts_;
};
