// Checking a transport stream's packets while it is copied: sync bytes, lost sync and where it is found
// again, continuity counters, packets marked in error or scrambled, a cut-short last packet, and the
// duration the PCR gives.
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
    std::uint64_t sync_losses = 0;
    std::uint64_t bytes_skipped = 0;  // between the last packet before a loss and the first after it
    std::uint64_t sync_errors = 0;
    std::uint64_t continuity_errors = 0;
    std::uint64_t marked_in_error = 0;
    std::uint64_t scrambled = 0;
    std::size_t last_packet_bytes = 0;  // the length of a cut-short last packet, or 0
    std::optional<std::uint64_t> pcr_duration;  // in PCR ticks; empty with fewer than two PCRs

    bool has_errors() const
    {
        return sync_losses != 0 || sync_errors != 0 || continuity_errors != 0 || marked_in_error != 0 || scrambled != 0
            || last_packet_bytes != 0;
    }
};

// Fed the stream in pieces of any size, in order. A recording starts on a packet, and packets follow
// each other 188 bytes apart, as long as their sync bytes say so:
// - one packet start without its sync byte, followed by one with it, is a sync error: the packet counts,
//   but nothing else of it is read;
// - two in a row are a sync loss. From the first of them the stream is searched, byte by byte, for five
//   packet starts in a row with their sync byte (or, nearer the end than five packets, all the whole
//   packets left, two at least), and packets go on from there; the bytes passed over are counted.
//   Continuity is judged afresh after a loss, since the lost packets are unknown; the clock goes on.
// Each byte is looked at once, and no more than a few packets are ever held.
class StreamChecker {
public:
    // The PID whose PCRs give the duration: the header's PCR PID.
    explicit StreamChecker(unsigned pcr_pid) : pcr_pid_(pcr_pid) { }

    void feed(std::span<const std::byte> bytes);

    // What was found, the end of the stream being where the bytes fed so far end.
    StreamReport report() const;

private:
    std::size_t run(const std::uint8_t* data, std::size_t size, bool at_end);
    std::size_t run_in_sync(const std::uint8_t* data, std::size_t size, bool at_end);
    std::size_t run_searching(const std::uint8_t* data, std::size_t size, bool at_end);
    bool starts_packets(const std::uint8_t* data, std::size_t size, bool at_end, bool& decided) const;
    void lose_sync();

    void check(const std::uint8_t* packet);
    void check_in_full(const std::uint8_t* packet);
    void check_continuity(unsigned pid, unsigned counter, bool discontinuity);
    void check_pcr(const std::uint8_t* packet, bool discontinuity);

    // A PID's continuity in one byte: the last counter seen in the low four bits, and these flags.
    static constexpr std::uint8_t seen = 0x10;
    static constexpr std::uint8_t repeated = 0x20;  // that counter has been repeated once already

    // The most that must be seen at once: a candidate packet start and four more after it.
    static constexpr std::size_t look_ahead = 4 * transport_packet_size + 1;

    unsigned pcr_pid_;
    bool in_sync_ = true;
    std::array<std::uint8_t, 8192> pids_ {};
    // Bytes of the last pieces that could not be judged yet, waiting for the ones after them.
    std::array<std::uint8_t, 8 * transport_packet_size> held_ {};
    std::size_t held_size_ = 0;
    std::optional<std::uint64_t> last_pcr_;
    std::uint64_t pcr_count_ = 0;
    std::uint64_t pcr_ticks_ = 0;
    StreamReport counts_;
};
