// Systems without a kernel copy (the generic POSIX layer, Windows): every copy is the buffered one, and
// the system takes no read advice.

#include "platform/kernel_copy.h"

#include <cerrno>

std::int64_t kernel_move(NativeHandle, std::int64_t*, NativeHandle, std::size_t)
{
    errno = ENOSYS;
    return -1;
}

std::optional<KernelPipe> make_kernel_pipe(std::size_t)
{
    return std::nullopt;
}

void advise_sequential(NativeHandle) { }

void grow_pipe(NativeHandle, std::size_t) { }
