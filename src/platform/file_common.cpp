// The parts of the platform layer that are the same on every system.

#include "platform/file.h"
#include "platform/file_identity.h"

#include <cerrno>
#include <utility>

File::~File()
{
    // Only reached on paths that already failed or never wrote; their close result has nothing to add.
    if (is_open())
        static_cast<void>(close_handle(handle_));
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, no_handle))
{
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        if (is_open())
            static_cast<void>(close_handle(handle_));
        handle_ = std::exchange(other.handle_, no_handle);
    }
    return *this;
}

bool File::close()
{
    if (!is_open())
        return true;
    return close_handle(std::exchange(handle_, no_handle));
}

bool write_all_with(const WriteCall& write, NativeHandle file, const void* data, std::size_t length)
{
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        std::int64_t written = write(file, bytes, length);
        if (written < 0)
            return false;
        if (written == 0) {
            // A write that moves nothing would loop for ever; no file or device does it honestly.
            errno = EIO;
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool write_all(NativeHandle file, std::string_view bytes)
{
    return write_all_with(write_some, file, bytes.data(), bytes.size());
}

std::string read_start(NativeHandle file, std::size_t length)
{
    std::string bytes(length, '\0');
    std::size_t delivered = 0;
    while (delivered < length) {
        std::int64_t got = read_at(file, bytes.data() + delivered, length - delivered, delivered);
        if (got <= 0)
            break;
        delivered += static_cast<std::size_t>(got);
    }
    bytes.resize(delivered);
    return bytes;
}

std::string read_file_start(const std::string& path, std::size_t length)
{
    File file = open_regular_for_reading(path);
    return file.is_open() ? read_start(file.native(), length) : std::string();
}

PathParts split_path(const std::string& path)
{
    std::string::size_type separator = std::string::npos;
    for (std::string::size_type index = path.size(); index-- > 0;) {
        if (is_path_separator(path[index])) {
            separator = index;
            break;
        }
    }
    if (separator == std::string::npos)
        return { ".", path };
    return { separator == 0 ? path.substr(0, 1) : path.substr(0, separator), path.substr(separator + 1) };
}

std::string join_path(const std::string& folder, const std::string& name)
{
    if (folder.empty() || is_path_separator(folder.back()))
        return folder + name;
    return folder + path_separator + name;
}

bool is_same_file(const FileIdentity& first, const FileIdentity& second)
{
    if (first.exists && second.exists)
        return first.device == second.device && first.index == second.index;
    if (!first.exists && !second.exists)
        return !first.resolved_path.empty() && first.resolved_path == second.resolved_path;
    return false;
}

bool changed_between(const FileIdentity& before, const FileIdentity& after)
{
    return before.size != after.size || before.modified_ns != after.modified_ns || before.changed_ns != after.changed_ns;
}
