// Checking a transport stream's packets while it is copied: sync bytes, lost sync and where it is found
// again, continuity counters, packets marked in error or scrambled, a cut-short last packet, and the
// duration the PCR gives, with the clock's jumps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

inline constexpr std::size_t transport_packet_size = 188;

// The program clock runs at 27 MHz.
inline constexpr std::uint64_t pcr_ticks_per_second = 27'000'000;

// A step of the clock further than this, with nothing lost before it, is a jump rather than time passed:
// this program's own bound, wide enough for the gaps lost packets leave.
inline constexpr std::uint64_t longest_pcr_step = 10 * pcr_ticks_per_second;

struct StreamReport {
    std::uint64_t packets = 0;  // whole packets; a cut-short last one is not counted
    std::uint64_t sync_losses = 0;
    std::uint64_t bytes_skipped = 0;  // between the last packet before a loss and the first after it
    std::uint64_t sync_errors = 0;
    std::uint64_t continuity_errors = 0;
    std::uint64_t pcr_jumps = 0;
    std::uint64_t marked_in_error = 0;
    std::uint64_t scrambled = 0;
    std::size_t last_packet_bytes = 0;  // the length of a cut-short last packet, or 0
    std::optional<std::uint64_t> pcr_duration;  // in PCR ticks, the spans between jumps; empty with fewer than two PCRs

    bool has_errors() const
    {
        return sync_losses != 0 || sync_errors != 0 || continuity_errors != 0 || pcr_jumps != 0 || marked_in_error != 0 || scrambled != 0
            || last_packet_bytes != 0;
    }

    bool operator==(const StreamReport&) const = default;
};

// Fed the stream in pieces of any size, in order. A recording starts on a packet, and packets follow
// each other 188 bytes apart, as long as their sync bytes say so:
// - one packet start without its sync byte, followed by one with it, is a sync error: the packet counts,
//   but nothing else of it is read, not even its PID, so the next packet of any PID may be one counter
//   further on, once;
// - two in a row are a sync loss. From the first of them the stream is searched, byte by byte, for five
//   packet starts in a row with their sync byte (or, nearer the end than five packets, all the whole
//   packets left, two at least), and packets go on from there; the bytes passed over are counted.
//   Continuity is judged afresh after a loss, since the lost packets are unknown; the clock goes on.
// Continuity: a PID's counter goes one on with each packet that carries a payload; a repeat is the one
// allowed duplicate only when the packet is the one before it again, byte for byte but for the PCR. A
// packet marked in error is not judged, and its PID is judged afresh from its next packet. The clock:
// a PCR step forward by at most 10 s, or further after something was lost, is time passed; any other
// step without the discontinuity flag is a jump, which adds nothing and is a fault.
// Each byte is looked at once, and no more than a few packets are ever held.
class StreamChecker {
public:
    // How the packets in sync are judged. Both give the same report for every stream.
    enum class Way {
        fast,   // the common packet in a few instructions, four at a time; what is unusual, in full
        plain,  // every packet in full, the reference the fast way is held against
    };

    // The PID whose PCRs give the duration: the header's PCR PID.
    explicit StreamChecker(unsigned pcr_pid, Way way = Way::fast);

    void feed(std::span<const std::byte> bytes);

    // What was found, the end of the stream being where the bytes fed so far end.
    StreamReport report() const;

private:
    std::size_t run(const std::uint8_t* data, std::size_t size, bool at_end);
    std::size_t run_in_sync(const std::uint8_t* data, std::size_t size, bool at_end);
    std::size_t run_searching(const std::uint8_t* data, std::size_t size, bool at_end);
    std::optional<bool> starts_packets(const std::uint8_t* data, std::size_t size, bool at_end) const;
    void lose_sync();
    void allow_one_lost_packet();

    std::size_t check_fast(const std::uint8_t* data, std::size_t position, std::size_t end);
    void check(const std::uint8_t* packet);
    void check_in_full(const std::uint8_t* packet);
    void check_continuity(unsigned pid, const std::uint8_t* packet, bool discontinuity);
    void check_pcr(const std::uint8_t* packet, bool discontinuity);

    // The packet before, of a PID: kept where the judgement needs it again, to tell a duplicate.
    void remember(unsigned pid, const std::uint8_t* packet);
    const std::uint8_t* previous(unsigned pid) const;
    void keep_what_is_remembered();

    // A PID's continuity in one byte: the last counter seen in the low four bits, and these flags. The
    // table is indexed by the header's bytes 1 and 2 with only the error flag and the PID kept, so that
    // a packet marked in error finds a state that no common packet matches.
    static constexpr std::uint8_t seen = 0x10;
    static constexpr std::uint8_t repeated = 0x20;       // that counter has been repeated once already
    static constexpr std::uint8_t may_skip_one = 0x40;   // a sync error hid a packet that may have been this PID's
    static constexpr std::size_t state_count = 0xA000;   // (byte 1 & 0x9F) << 8 | byte 2

    // The most that must be seen at once: a candidate packet start and four more after it.
    static constexpr std::size_t look_ahead = 4 * transport_packet_size + 1;

    unsigned pcr_pid_;
    Way way_;
    bool in_sync_ = true;
    std::array<std::uint8_t, state_count> states_ {};
    // Bytes of the last pieces that could not be judged yet, waiting for the ones after them.
    std::array<std::uint8_t, 8 * transport_packet_size> held_ {};
    std::size_t held_size_ = 0;

    // For each PID: its packet before where it lies, while the bytes being judged are at hand, else
    // null and a copy of it kept; the PIDs that have ever had one, whose copies are made when the bytes go.
    std::vector<const std::uint8_t*> last_packet_;
    std::vector<std::uint16_t> kept_slot_;
    std::vector<std::array<std::uint8_t, transport_packet_size>> kept_;
    std::vector<std::uint16_t> known_pids_;

    std::optional<std::uint64_t> last_pcr_;
    bool lost_since_last_pcr_ = false;
    std::uint64_t pcr_count_ = 0;
    std::uint64_t pcr_ticks_ = 0;
    StreamReport counts_;
};
