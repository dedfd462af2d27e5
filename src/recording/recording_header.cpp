#include "recording/recording_header.h"

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::size_t channel_name_offset = 28;
constexpr std::size_t event_name_length_offset = 89;
constexpr std::size_t event_name_offset = 91;
constexpr std::uint8_t sync_byte = 0x47;

bool is_known_version(unsigned version)
{
    return version == 0x5000 || version == 0x5010;
}

// Whether the bytes, fewer than a recording has, are the start of one: the magic and the version as far
// as they go. An empty file agrees, and so does any copy cut short.
bool agrees_with_a_recordings_start(std::span<const std::uint8_t> bytes)
{
    std::size_t magic = std::min(bytes.size(), recording_magic.size());
    if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(magic), recording_magic.begin(),
            [](std::uint8_t byte, char letter) { return byte == static_cast<std::uint8_t>(letter); }))
        return false;
    if (bytes.size() == 5)
        return bytes[4] == 0x50;
    return bytes.size() < 6 || is_known_version(static_cast<unsigned>(bytes[4] << 8 | bytes[5]));
}

}

HeaderCheck RecordingHeader::check(std::span<const std::uint8_t> delivered)
{
    RecordingHeader header;
    header.delivered_ = std::min(delivered.size(), header_block_size);
    std::copy_n(delivered.begin(), header.delivered_, header.block_.begin());
    HeaderCheck result { std::nullopt, HeaderRejection::none, header.read_u16(4), header.delivered_ };

    if (header.delivered_ < smallest_recording_size && agrees_with_a_recordings_start(delivered.first(header.delivered_)))
        result.rejection = HeaderRejection::too_short;
    else if (!begins_like_a_recording({ reinterpret_cast<const char*>(header.block_.data()), recording_magic.size() }))
        result.rejection = HeaderRejection::wrong_magic;
    else if (!is_known_version(result.version))
        result.rejection = HeaderRejection::unknown_version;
    else if (header.delivered_ < smallest_recording_size)
        result.rejection = HeaderRejection::too_short;
    else if (header.block_[transport_stream_offset] != sync_byte)
        result.rejection = HeaderRejection::no_stream;
    else
        result.header = header;
    return result;
}

std::optional<RecordingHeader> RecordingHeader::parse(std::span<const std::uint8_t> delivered)
{
    return check(delivered).header;
}

unsigned RecordingHeader::read_u16(std::size_t offset) const
{
    return static_cast<unsigned>(block_[offset] << 8 | block_[offset + 1]);
}

BroadcastTime RecordingHeader::read_u32(std::size_t offset) const
{
    return static_cast<BroadcastTime>(read_u16(offset)) << 16 | read_u16(offset + 2);
}

std::string_view RecordingHeader::text(std::size_t offset, std::size_t max_length) const
{
    // Stops at the first zero byte and never runs past the block.
    auto begin = block_.begin() + static_cast<std::ptrdiff_t>(offset);
    auto limit = begin + static_cast<std::ptrdiff_t>(std::min(max_length, block_.size() - offset));
    auto end = std::find(begin, limit, std::uint8_t { 0 });
    return { reinterpret_cast<const char*>(block_.data()) + offset, static_cast<std::size_t>(end - begin) };
}

std::span<const std::uint8_t> RecordingHeader::stream_start() const
{
    std::span<const std::uint8_t> block(block_);
    return delivered_ > transport_stream_offset ? block.subspan(transport_stream_offset, delivered_ - transport_stream_offset)
                                                : block.first(0);
}

std::string_view RecordingHeader::text_to_decode(std::size_t offset, std::size_t max_length) const
{
    std::string_view bytes = text(offset, max_length);
    std::size_t limit = std::min(max_length, block_.size() - offset);
    // The selector 0x10 0x00 0xNN holds a zero byte of its own, which does not end the text; a text
    // bounded within the selector is the part of it that is there.
    if (bytes == "\x10" && limit >= 2 && block_[offset + 1] == 0) {
        std::size_t rest = limit > 3 ? text(offset + 3, limit - 3).size() : 0;
        return { reinterpret_cast<const char*>(block_.data()) + offset, std::min(limit, 3 + rest) };
    }
    if (bytes.empty() || bytes.front() != '\x11')
        return bytes;
    std::size_t length = 1;
    while (length + 1 < limit && (block_[offset + length] != 0 || block_[offset + length + 1] != 0))
        length += 2;
    // A last lone byte is kept; the decoder shows it as a character cut short.
    if (length + 1 == limit)
        ++length;
    return { reinterpret_cast<const char*>(block_.data()) + offset, std::min(length, limit) };
}

std::string_view RecordingHeader::channel_name_to_decode() const
{
    return text_to_decode(channel_name_offset, block_.size());
}

std::string_view RecordingHeader::event_name_to_decode() const
{
    return text_to_decode(event_name_offset, block_[event_name_length_offset]);
}

std::string_view RecordingHeader::event_description_to_decode() const
{
    return text_to_decode(event_name_offset + block_[event_name_length_offset], block_.size());
}

std::string_view RecordingHeader::channel_name() const
{
    return text(channel_name_offset, block_.size());
}

std::string_view RecordingHeader::event_name() const
{
    return text(event_name_offset, block_[event_name_length_offset]);
}

std::string_view RecordingHeader::event_description() const
{
    // The description starts right after the L bytes of the name, even when the name ends early.
    return text(event_name_offset + block_[event_name_length_offset], block_.size());
}

Expected<HeaderCheck, int> read_recording_header(NativeHandle input)
{
    // One request for the whole block. The system may deliver less than asked without being at the end,
    // so a short read is continued; the block is never read past.
    std::array<std::uint8_t, header_block_size> bytes {};
    std::size_t delivered = 0;
    bool in_order = !can_be_positioned(input);
    while (delivered < bytes.size()) {
        std::int64_t length = in_order ? read_in_order(input, bytes.data() + delivered, bytes.size() - delivered)
                                       : read_at(input, bytes.data() + delivered, bytes.size() - delivered, delivered);
        if (length < 0)
            return Unexpected { errno };
        if (length == 0)
            break;
        delivered += static_cast<std::size_t>(length);
    }
    return RecordingHeader::check(std::span(bytes).first(delivered));
}

BadRecording bad_recording(std::string path, const HeaderCheck& check)
{
    std::uint64_t found = check.rejection == HeaderRejection::unknown_version ? check.version : check.length;
    return { std::move(path), check.rejection, found };
}
