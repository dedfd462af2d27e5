#include "io/file_descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

std::string read_file_start(const std::string& path, std::size_t length)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    FileDescriptor file = open_file(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    std::string bytes(length, '\0');
    std::size_t delivered = 0;
    while (file.is_open() && delivered < length) {
        ssize_t got = ::pread(file.get(), bytes.data() + delivered, length - delivered, static_cast<off_t>(delivered));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        delivered += static_cast<std::size_t>(got);
    }
    bytes.resize(delivered);
    return bytes;
}

int appending_error(const std::string& path)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return EISDIR;
        if (!S_ISREG(status.st_mode))
            // Opening a FIFO or a device to find out could block or act on it; ask instead.
            return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
        // Opening an existing file without creating or truncating it changes nothing in it.
        FileDescriptor file = open_file(path, O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK);
        return file.is_open() ? 0 : errno;
    }
    if (errno != ENOENT)
        return errno;
    // A new file: its folder must exist and let this process add an entry. That also reports a
    // read-only file system, which refuses the access check with EROFS.
    std::string folder = parent_folder(path);
    if (::stat(folder.c_str(), &status) != 0)
        return errno;
    if (!S_ISDIR(status.st_mode))
        return ENOTDIR;
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

bool can_be_positioned(int descriptor)
{
    return ::lseek(descriptor, 0, SEEK_CUR) >= 0 || errno != ESPIPE;
}
