// An owning handle for a POSIX file descriptor, and the small system-call loops the stages share.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) { }
    ~FileDescriptor();

    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return descriptor_; }
    bool is_open() const { return descriptor_ >= 0; }

    // Closing an output is where a delayed write error can surface, so callers that wrote check this.
    [[nodiscard]] bool close();

private:
    int descriptor_ = -1;
};

// Opens with O_CLOEXEC added; the handle is not open when the call failed (errno says why).
FileDescriptor open_file(const std::string& path, int flags, mode_t mode = 0666);

// The folder a path's last part lives in: "." for a bare name, "/" for a name at the root.
std::string parent_folder(const std::string& path);

// Makes a file's directory entry durable, for a new file that must survive a crash. File systems that
// cannot sync a folder are not counted as failing.
[[nodiscard]] bool sync_parent_folder(const std::string& path);

// Writes every byte, continuing short writes and interrupted calls; false on the first real error.
[[nodiscard]] bool write_all(int descriptor, std::string_view bytes);

// The first `length` bytes of an existing regular file, fewer if it is shorter; empty when the path
// names no regular file or it cannot be read. Never opens anything but a regular file, so a FIFO is
// not disturbed.
std::string read_file_start(const std::string& path, std::size_t length);

// Whether `path` could be opened for appending, being created if it is missing, found without
// creating or changing anything: 0, or the error number the open would fail with.
int appending_error(const std::string& path);

// False for a pipe, a FIFO, a socket or a terminal, which can only be read in order.
bool can_be_positioned(int descriptor);
