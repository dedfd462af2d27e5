// What an existing .ts file holds, held against the stream of the recording that would write it: one
// judgement for a single run's default .ts and for every .ts a batch names.
#pragma once

#include "platform/file.h"
#include "platform/file_identity.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct StreamSource;

enum class OutputHolding {
    not_a_file,       // a FIFO or a device: it keeps nothing, so it is never done, and never another's
    nothing,          // no file, an empty one, or one whose compared blocks are all zero bytes
    whole_stream,     // a regular file of the stream's size whose compared blocks are the stream's
    start_of_stream,  // no longer than the stream, its compared blocks the stream's but for pages a crash left zero
    something_else,   // another recording's stream, or any other data
};

// The blocks of a file of `size` bytes that are compared with the stream: its first and its last
// 64 KiB, and 16 blocks of 4 KiB spread evenly between, on page boundaries: at most 192 KiB.
std::vector<ByteRange> compared_blocks(std::uint64_t size);

// A crash leaves a file's pages zero a page at a time, and no page of a real stream is all zero: it
// has a sync byte every 188 bytes.
inline constexpr std::uint64_t page_size = 4096;

// One compared block: the .ts file's bytes there, and the stream's at the same offset.
struct ComparedBlock {
    std::uint64_t offset = 0;
    std::string written;
    std::string stream;
};

// What is known of a .ts file and of the stream it is held against.
struct OutputFacts {
    bool exists = false;
    bool regular_file = false;
    std::uint64_t size = 0;
    std::optional<std::uint64_t> stream_size;  // empty for a recording read in order, which cannot be read again
    std::vector<ComparedBlock> blocks;         // at compared_blocks(size)
    bool hole_over_stream_data = false;        // a hole in the file where the stream's bytes are not zero
};

// The judgement, from the facts alone.
OutputHolding judge_holding(const OutputFacts& facts);

// Judges the file open at `output`, as its identity describes it, reading what the facts need; the
// error number when the file could not be read to judge it.
Expected<OutputHolding, int> judge_output(const StreamSource& recording, NativeHandle output, const FileIdentity& output_identity);

// Compares the first `size` bytes of the open .ts file with the stream, byte for byte, reporting a
// chunk per `chunk_size` bytes and once more at the end, as the copy does: whether they are equal,
// false at the first difference, where the compare stops. The error number of a read that failed;
// EINTR when `stop_requested`, asked after each piece, stopped it.
Expected<bool, int> compare_in_full(const StreamSource& recording, NativeHandle output, std::uint64_t size,
    std::uint64_t chunk_size, const std::function<void()>& chunk_done, const std::function<bool()>& stop_requested);

// The same for the file at `output_path`, opened without waiting on a FIFO.
Expected<OutputHolding, int> judge_output_path(const StreamSource& recording, const std::string& output_path);
