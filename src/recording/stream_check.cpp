#include "recording/stream_check.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t sync_byte = 0x47;
constexpr unsigned null_pid = 0x1FFF;
constexpr unsigned pid_count = 0x2000;

// A PCR is a 33-bit base at 90 kHz and a 9-bit extension at 27 MHz, so it wraps at 2^33 * 300 ticks.
constexpr std::uint64_t pcr_wrap = (std::uint64_t { 1 } << 33) * 300;

// What the common packet's header byte 3 asks of its PID's state, and what the state becomes: a packet
// not scrambled, with a payload, whose counter is one on from the last. Any other byte 3 asks for a
// state no PID is ever in.
struct CommonPacket {
    std::array<std::uint8_t, 256> wanted {};
    std::array<std::uint8_t, 256> after {};

    constexpr CommonPacket()
    {
        for (unsigned byte = 0; byte < 256; ++byte) {
            bool common = (byte & 0xD0) == 0x10;
            wanted[byte] = common ? static_cast<std::uint8_t>(0x10 | ((byte - 1) & 0xF)) : 0xFF;
            after[byte] = static_cast<std::uint8_t>(0x10 | (byte & 0xF));
        }
    }
};

constexpr CommonPacket common_packet;

unsigned state_index(const std::uint8_t* packet)
{
    return static_cast<unsigned>(packet[1] & 0x9F) << 8 | packet[2];
}

// A null packet that is neither marked in error nor scrambled: nothing in it is judged.
bool is_plain_null(const std::uint8_t* packet)
{
    return (packet[1] & 0x9F) == 0x1F && packet[2] == 0xFF && (packet[3] & 0xC0) == 0;
}

bool has_pcr(const std::uint8_t* packet)
{
    return (packet[3] & 0x20) != 0 && packet[4] >= 7 && (packet[5] & 0x10) != 0;
}

// A duplicate is the packet before it again, byte for byte but for the PCR, which may differ.
bool same_but_for_the_pcr(const std::uint8_t* packet, const std::uint8_t* before)
{
    if (!has_pcr(packet))
        return std::memcmp(packet, before, transport_packet_size) == 0;
    return std::memcmp(packet, before, 6) == 0 && std::memcmp(packet + 12, before + 12, transport_packet_size - 12) == 0;
}

}

StreamChecker::StreamChecker(unsigned pcr_pid, Way way)
    : pcr_pid_(pcr_pid), way_(way), last_packet_(pid_count, nullptr), kept_slot_(pid_count, 0)
{
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
// end of the stream, else up to where the next judgement needs bytes still to come. A PID's packet
// before is found where it lies while these bytes are at hand, and kept once they are not.
std::size_t StreamChecker::run(const std::uint8_t* data, std::size_t size, bool at_end)
{
    std::size_t position = 0;
    for (;;) {
        bool was_in_sync = in_sync_;
        position += in_sync_ ? run_in_sync(data + position, size - position, at_end)
                             : run_searching(data + position, size - position, at_end);
        if (in_sync_ == was_in_sync)
            break;
    }
    keep_what_is_remembered();
    return position;
}

std::size_t StreamChecker::run_in_sync(const std::uint8_t* data, std::size_t size, bool at_end)
{
    std::size_t position = 0;
    for (;;) {
        // Whole packets with their sync byte, checked where they lie and counted at once, since a count
        // kept in the loop would be stored and loaded again for every packet.
        std::size_t first = position;
        std::size_t whole_end = position + (size - position) / transport_packet_size * transport_packet_size;
        if (way_ == Way::fast)
            position = check_fast(data, position, whole_end);
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
            allow_one_lost_packet();
            position += transport_packet_size;
            continue;
        }
        lose_sync();
        return position;
    }
}

// Four packets a step, their sync bytes looked at together; a common packet costs a look-up and a
// compare, a run of null packets nothing more than its sync bytes. Stops at the first group with a bad
// sync byte, for the plain loop to tell what it is.
std::size_t StreamChecker::check_fast(const std::uint8_t* data, std::size_t position, std::size_t end)
{
    constexpr std::size_t step = 4 * transport_packet_size;
    // Held in locals, so that the stores into the tables are not taken to change them.
    std::uint8_t* states = states_.data();
    const std::uint8_t** last_packet = last_packet_.data();
    const unsigned pcr_pid = pcr_pid_;
    auto one = [&](const std::uint8_t* packet) {
        unsigned pid = state_index(packet);
        unsigned byte_3 = packet[3];
        if (states[pid] == common_packet.wanted[byte_3]) [[likely]] {
            // An adaptation field is common too, unless it flags a discontinuity, or a PCR on the PCR PID.
            if ((byte_3 & 0x20) == 0 || packet[4] == 0 || (packet[5] & (pid == pcr_pid ? 0x90 : 0x80)) == 0) [[likely]] {
                states[pid] = common_packet.after[byte_3];
                last_packet[pid] = packet;
                return;
            }
        }
        if (!is_plain_null(packet))
            check_in_full(packet);
    };
    for (; position + step <= end; position += step) {
        const std::uint8_t* packet = data + position;
        if ((packet[0] ^ sync_byte) | (packet[188] ^ sync_byte) | (packet[376] ^ sync_byte) | (packet[564] ^ sync_byte))
            break;
        one(packet);
        one(packet + transport_packet_size);
        one(packet + 2 * transport_packet_size);
        one(packet + 3 * transport_packet_size);
    }
    return position;
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
        std::optional<bool> resumes = starts_packets(data + position, size - position, at_end);
        if (!resumes)
            return position;
        if (*resumes) {
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
// fragment shorter than two packets, never restores sync. Empty, undecided, while too few bytes have come.
std::optional<bool> StreamChecker::starts_packets(const std::uint8_t* data, std::size_t size, bool at_end) const
{
    constexpr std::size_t needed = 5;
    std::size_t whole = size / transport_packet_size;
    for (std::size_t packet = 1; packet < std::min(whole, needed); ++packet)
        if (data[packet * transport_packet_size] != sync_byte)
            return false;
    if (whole >= needed)
        return true;
    if (!at_end)
        return std::nullopt;
    return whole >= 2;
}

// The packets lost are unknown, so every PID's counter starts afresh with its next packet; the clock
// goes on, and may step far over what was lost.
void StreamChecker::lose_sync()
{
    ++counts_.sync_losses;
    in_sync_ = false;
    states_.fill(0);
    lost_since_last_pcr_ = true;
}

// A packet whose sync byte is wrong is not read at all, so its PID is unknown: every PID may have lost
// one packet there, once.
void StreamChecker::allow_one_lost_packet()
{
    for (unsigned pid = 0; pid < pid_count; ++pid)
        if ((states_[pid] & seen) != 0)
            states_[pid] |= may_skip_one;
}

void StreamChecker::check(const std::uint8_t* packet)
{
    if (way_ == Way::fast && is_plain_null(packet))
        return;
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
    // A packet the demodulator marked as damaged is not trusted for its counter or its clock either, and
    // its PID is judged afresh from its next packet: taking a damaged counter as read would make the
    // next good packet an error too, one fault counted twice.
    if (marked_in_error) {
        if (pid != null_pid)
            states_[pid] = 0;
        return;
    }
    if (pid == pcr_pid_ && has_adaptation_field)
        check_pcr(packet, discontinuity);
    if (pid != null_pid && has_payload)
        check_continuity(pid, packet, discontinuity);
}

void StreamChecker::check_continuity(unsigned pid, const std::uint8_t* packet, bool discontinuity)
{
    std::uint8_t& state = states_[pid];
    unsigned counter = packet[3] & 0xFu;
    unsigned last = state & 0xFu;
    bool was_seen = (state & seen) != 0;
    bool next = counter == ((last + 1u) & 0xFu);
    // One repeat of a packet is allowed: the same packet again, a duplicate, not a loss. A repeated
    // counter on other bytes is fifteen packets lost, or more.
    bool duplicate = was_seen && counter == last && (state & repeated) == 0 && same_but_for_the_pcr(packet, previous(pid));
    bool one_hidden = (state & may_skip_one) != 0 && counter == ((last + 2u) & 0xFu);
    if (was_seen && !discontinuity && !next && !duplicate && !one_hidden) {
        ++counts_.continuity_errors;
        if (pid == pcr_pid_)
            lost_since_last_pcr_ = true;
    }
    bool now_repeated = duplicate && !discontinuity;
    state = static_cast<std::uint8_t>(seen | (now_repeated ? repeated : 0) | counter);
    remember(pid, packet);
}

void StreamChecker::check_pcr(const std::uint8_t* packet, bool discontinuity)
{
    if (!has_pcr(packet))
        return;
    std::uint64_t base = std::uint64_t { packet[6] } << 25 | std::uint64_t { packet[7] } << 17 | std::uint64_t { packet[8] } << 9
        | std::uint64_t { packet[9] } << 1 | std::uint64_t { packet[10] } >> 7;
    std::uint64_t extension = (std::uint64_t { packet[10] } & 0x1) << 8 | packet[11];
    std::uint64_t pcr = base * 300 + extension;
    // A step across a wrap is the true step; a step into a discontinuity is no step of this clock. A
    // step back, or one far ahead with nothing lost to explain it, is a jump: two recordings joined, an
    // encoder started again.
    if (last_pcr_ && !discontinuity) {
        std::uint64_t step = (pcr + pcr_wrap - *last_pcr_) % pcr_wrap;
        bool forward = step < pcr_wrap / 2;
        if (step <= longest_pcr_step || (forward && lost_since_last_pcr_))
            pcr_ticks_ += step;
        else
            ++counts_.pcr_jumps;
    }
    last_pcr_ = pcr;
    lost_since_last_pcr_ = false;
    ++pcr_count_;
}

void StreamChecker::remember(unsigned pid, const std::uint8_t* packet)
{
    if (way_ == Way::plain) {
        if (kept_slot_[pid] == 0) {
            kept_.emplace_back();
            kept_slot_[pid] = static_cast<std::uint16_t>(kept_.size());
        }
        std::memcpy(kept_[kept_slot_[pid] - 1u].data(), packet, transport_packet_size);
        return;
    }
    if (kept_slot_[pid] == 0) {
        kept_.emplace_back();
        kept_slot_[pid] = static_cast<std::uint16_t>(kept_.size());
        known_pids_.push_back(static_cast<std::uint16_t>(pid));
    }
    last_packet_[pid] = packet;
}

const std::uint8_t* StreamChecker::previous(unsigned pid) const
{
    if (last_packet_[pid] != nullptr)
        return last_packet_[pid];
    return kept_slot_[pid] == 0 ? nullptr : kept_[kept_slot_[pid] - 1u].data();
}

// The bytes of this run are about to go: the packets before that lie in them are kept. Only a PID the
// full check has met can have one, since a common packet is one whose PID was seen before.
void StreamChecker::keep_what_is_remembered()
{
    for (std::uint16_t pid : known_pids_) {
        if (last_packet_[pid] != nullptr) {
            std::memcpy(kept_[kept_slot_[pid] - 1u].data(), last_packet_[pid], transport_packet_size);
            last_packet_[pid] = nullptr;
        }
    }
}
