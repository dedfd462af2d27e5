// Builds recording bytes inline for tests: a header area with chosen fields, then a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RecordingFields {
    std::string magic = "TFrc";
    std::uint16_t format_version = 0x5000;
    std::uint8_t duration_hours = 1;
    std::uint8_t duration_minutes = 15;
    std::uint16_t service_number = 12;
    std::uint16_t service_type = 0;
    std::uint16_t service_id = 0x0102;
    std::uint16_t pmt_pid = 0x0064;
    std::uint16_t pcr_pid = 0x00A0;
    std::uint16_t video_pid = 0x00A0;
    std::uint16_t audio_pid = 0x00A1;
    std::string channel_name = "ABC";
    std::uint16_t transport_stream_id = 3;
    std::uint16_t original_network_id = 0x2174;
    std::uint16_t event_id = 0x1234;
    std::uint32_t start_time = 0xC0790C2D;
    std::uint32_t end_time = 0xC0790E00;
    std::string event_name = "News";
    std::optional<std::uint8_t> event_name_length;  // the name's own length when not set
    std::string event_description = "Local news";
    std::uint8_t sync_byte = 0x47;
};

// The header area and the first sync byte: 3761 bytes, the smallest recording that can be accepted.
std::vector<std::uint8_t> build_recording(const RecordingFields& fields = {});

// The same followed by `stream_length` more bytes of a pattern that does not repeat within a chunk.
std::vector<std::uint8_t> build_recording(const RecordingFields& fields, std::size_t stream_length);

void put_u16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
