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
    std::size_t used = 0;
    // What the last pieces left undecided is judged first, with as much of this piece as it takes.
    while (held_size_ > 0 && used < size) {
        std::size_t taken = std::min(held_.size() - held_size_, size - used);
        std::memcpy(held_.data() + held_size_, data + used, taken);
        held_size_ += taken;
        used += taken;
        std::size_t left = held_size_ - run(held_.data(), held_size_, false);
        if (left <= taken) {
            // Judging has moved into this piece: it goes on where the bytes lie.
            used -= left;
            held_size_ = 0;
            break;
        }
        std::memmove(held_.data(), held_.data() + (held_size_ - left), left);
        held_size_ = left;
    }
    if (held_size_ > 0)
        return;
    used += run(data + used, size - used, false);
    held_size_ = size - used;
    std::memcpy(held_.data(), data + used, held_size_);
}

StreamReport StreamChecker::report() const
{
    // What is still held is judged as the end of the stream, on a copy, so that feeding can go on.
    StreamChecker end = *this;
    end.run(end.held_.data(), end.held_size_, true);
    StreamReport report = end.counts_;
    if (end.pcr_count_ >= 2)
        report.pcr_duration = end.pcr_ticks_;
    return report;
}

// Judges the bytes from the current position on, and says how many it has judged: all of them at the
// end of the stream, else up to where the next judgement needs bytes still to come.
std::size_t StreamChecker::run(const std::uint8_t* data, std::size_t size, bool at_end)
{
    std::size_t position = 0;
    for (;;) {
        bool was_in_sync = in_sync_;
        position += in_sync_ ? run_in_sync(data + position, size - position, at_end)
                             : run_searching(data + position, size - position, at_end);
        if (in_sync_ == was_in_sync)
            return position;
    }
}

std::size_t StreamChecker::run_in_sync(const std::uint8_t* data, std::size_t size, bool at_end)
{
    std::size_t position = 0;
    for (;;) {
        // The common case: whole packets with their sync byte, checked where they lie and counted at
        // once, since a count kept in the loop would be stored and loaded again for every packet.
        std::size_t first = position;
        std::size_t whole_end = position + (size - position) / transport_packet_size * transport_packet_size;
        for (; position < whole_end && data[position] == sync_byte; position += transport_packet_size)
            check(data + position);
        counts_.packets += (position - first) / transport_packet_size;
        std::size_t left = size - position;
        if (left < transport_packet_size) {
            if (!at_end)
                return position;
            counts_.last_packet_bytes = left;
            return size;
        }
        // A packet start without its sync byte: the next packet start tells one bad byte from lost sync.
        bool next_is_known = left > transport_packet_size || at_end;
        if (!next_is_known)
            return position;
        if (left == transport_packet_size || data[position + transport_packet_size] == sync_byte) {
            ++counts_.packets;
            ++counts_.sync_errors;
            position += transport_packet_size;
            continue;
        }
        lose_sync();
        return position;
    }
}

std::size_t StreamChecker::run_searching(const std::uint8_t* data, std::size_t size, bool at_end)
{
    std::size_t position = 0;
    while (position < size) {
        auto found = static_cast<const std::uint8_t*>(std::memchr(data + position, sync_byte, size - position));
        std::size_t candidate = found ? static_cast<std::size_t>(found - data) : size;
        counts_.bytes_skipped += candidate - position;
        position = candidate;
        if (position == size)
            break;
        bool decided = false;
        bool resumes = starts_packets(data + position, size - position, at_end, decided);
        if (!decided)
            return position;
        if (resumes) {
            in_sync_ = true;
            return position;
        }
        ++counts_.bytes_skipped;
        ++position;
    }
    return position;
}

// Whether packets resume at `data`, which holds a sync byte: five packet starts in a row with their
// sync byte, or nearer the end every whole packet left, two at least. A lone sync byte in junk, or a
// fragment shorter than two packets, never restores sync. Undecided while too few bytes have come.
bool StreamChecker::starts_packets(const std::uint8_t* data, std::size_t size, bool at_end, bool& decided) const
{
    constexpr std::size_t needed = 5;
    std::size_t whole = size / transport_packet_size;
    decided = true;
    for (std::size_t packet = 1; packet < std::min(whole, needed); ++packet)
        if (data[packet * transport_packet_size] != sync_byte)
            return false;
    if (whole >= needed)
        return true;
    decided = at_end;
    return at_end && whole >= 2;
}

// The packets lost are unknown, so every PID's counter starts afresh with its next packet.
void StreamChecker::lose_sync()
{
    ++counts_.sync_losses;
    in_sync_ = false;
    pids_.fill(0);
}

// Called for every packet in sync, so the common one is taken first: not marked in error, not
// scrambled, a payload and no adaptation field (so no PCR either), with the counter one on from the
// last. The checker must never be what slows the copy.
inline void StreamChecker::check(const std::uint8_t* packet)
{
    if ((packet[1] & 0x80) == 0 && (packet[3] & 0xF0) == 0x10) {
        unsigned pid = (packet[1] & 0x1Fu) << 8 | packet[2];
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
