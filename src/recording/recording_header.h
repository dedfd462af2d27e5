// The header block at the start of a recording: its layout, field accessors and acceptance check.
#pragma once

#include "platform/file.h"
#include "shared/broadcast_time_value.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The recorder's header area ends here and the transport stream runs from here to the end of the file.
inline constexpr std::uint64_t transport_stream_offset = 3760;

// The header area plus the start of the stream, enough to hold the first packet's sync byte.
inline constexpr std::size_t header_block_size = 4188;

// Every recording begins with these four bytes.
inline constexpr std::string_view recording_magic = "TFrc";

// Whether a file's first bytes are those of a recording.
constexpr bool begins_like_a_recording(std::string_view start)
{
    return start.starts_with(recording_magic);
}

// The smallest recording: the header area and one byte of stream.
inline constexpr std::uint64_t smallest_recording_size = transport_stream_offset + 1;

// Why a block is not a recording's, in the order the checks are made.
enum class HeaderRejection {
    none,
    wrong_magic,      // it does not begin with the magic
    unknown_version,  // the format version is neither of the two known ones
    too_short,        // fewer bytes than the smallest recording
    no_stream,        // no sync byte where the stream should start
};

struct HeaderCheck;

class RecordingHeader {
public:
    // Accepts the block when it carries the magic, a known format version, a length of at least one
    // stream byte and the first sync byte, or says which of these it lacks. Nothing past `delivered`
    // is taken for the file's.
    static HeaderCheck check(std::span<const std::uint8_t> delivered);
    static std::optional<RecordingHeader> parse(std::span<const std::uint8_t> delivered);

    unsigned duration_hours() const { return block_[8]; }
    unsigned duration_minutes() const { return block_[9]; }
    unsigned service_number() const { return read_u16(10); }
    unsigned service_type() const { return read_u16(12); }
    unsigned service_id() const { return read_u16(18); }
    unsigned pmt_pid() const { return read_u16(20) & pid_mask; }
    unsigned pcr_pid() const { return read_u16(22) & pid_mask; }
    unsigned video_pid() const { return read_u16(24) & pid_mask; }
    unsigned audio_pid() const { return read_u16(26) & pid_mask; }
    unsigned transport_stream_id() const { return read_u16(64); }
    unsigned original_network_id() const { return read_u16(68); }
    unsigned event_id() const { return read_u16(78); }
    BroadcastTime start_time() const { return read_u32(80); }
    BroadcastTime end_time() const { return read_u32(84); }

    // The stream's first bytes as far as the file delivered them into the block: what a source that
    // cannot be read again has already given of the stream.
    std::span<const std::uint8_t> stream_start() const;

    // Texts are the bytes as stored, with no character-set conversion.
    std::string_view channel_name() const;
    std::string_view event_name() const;
    std::string_view event_description() const;

    // The same texts taken whole for decoding: one whose first byte selects the two-byte character
    // table (0x11) is ended by a zero 16-bit character, not by the first zero byte, which there is
    // only half of a character; one that begins with the selector 0x10 0x00 0xNN runs past that
    // selector's zero byte. Other texts are the ones above.
    std::string_view channel_name_to_decode() const;
    std::string_view event_name_to_decode() const;
    std::string_view event_description_to_decode() const;

private:
    static constexpr unsigned pid_mask = 0x1FFF;

    RecordingHeader() = default;

    unsigned read_u16(std::size_t offset) const;
    BroadcastTime read_u32(std::size_t offset) const;
    std::string_view text(std::size_t offset, std::size_t max_length) const;
    std::string_view text_to_decode(std::size_t offset, std::size_t max_length) const;

    std::array<std::uint8_t, header_block_size> block_ {};
    std::size_t delivered_ = 0;
};

struct HeaderCheck {
    std::optional<RecordingHeader> header;  // empty when rejected
    HeaderRejection rejection = HeaderRejection::none;
    unsigned version = 0;      // the format version found
    std::uint64_t length = 0;  // the bytes delivered, at most a block
};

// A file read that is not a recording: why, and what it found where the reason names it (the version,
// or the length).
struct BadRecording {
    std::string path;
    HeaderRejection why;
    std::uint64_t found = 0;
};

// The failure for a block the check rejected.
BadRecording bad_recording(std::string path, const HeaderCheck& check);

// Reads the block from the start of the open recording: at offset 0 from a file, or the first bytes in
// order from a source that cannot be positioned (a pipe, a FIFO, a socket, a terminal), which it
// leaves just past the block. The end of the file is no error: the check runs on what was delivered;
// the error number when the block could not be read. Prints nothing.
Expected<HeaderCheck, int> read_recording_header(NativeHandle input);
