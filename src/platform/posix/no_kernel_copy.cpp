// Systems without a kernel copy: every copy is the buffered one, and the system takes no read advice.

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

std::size_t buffered_piece_size()
{
    return 512 * 1024;
}
