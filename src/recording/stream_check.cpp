#include "recording/stream_check.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t sync_byte = 0x47;
constexpr unsigned null_pid = 0x1FFF;

// A PCR is a 33-bit base at 90 kHz and a 9-bit extension at 27 MHz, so it wraps at 2^33 * 300 ticks.
constexpr std::uint64_t pcr_wrap = (std::uint64_t { 1 } << 33) * 300;

}

void StreamChecker::feed(std::span<const std::byte> bytes)
{
    auto data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t size = bytes.size();
    std::size_t offset = 0;
    if (partial_size_ > 0) {
        std::size_t taken = std::min(transport_packet_size - partial_size_, size);
        std::memcpy(partial_.data() + partial_size_, data, taken);
        partial_size_ += taken;
        offset = taken;
        if (partial_size_ < transport_packet_size)
            return;
        ++counts_.packets;
        check(partial_.data());
        partial_size_ = 0;
    }
    // Counted here, once a piece: counted in the loop, the count would be stored and loaded again for
    // every packet, since a byte written anywhere might be it.
    counts_.packets += (size - offset) / transport_packet_size;
    for (; offset + transport_packet_size <= size; offset += transport_packet_size)
        check(data + offset);
    partial_size_ = size - offset;
    std::memcpy(partial_.data(), data + offset, partial_size_);
}

StreamReport StreamChecker::report() const
{
    StreamReport report = counts_;
    report.last_packet_bytes = partial_size_;
    if (pcr_count_ >= 2)
        report.pcr_duration = pcr_ticks_;
    return report;
}

// Called for every packet, so the common one is taken first: in sync, not marked in error, not
// scrambled, a payload and no adaptation field (so no PCR either), with the counter one on from the
// last. The checker must never be what slows the copy.
inline void StreamChecker::check(const std::uint8_t* packet)
{
    unsigned pid = (packet[1] & 0x1Fu) << 8 | packet[2];
    if (packet[0] == sync_byte && (packet[1] & 0x80) == 0 && (packet[3] & 0xF0) == 0x10) {
        unsigned counter = packet[3] & 0xFu;
        std::uint8_t& state = pids_[pid];
        if (state == (seen | ((counter - 1) & 0xFu))) {
            state = static_cast<std::uint8_t>(seen | counter);
            return;
        }
    }
    check_in_full(packet);
}

void StreamChecker::check_in_full(const std::uint8_t* packet)
{
    // Without its sync byte nothing else in the packet can be trusted.
    if (packet[0] != sync_byte) {
        ++counts_.sync_errors;
        return;
    }
    bool marked_in_error = (packet[1] & 0x80) != 0;
    unsigned pid = (packet[1] & 0x1Fu) << 8 | packet[2];
    unsigned adaptation_field_control = packet[3] >> 4 & 0x3;
    bool has_adaptation_field = (adaptation_field_control & 0x2) != 0;
    bool has_payload = (adaptation_field_control & 0x1) != 0;
    bool discontinuity = has_adaptation_field && packet[4] > 0 && (packet[5] & 0x80) != 0;
    if (marked_in_error)
        ++counts_.marked_in_error;
    if ((packet[3] & 0xC0) != 0)
        ++counts_.scrambled;
    // A packet the demodulator marked as damaged is not trusted for its counter or its clock either.
    if (marked_in_error)
        return;
    if (pid == pcr_pid_ && has_adaptation_field)
        check_pcr(packet, discontinuity);
    if (pid != null_pid && has_payload)
        check_continuity(pid, packet[3] & 0xFu, discontinuity);
}

void StreamChecker::check_continuity(unsigned pid, unsigned counter, bool discontinuity)
{
    std::uint8_t& state = pids_[pid];
    unsigned last = state & 0xFu;
    bool was_seen = (state & seen) != 0;
    bool expected = counter == ((last + 1u) & 0xFu);
    // One repeat of a packet is allowed: a duplicate, not a loss.
    bool duplicate = counter == last && (state & repeated) == 0;
    if (was_seen && !discontinuity && !expected && !duplicate)
        ++counts_.continuity_errors;
    bool now_repeated = was_seen && duplicate && !discontinuity;
    state = static_cast<std::uint8_t>(seen | (now_repeated ? repeated : 0) | counter);
}

void StreamChecker::check_pcr(const std::uint8_t* packet, bool discontinuity)
{
    unsigned adaptation_field_length = packet[4];
    if (adaptation_field_length < 7 || (packet[5] & 0x10) == 0)
        return;
    std::uint64_t base = std::uint64_t { packet[6] } << 25 | std::uint64_t { packet[7] } << 17 | std::uint64_t { packet[8] } << 9
        | std::uint64_t { packet[9] } << 1 | std::uint64_t { packet[10] } >> 7;
    std::uint64_t extension = (std::uint64_t { packet[10] } & 0x1) << 8 | packet[11];
    std::uint64_t pcr = base * 300 + extension;
    // A step across a wrap is the true step; a step into a discontinuity is no step of this clock.
    if (last_pcr_ && !discontinuity)
        pcr_ticks_ += (pcr + pcr_wrap - *last_pcr_) % pcr_wrap;
    last_pcr_ = pcr;
    ++pcr_count_;
}
