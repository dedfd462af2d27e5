#include "support/recording_builder.h"

#include <algorithm>

namespace {

void put_u32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value)
{
    put_u16(bytes, offset, static_cast<std::uint16_t>(value >> 16));
    put_u16(bytes, offset + 2, static_cast<std::uint16_t>(value));
}

void put_text(std::vector<std::uint8_t>& bytes, std::size_t offset, const std::string& text)
{
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

}

void put_u16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<std::uint8_t>(value);
}

std::vector<std::uint8_t> build_recording(const RecordingFields& fields)
{
    std::vector<std::uint8_t> bytes(3761, 0);
    put_text(bytes, 0, fields.magic.substr(0, 4));
    put_u16(bytes, 4, fields.format_version);
    bytes[8] = fields.duration_hours;
    bytes[9] = fields.duration_minutes;
    put_u16(bytes, 10, fields.service_number);
    put_u16(bytes, 12, fields.service_type);
    put_u16(bytes, 18, fields.service_id);
    put_u16(bytes, 20, fields.pmt_pid);
    put_u16(bytes, 22, fields.pcr_pid);
    put_u16(bytes, 24, fields.video_pid);
    put_u16(bytes, 26, fields.audio_pid);
    put_text(bytes, 28, fields.channel_name.substr(0, 35));
    put_u16(bytes, 64, fields.transport_stream_id);
    put_u16(bytes, 68, fields.original_network_id);
    put_u16(bytes, 78, fields.event_id);
    put_u32(bytes, 80, fields.start_time);
    put_u32(bytes, 84, fields.end_time);
    std::size_t name_length = fields.event_name_length.value_or(static_cast<std::uint8_t>(fields.event_name.size()));
    bytes[89] = static_cast<std::uint8_t>(name_length);
    put_text(bytes, 91, fields.event_name.substr(0, name_length));
    put_text(bytes, 91 + name_length, fields.event_description.substr(0, 3760 - 92 - name_length));
    bytes[3760] = fields.sync_byte;
    return bytes;
}

std::vector<std::uint8_t> build_recording(const RecordingFields& fields, std::size_t stream_length)
{
    std::vector<std::uint8_t> bytes = build_recording(fields);
    bytes.resize(3760 + stream_length);
    // A 32-bit linear congruential sequence: every chunk differs, so a misplaced chunk cannot go unseen.
    std::uint32_t state = 0x2545F491;
    for (std::size_t index = 3761; index < bytes.size(); ++index) {
        state = state * 1664525u + 1013904223u;
        bytes[index] = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}
