// Files as the system gives them: one owning handle, and every call the stages make on files.
#pragma once

#include "shared/expected.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A run of bytes in a file.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// A descriptor on POSIX systems, a HANDLE on Windows.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle no_handle = -1;

// Every call below that fails leaves the reason in errno, as a POSIX error number on every system,
// so that messages read the same everywhere.

class File {
public:
    File() = default;
    explicit File(NativeHandle handle) : handle_(handle) { }
    ~File();

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    NativeHandle native() const { return handle_; }
    bool is_open() const { return handle_ != no_handle; }

    // Closing an output is where a delayed write error can surface, so callers that wrote check this.
    [[nodiscard]] bool close();

private:
    NativeHandle handle_ = no_handle;
};

// Closes a handle for good; false when the close reported an error.
bool close_handle(NativeHandle file);

// Opens an existing file to read it; a folder opens too, and then fails to be read.
File open_for_reading(const std::string& path);

// Opens a regular file to read it without ever waiting: a FIFO, a device or anything else but a
// regular file is looked at, not opened, and the open fails with EINVAL.
File open_regular_for_reading(const std::string& path);

// Opens for writing, creating the file if it is missing but never emptying it: the caller first
// looks at what it opened. A regular file can be read through the handle too, where the system allows
// it, so that its first bytes can be judged; a FIFO or a device is opened for writing alone, so that
// the going of its reader is still seen.
File open_for_writing(const std::string& path);

// A file opened for appending, and whether that open created it.
struct FileForAppending {
    File file;
    bool created = false;
};

// Opens for appending, every write going to the end, creating the file if it is missing. Where the
// system allows it the file can be read through the handle too. A file that keeps disappearing between
// the creating open and the plain one (a symbolic link to nothing) is not tried for ever: the open
// fails with the last reason, the file not open and errno saying why.
FileForAppending open_for_appending(const std::string& path);

// A second handle on the same open file. A lock taken through either stays until both are closed,
// so the first can be closed, and its result checked, while the lock is still held.
File duplicate(NativeHandle file);

// Bytes moved, 0 at the end, -1 on an error. A call a signal interrupts is made again, and one on a
// descriptor left non-blocking waits until it is ready, so neither is ever an error to the caller.
std::int64_t read_at(NativeHandle file, void* data, std::size_t length, std::uint64_t offset);
std::int64_t read_in_order(NativeHandle file, void* data, std::size_t length);
std::int64_t write_some(NativeHandle file, const void* data, std::size_t length);

using WriteCall = std::function<std::int64_t(NativeHandle, const void*, std::size_t)>;

// Writes every byte through `write`, continuing short writes; false on the first error, with errno
// saying why.
[[nodiscard]] bool write_all_with(const WriteCall& write, NativeHandle file, const void* data, std::size_t length);
[[nodiscard]] bool write_all(NativeHandle file, std::string_view bytes);

[[nodiscard]] bool truncate_file(NativeHandle file, std::uint64_t size);

// Makes the data durable. A file that cannot be synced (a device, a pipe) is not counted as failing.
[[nodiscard]] bool flush_to_disk(NativeHandle file);

// Makes a new file's directory entry durable, for a file that must survive a crash. File systems and
// systems that cannot sync a folder are not counted as failing.
[[nodiscard]] bool flush_folder_of(const std::string& path);

enum class LockOutcome {
    locked,
    held_elsewhere,  // another open of the file holds it, and the caller did not want to wait
    unsupported,     // the file system cannot lock a file opened this way; only lock_against_other_runs says so
    error,           // errno says why
};

// Takes an exclusive lock on the whole file, until the handle and its duplicates are closed. With
// `wait`, runs side by side on one catalogue take turns here; without it, a lock another run holds is
// reported at once.
[[nodiscard]] LockOutcome lock_exclusively(NativeHandle file, bool wait);

// Gives up a lock taken through any handle on the same open file, before the handles are closed.
void unlock(NativeHandle file);

// Takes a shared lock on the whole file, waiting for an exclusive one to go: readers of a file that
// runs append to under lock_exclusively read whole lines.
[[nodiscard]] LockOutcome lock_shared(NativeHandle file);

// Takes an exclusive lock, without waiting, on a file opened only for reading, that only other runs of
// this program look for: it never stops another program reading the file. Where locks are mandatory
// (Windows) it covers a byte range past the end of any file. `unsupported` where the file system
// refuses an exclusive lock without write access (NFS): the caller goes on without it.
[[nodiscard]] LockOutcome lock_against_other_runs(NativeHandle file);

[[nodiscard]] bool remove_file(const std::string& path);

// The holes of a regular file up to `size`: ranges that hold no data and read as zero bytes. None where
// the system cannot tell. The handle's own position is left where it was, since the caller may write
// through it next. The error number when the file cannot be asked.
Expected<std::vector<ByteRange>, int> find_holes(NativeHandle file, std::uint64_t size);

// Now, on the clock the system keeps files' modification and change times by, in the same units as
// FileIdentity's.
std::int64_t file_clock_now_ns();

// False for a pipe, a FIFO, a socket or a terminal, which can only be read in order.
bool can_be_positioned(NativeHandle file);

// True when the handle writes only at the end of the file, as an append does.
bool writes_at_end(NativeHandle file);

// The piece size a copy through the program's own buffer reads and writes by on this system.
std::size_t buffered_piece_size();

// The first `length` bytes of an existing regular file, fewer if it is shorter; empty when the path
// names no regular file or it cannot be read. Never opens anything but a regular file, so a FIFO is
// not disturbed.
std::string read_file_start(const std::string& path, std::size_t length);

// The first `length` bytes of an open file, fewer if it is shorter or cannot be read.
std::string read_start(NativeHandle file, std::size_t length);

// Whether `path` could be opened for appending, being created if it is missing, found without
// creating or changing anything; the error number the open would fail with.
Expected<void, int> appending_allowed(const std::string& path);

struct PathParts {
    std::string folder;  // "." for a bare name, "/" for a name at the root
    std::string name;
};

// '/', and on Windows '\\' as well.
bool is_path_separator(char character);

// What the system writes between a folder and a name: '/', or on Windows '\\'.
extern const char path_separator;

// Splits at the last separator.
PathParts split_path(const std::string& path);

// A file's name, without its folders, as the file system compares names: unchanged where names differ
// by case, in the system's own upper case where they do not (Windows), so that two names that the
// file system takes for one give the same key.
std::string file_name_key(std::string_view path);

// The name the file system holds for an open file, where it can differ from the one it was opened by:
// on Windows the long name for a short 8.3 one. Empty where it cannot differ, or cannot be had.
std::string opened_file_name(NativeHandle file);

// The name the file system holds for the file at `path`, without opening it: on Windows the long name
// for a short 8.3 one, or without the trailing dots and spaces the path gave. Empty where it cannot
// differ from the path's own, or the file is not there.
std::string name_held_for(const std::string& path);

// A name as the file system keeps it: on Windows without the trailing dots and spaces that the system
// drops from every name it is given; elsewhere unchanged.
std::string_view name_as_kept(std::string_view name);

// `name` inside `folder`, with the system's separator between them unless `folder` already ends in one.
std::string join_path(const std::string& folder, const std::string& name);

// One entry of a folder.
struct FolderEntry {
    std::string name;
    bool folder = false;  // a folder, or a link to one
};

// A folder's entries, "." and ".." left out, in no particular order; the error number when the
// folder cannot be read.
Expected<std::vector<FolderEntry>, int> list_folder(const std::string& path);
