#include "recording/stream_copy.h"

#include "platform/file_identity.h"

#include <algorithm>
#include <cerrno>

StreamCopyCalls StreamCopyCalls::system()
{
    return { ::read_at, read_in_order, write_some, ::kernel_move };
}

namespace {

// Progress through the stream, shared by both copy methods so that a fallback continues the same count.
class ChunkCounter {
public:
    ChunkCounter(std::uint64_t chunk_size, const std::function<void()>& chunk_done)
        : chunk_size_(std::max<std::uint64_t>(chunk_size, 1)), chunk_done_(chunk_done)
    {
    }

    std::uint64_t room_in_chunk() const { return chunk_size_ - filled_; }

    // A piece may end past a chunk's end, and past several.
    void add(std::uint64_t bytes)
    {
        filled_ += bytes;
        while (filled_ >= chunk_size_) {
            filled_ -= chunk_size_;
            chunk_done_();
        }
    }

    void finish()
    {
        if (filled_ > 0)
            chunk_done_();
        // The pass that finds nothing more to read is reported too.
        chunk_done_();
    }

private:
    std::uint64_t chunk_size_;
    std::uint64_t filled_ = 0;
    const std::function<void()>& chunk_done_;
};

// Where the copy stands; both methods advance it only by bytes that reached the output.
struct CopyPosition {
    std::uint64_t input_offset;
    ChunkCounter counter;
    CopyResult result;
    const std::function<bool()>& stop_requested;

    void advance(std::uint64_t length)
    {
        input_offset += length;
        result.bytes_copied += length;
        counter.add(length);
    }

    void fail(CopyOutcome outcome, int error_number) { result.ended = CopyCutShort { outcome, error_number }; }

    // Between pieces: whether the copy is to stop here.
    bool stopped()
    {
        if (!stop_requested || !stop_requested())
            return false;
        fail(CopyOutcome::stopped, EINTR);
        return true;
    }
};

std::size_t clamp_to_chunk(std::size_t wanted, const ChunkCounter& counter)
{
    return static_cast<std::size_t>(std::min<std::uint64_t>(wanted, counter.room_in_chunk()));
}

// Writes the bytes and counts them as copied, or records why the write failed.
bool write_and_count(NativeHandle output, const std::byte* data, std::size_t length, const StreamCopyCalls& calls,
    CopyPosition& position)
{
    if (output != no_handle && !write_all_with(calls.write, output, data, length)) {
        position.fail(CopyOutcome::write_failed, errno);
        return false;
    }
    position.advance(length);
    return true;
}

void copy_buffered(const CopySource& source, NativeHandle output, std::span<std::byte> buffer, const StreamCopySettings& settings,
    const StreamCopyCalls& calls, CopyPosition& position)
{
    NativeHandle input = source.input;
    std::size_t piece = std::min(settings.piece_size, buffer.size());
    if (piece == 0) {
        position.fail(CopyOutcome::read_failed, EINVAL);
        return;
    }
    for (;;) {
        // From a file, whole pieces at offsets that are multiples of the piece size, the first one
        // shorter: the stream starts 3760 bytes in, off the page grain, and reads on the grain into a
        // buffer on a page copy whole pages.
        std::size_t wanted = source.sequential ? piece : piece - static_cast<std::size_t>(position.input_offset % piece);
        std::int64_t delivered = source.sequential ? calls.read(input, buffer.data(), wanted)
                                                   : calls.read_at(input, buffer.data(), wanted, position.input_offset);
        if (delivered < 0) {
            position.fail(CopyOutcome::read_failed, errno);
            return;
        }
        if (delivered == 0) {
            position.counter.finish();
            return;
        }
        if (settings.inspect)
            settings.inspect(buffer.first(static_cast<std::size_t>(delivered)));
        if (!write_and_count(output, buffer.data(), static_cast<std::size_t>(delivered), calls, position) || position.stopped())
            return;
    }
}

// The errors with which the kernel declines to move data between these two files at all; the buffered
// copy can still do it. Any other error is a real failure to read or to write.
bool is_refusal(int error_number)
{
    switch (error_number) {
    case EXDEV:
    case EINVAL:
    case EOPNOTSUPP:
    case ENOSYS:
    case EBADF:
    case EPERM:
    case EACCES:
    case ETXTBSY:
        return true;
    default:
        return false;
    }
}

enum class KernelCopy { finished, fall_back };

// Moves the data input -> pipe -> output inside the kernel. Stops with `fall_back` when the kernel
// declines; `position` then holds the exact offset of the first byte that did not reach the output, and
// whatever is left in the pipe is dropped with it.
KernelCopy copy_in_kernel(NativeHandle input, std::uint64_t input_size, NativeHandle output, std::size_t pipe_size,
    const StreamCopyCalls& calls, CopyPosition& position)
{
    std::optional<KernelPipe> pipe = make_kernel_pipe(pipe_size);
    if (!pipe)
        return KernelCopy::fall_back;

    for (;;) {
        auto input_position = static_cast<std::int64_t>(position.input_offset);
        std::size_t wanted = clamp_to_chunk(pipe->capacity, position.counter);
        std::int64_t filled = calls.kernel_move(input, &input_position, pipe->write_end.native(), wanted);
        if (filled < 0) {
            if (is_refusal(errno))
                return KernelCopy::fall_back;
            position.fail(CopyOutcome::read_failed, errno);
            return KernelCopy::finished;
        }
        if (filled == 0) {
            // Some file systems hand over nothing while data remains; the buffered copy finds the real end.
            if (position.input_offset < input_size)
                return KernelCopy::fall_back;
            position.counter.finish();
            return KernelCopy::finished;
        }

        std::size_t in_pipe = static_cast<std::size_t>(filled);
        while (in_pipe > 0) {
            std::int64_t drained = calls.kernel_move(pipe->read_end.native(), nullptr, output, in_pipe);
            if (drained < 0) {
                if (is_refusal(errno))
                    return KernelCopy::fall_back;
                position.fail(CopyOutcome::write_failed, errno);
                return KernelCopy::finished;
            }
            if (drained == 0) {
                position.fail(CopyOutcome::write_failed, EIO);
                return KernelCopy::finished;
            }
            in_pipe -= static_cast<std::size_t>(drained);
            position.advance(static_cast<std::uint64_t>(drained));
        }
        if (position.stopped())
            return KernelCopy::finished;
    }
}

// A pipe is already the kernel's own buffer, so its data is spliced straight into the file. Nothing is
// taken from the pipe that did not reach the file, so a refusal loses nothing.
KernelCopy copy_from_pipe_in_kernel(NativeHandle input, NativeHandle output, std::size_t piece_size, const StreamCopyCalls& calls,
    CopyPosition& position)
{
    for (;;) {
        std::size_t wanted = clamp_to_chunk(piece_size, position.counter);
        std::int64_t moved = calls.kernel_move(input, nullptr, output, wanted);
        if (moved < 0) {
            if (is_refusal(errno))
                return KernelCopy::fall_back;
            // Reading a pipe has no failure of its own to speak of; this is the file refusing the data.
            position.fail(CopyOutcome::write_failed, errno);
            return KernelCopy::finished;
        }
        if (moved == 0) {
            position.counter.finish();
            return KernelCopy::finished;
        }
        position.advance(static_cast<std::uint64_t>(moved));
        if (position.stopped())
            return KernelCopy::finished;
    }
}

}

CopyResult copy_stream(const CopySource& source, NativeHandle output, std::span<std::byte> buffer,
    const StreamCopySettings& settings, const StreamCopyCalls& calls, const std::function<void()>& chunk_done)
{
    CopyPosition position { source.offset, ChunkCounter(settings.chunk_size, chunk_done), {}, settings.stop_requested };

    for (std::span<const std::byte> rest = source.already_read; !rest.empty();) {
        std::size_t piece = clamp_to_chunk(rest.size(), position.counter);
        if (settings.inspect)
            settings.inspect(rest.first(piece));
        if (!write_and_count(output, rest.data(), piece, calls, position))
            return position.result;
        rest = rest.subspan(piece);
    }

    NativeHandle input = source.input;
    FileIdentity input_file = identify(input);
    // The default 64 KiB pipe makes the copy take a step per 64 KiB, whatever the method.
    if (source.sequential && input_file.pipe)
        grow_pipe(input, settings.pipe_size);
    if (settings.method == CopyMethod::kernel_first && !settings.inspect && output != no_handle && identify(output).regular_file
        && !writes_at_end(output)) {
        KernelCopy outcome = KernelCopy::fall_back;
        if (!source.sequential && input_file.regular_file)
            outcome = copy_in_kernel(input, input_file.size, output, settings.pipe_size, calls, position);
        else if (source.sequential && input_file.pipe)
            outcome = copy_from_pipe_in_kernel(input, output, settings.pipe_size, calls, position);
        if (outcome == KernelCopy::finished)
            return position.result;
    }

    copy_buffered(source, output, buffer, settings, calls, position);
    return position.result;
}
