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

std::string parent_folder(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool sync_parent_folder(const std::string& path)
{
    FileDescriptor folder = open_file(parent_folder(path), O_RDONLY | O_DIRECTORY);
    if (!folder.is_open())
        return false;
    if (::fsync(folder.get()) != 0 && errno != EINVAL && errno != EROFS)
        return false;
    return folder.close();
}
