#include "io/file_descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

FileDescriptor::~FileDescriptor()
{
    // Only reached on paths that already failed or never wrote; their close result has nothing to add.
    if (is_open())
        static_cast<void>(::close(descriptor_));
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1))
{
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (is_open())
            static_cast<void>(::close(descriptor_));
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

bool FileDescriptor::close()
{
    if (!is_open())
        return true;
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    return ::close(std::exchange(descriptor_, -1)) == 0;
}

FileDescriptor open_file(const std::string& path, int flags, mode_t mode)
{
    for (;;) {
        int descriptor = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        if (descriptor >= 0 || errno != EINTR)
            return FileDescriptor { descriptor };
    }
}

bool write_all(int descriptor, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}
