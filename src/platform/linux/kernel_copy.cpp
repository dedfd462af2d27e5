// The kernel copy and the read-ahead advice, which only Linux has.

#include "platform/kernel_copy.h"

#include "platform/posix/retry.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

std::int64_t kernel_move(NativeHandle input, std::int64_t* input_offset, NativeHandle output, std::size_t length)
{
    off_t offset = input_offset ? static_cast<off_t>(*input_offset) : 0;
    // A pipe left non-blocking by whoever made it is waited on until it has something to give.
    int from = static_cast<int>(input);
    ssize_t moved = retried(input_offset ? -1 : from, POLLIN,
        [&] { return ::splice(from, input_offset ? &offset : nullptr, static_cast<int>(output), nullptr, length, SPLICE_F_MOVE); });
    if (input_offset)
        *input_offset = offset;
    return moved;
}

std::optional<KernelPipe> make_kernel_pipe(std::size_t capacity)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    KernelPipe pipe { File { ends[0] }, File { ends[1] }, 0 };
    int granted = ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(std::min<std::size_t>(capacity, 1 << 30)));
    if (granted <= 0 || static_cast<std::size_t>(granted) < capacity)
        return std::nullopt;
    pipe.capacity = static_cast<std::size_t>(granted);
    return pipe;
}

void grow_pipe(NativeHandle pipe, std::size_t capacity)
{
    static_cast<void>(::fcntl(static_cast<int>(pipe), F_SETPIPE_SZ, static_cast<int>(std::min<std::size_t>(capacity, 1 << 30))));
}

void advise_sequential(NativeHandle file)
{
    static_cast<void>(::posix_fadvise(static_cast<int>(file), 0, 0, POSIX_FADV_SEQUENTIAL));
}
