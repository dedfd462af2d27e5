#include "archive/stream_holding.h"

#include "recording/recording_header.h"
#include "recording/stream_extraction.h"

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::uint64_t end_block = 64 * 1024;
constexpr std::uint64_t middle_block = page_size;
constexpr std::uint64_t middle_blocks = 16;

bool all_zero(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char byte) { return byte == 0; });
}

// A block that holds the stream's bytes, but for whole pages left zero: what a crash leaves of a copy
// that was under way. Pages are the file's own, so a block is cut at multiples of the page size.
bool equal_but_for_zero_pages(const ComparedBlock& block)
{
    std::uint64_t offset = block.offset;
    std::size_t at = 0;
    while (at < block.written.size()) {
        std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(page_size - offset % page_size, block.written.size() - at));
        std::string_view written = std::string_view(block.written).substr(at, length);
        std::string_view stream = std::string_view(block.stream).substr(std::min(at, block.stream.size()), length);
        if (written != stream && !all_zero(written))
            return false;
        at += length;
        offset += length;
    }
    return true;
}

// Reads `length` bytes at `offset`, fewer at the end of the file.
Expected<std::string, int> read_block(NativeHandle file, std::uint64_t offset, std::uint64_t length)
{
    std::string bytes(static_cast<std::size_t>(length), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        std::int64_t read = read_at(file, bytes.data() + got, bytes.size() - got, offset + got);
        if (read < 0)
            return Unexpected { errno };
        if (read == 0)
            break;
        got += static_cast<std::size_t>(read);
    }
    bytes.resize(got);
    return bytes;
}

// Whether the stream holds anything but zero bytes in `range`: a hole there in the .ts file is then
// a part that was never written. A real stream has a byte that is not zero within every packet.
Expected<bool, int> stream_has_data_in(const StreamSource& recording, const ByteRange& range)
{
    for (std::uint64_t offset = range.offset; offset < range.offset + range.length;) {
        std::uint64_t length = std::min<std::uint64_t>(end_block, range.offset + range.length - offset);
        TRY_VALUE(piece, read_block(recording.handle, transport_stream_offset + offset, length));
        if (!all_zero(piece))
            return true;
        if (piece.empty())
            break;
        offset += piece.size();
    }
    return false;
}

// Reads what the judgement needs, in the order it needs it, and no more: the .ts file's blocks; the
// stream's only when the file could hold it; its holes only when it could be whole.
Expected<OutputFacts, int> gather_facts(const StreamSource& recording, NativeHandle output, OutputFacts facts)
{
    for (const ByteRange& range : compared_blocks(facts.size)) {
        TRY_VALUE(written, read_block(output, range.offset, range.length));
        facts.blocks.push_back({ .offset = range.offset, .written = std::move(written), .stream = {} });
    }
    bool zeros = std::all_of(facts.blocks.begin(), facts.blocks.end(), [](const ComparedBlock& block) { return all_zero(block.written); });
    if (zeros || facts.size > *facts.stream_size)
        return facts;
    bool equal = true;
    for (ComparedBlock& block : facts.blocks) {
        TRY_VALUE(stream, read_block(recording.handle, transport_stream_offset + block.offset, block.written.size()));
        block.stream = std::move(stream);
        equal = equal && block.stream == block.written;
    }
    if (!equal || facts.size != *facts.stream_size)
        return facts;
    TRY_VALUE(holes, find_holes(output, facts.size));
    for (const ByteRange& hole : holes) {
        TRY_VALUE(has_data, stream_has_data_in(recording, hole));
        if (has_data) {
            facts.hole_over_stream_data = true;
            break;
        }
    }
    return facts;
}

}

std::vector<ByteRange> compared_blocks(std::uint64_t size)
{
    std::vector<ByteRange> blocks;
    blocks.push_back({ 0, std::min(size, end_block) });
    if (size <= end_block)
        return blocks;
    std::uint64_t last_start = std::max(size - std::min(size, end_block), end_block);
    if (last_start > end_block) {
        std::uint64_t between = last_start - end_block;
        std::uint64_t length = std::min(between, middle_block);
        for (std::uint64_t block = 0; block < middle_blocks; ++block) {
            std::uint64_t offset = end_block + (between - length) * block / (middle_blocks - 1) / page_size * page_size;
            if (blocks.back().offset != offset)
                blocks.push_back({ offset, length });
        }
    }
    blocks.push_back({ last_start, size - last_start });
    return blocks;
}

OutputHolding judge_holding(const OutputFacts& facts)
{
    if (!facts.exists)
        return OutputHolding::nothing;
    if (!facts.regular_file)
        return OutputHolding::not_a_file;
    if (facts.size == 0)
        return OutputHolding::nothing;
    // What a pipe gave cannot be read again to compare.
    if (!facts.stream_size)
        return OutputHolding::something_else;
    if (std::all_of(facts.blocks.begin(), facts.blocks.end(), [](const ComparedBlock& block) { return all_zero(block.written); }))
        return OutputHolding::nothing;
    if (facts.size > *facts.stream_size)
        return OutputHolding::something_else;
    bool equal = std::all_of(facts.blocks.begin(), facts.blocks.end(), [](const ComparedBlock& block) { return block.written == block.stream; });
    if (equal && facts.size == *facts.stream_size && !facts.hole_over_stream_data)
        return OutputHolding::whole_stream;
    if (std::all_of(facts.blocks.begin(), facts.blocks.end(), equal_but_for_zero_pages))
        return OutputHolding::start_of_stream;
    return OutputHolding::something_else;
}

Expected<OutputHolding, int> judge_output(const StreamSource& recording, NativeHandle output, const FileIdentity& output_identity)
{
    OutputFacts facts;
    facts.exists = output_identity.exists;
    facts.regular_file = output_identity.regular_file;
    facts.size = output_identity.size;
    if (!recording.sequential && recording.identity.regular_file && recording.identity.size >= transport_stream_offset)
        facts.stream_size = recording.identity.size - transport_stream_offset;
    if (facts.exists && facts.regular_file && facts.size > 0 && facts.stream_size) {
        TRY_VALUE(gathered, gather_facts(recording, output, std::move(facts)));
        return judge_holding(gathered);
    }
    return judge_holding(facts);
}

Expected<bool, int> compare_in_full(const StreamSource& recording, NativeHandle output, std::uint64_t size,
    std::uint64_t chunk_size, const std::function<void()>& chunk_done, const std::function<bool()>& stop_requested)
{
    constexpr std::uint64_t piece = 1024 * 1024;
    std::uint64_t in_chunk = 0;
    for (std::uint64_t offset = 0; offset < size; offset += piece) {
        std::uint64_t length = std::min(piece, size - offset);
        TRY_VALUE(written, read_block(output, offset, length));
        TRY_VALUE(stream, read_block(recording.handle, transport_stream_offset + offset, length));
        if (written != stream || written.size() != length)
            return false;
        in_chunk += length;
        if (in_chunk >= chunk_size) {
            in_chunk -= chunk_size;
            chunk_done();
        }
        if (stop_requested && stop_requested())
            return Unexpected { EINTR };
    }
    if (in_chunk > 0)
        chunk_done();
    chunk_done();
    return true;
}

Expected<OutputHolding, int> judge_output_path(const StreamSource& recording, const std::string& output_path)
{
    File output = open_regular_for_reading(output_path);
    if (!output.is_open()) {
        int error_number = errno;
        if (error_number == EINVAL)
            return OutputHolding::not_a_file;
        if (error_number == ENOENT || error_number == ENOTDIR)
            return OutputHolding::nothing;
        return Unexpected { error_number };
    }
    return judge_output(recording, output.native(), identify(output.native()));
}
