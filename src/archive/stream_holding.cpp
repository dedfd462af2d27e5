#include "archive/stream_holding.h"

#include "recording/recording_header.h"
#include "recording/stream_extraction.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t end_sample = 64 * 1024;
constexpr std::size_t middle_sample = 4 * 1024;
constexpr std::uint64_t middle_samples = 16;

// Reads exactly `length` bytes at `offset`, or says why not: 0 and a short count at the end.
int read_exactly(NativeHandle file, char* data, std::size_t length, std::uint64_t offset, std::size_t& got)
{
    got = 0;
    while (got < length) {
        std::int64_t read = read_at(file, data + got, length - got, offset + got);
        if (read < 0)
            return errno;
        if (read == 0)
            break;
        got += static_cast<std::size_t>(read);
    }
    return 0;
}

// Whether the output's bytes in `range` are the stream's; an error number when either cannot be read.
int range_matches(const OpenRecording& recording, NativeHandle output, const ByteRange& range, bool& matches)
{
    std::vector<char> stream(range.length);
    std::vector<char> written(range.length);
    std::size_t stream_got = 0;
    std::size_t written_got = 0;
    if (int error = read_exactly(output, written.data(), range.length, range.offset, written_got); error != 0)
        return error;
    if (int error = read_exactly(recording.handle, stream.data(), range.length, transport_stream_offset + range.offset, stream_got); error != 0)
        return error;
    matches = stream_got == range.length && written_got == range.length && stream == written;
    return 0;
}

}

std::vector<ByteRange> stream_samples(std::uint64_t stream_size)
{
    std::vector<ByteRange> samples;
    std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(stream_size, end_sample));
    samples.push_back({ 0, first });
    if (stream_size <= end_sample)
        return samples;
    std::uint64_t last_start = stream_size - std::min<std::uint64_t>(stream_size, end_sample);
    if (last_start > end_sample) {
        std::uint64_t between = last_start - end_sample;
        std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(between, middle_sample));
        for (std::uint64_t block = 0; block < middle_samples; ++block)
            samples.push_back({ end_sample + (between - length) * block / (middle_samples - 1), length });
    }
    samples.push_back({ std::max<std::uint64_t>(last_start, end_sample), static_cast<std::size_t>(stream_size - std::max<std::uint64_t>(last_start, end_sample)) });
    return samples;
}

OutputJudgement judge_output(const OpenRecording& recording, NativeHandle output, const FileIdentity& output_identity)
{
    if (!output_identity.exists)
        return { OutputHolding::nothing, 0 };
    if (!output_identity.regular_file)
        return { OutputHolding::not_a_file, 0 };
    if (output_identity.size == 0)
        return { OutputHolding::nothing, 0 };
    if (recording.sequential || !recording.identity.regular_file || recording.identity.size < transport_stream_offset)
        return { OutputHolding::something_else, 0 };
    std::uint64_t stream_size = recording.identity.size - transport_stream_offset;
    if (output_identity.size > stream_size)
        return { OutputHolding::something_else, 0 };

    bool matches = false;
    ByteRange start { 0, static_cast<std::size_t>(std::min<std::uint64_t>(output_identity.size, compared_start)) };
    if (int error = range_matches(recording, output, start, matches); error != 0)
        return { OutputHolding::nothing, error };
    if (!matches)
        return { OutputHolding::something_else, 0 };
    if (output_identity.size < stream_size)
        return { OutputHolding::start_of_stream, 0 };
    for (const ByteRange& sample : stream_samples(stream_size)) {
        if (int error = range_matches(recording, output, sample, matches); error != 0)
            return { OutputHolding::nothing, error };
        if (!matches)
            return { OutputHolding::start_of_stream, 0 };
    }
    return { OutputHolding::whole_stream, 0 };
}

OutputJudgement judge_output_path(const OpenRecording& recording, const std::string& output_path)
{
    File output = open_regular_for_reading(output_path);
    if (!output.is_open()) {
        int error_number = errno;
        if (error_number == EINVAL)
            return { OutputHolding::not_a_file, 0 };
        if (identify_path(output_path).missing)
            return { OutputHolding::nothing, 0 };
        return { OutputHolding::nothing, error_number };
    }
    return judge_output(recording, output.native(), identify(output.native()));
}
