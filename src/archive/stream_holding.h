// What an existing .ts file holds, held against the stream of the recording that would write it.
#pragma once

#include "platform/file.h"
#include "platform/file_identity.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct OpenRecording;

enum class OutputHolding {
    nothing,          // no file, or an empty one
    whole_stream,     // a regular file of the stream's size whose samples are the stream's
    start_of_stream,  // no longer than the stream, and its start is the stream's: what a run stopped part way leaves
    not_a_file,       // a FIFO or a device: it keeps nothing, so it is never done, and never another's
    something_else,   // another recording's stream, or any other data
};

struct OutputJudgement {
    OutputHolding holding = OutputHolding::nothing;
    int error_number = 0;  // the file could not be read to judge it; holding then means nothing
};

struct ByteRange {
    std::uint64_t offset;
    std::size_t length;
};

// Where a stream of `stream_size` bytes is sampled to tell whether a file holds it: the first and the
// last 64 KiB and 16 blocks of 4 KiB spread evenly between: at most 192 KiB of each of the two
// files, and a file left at full size but partly empty by a crash is not taken for the stream.
std::vector<ByteRange> stream_samples(std::uint64_t stream_size);

// The bytes compared to tell that a file holds the start of a stream.
inline constexpr std::size_t compared_start = 64 * 1024;

// Judges the file open at `output`, as its identity describes it. A recording read in order (a pipe)
// cannot be read again, so anything in its .ts is something else.
OutputJudgement judge_output(const OpenRecording& recording, NativeHandle output, const FileIdentity& output_identity);

// The same for the file at `output_path`, opened without waiting on a FIFO.
OutputJudgement judge_output_path(const OpenRecording& recording, const std::string& output_path);
