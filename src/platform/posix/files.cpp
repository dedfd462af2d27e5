// Files, identities and standard streams on a POSIX system.

#include "platform/file.h"
#include "platform/file_identity.h"
#include "platform/kernel_copy.h"
#include "platform/posix/retry.h"
#include "platform/standard_streams.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int max_link_depth = 40;  // as the kernel allows

// How often an open is tried again when the file changes under it between two steps.
constexpr int open_attempts = 3;

int descriptor_of(NativeHandle file)
{
    return static_cast<int>(file);
}

File open_with(const std::string& path, int flags)
{
    int descriptor = retried(-1, 0, [&] { return ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0666); });
    return File { descriptor >= 0 ? NativeHandle { descriptor } : no_handle };
}

std::int64_t as_result(ssize_t result)
{
    return static_cast<std::int64_t>(result);
}

std::int64_t nanoseconds(const struct timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

FileIdentity from_status(const struct stat& status)
{
    FileIdentity identity;
    identity.exists = true;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    identity.regular_file = S_ISREG(status.st_mode);
    identity.folder = S_ISDIR(status.st_mode);
    identity.character_device = S_ISCHR(status.st_mode);
    identity.pipe = S_ISFIFO(status.st_mode);
    identity.size = static_cast<std::uint64_t>(status.st_size);
    identity.modified_ns = nanoseconds(status.st_mtim);
    identity.changed_ns = nanoseconds(status.st_ctim);
    return identity;
}

FileIdentity from_failure()
{
    FileIdentity identity;
    identity.missing = errno == ENOENT || errno == ENOTDIR;
    return identity;
}

// A file about to be opened that is regular, or that the open will create as one.
bool is_regular_or_missing(const std::string& path)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode);
}

std::string real_directory(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// Where a file that does not exist yet would be created: its folder resolved, and a dangling link in
// the last place followed to its target.
std::string resolve_missing(std::string path)
{
    for (int depth = 0; depth < max_link_depth; ++depth) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        PathParts parts = split_path(path);
        std::string folder = real_directory(parts.folder);
        if (folder.empty() || parts.name.empty() || parts.name == "." || parts.name == "..")
            return {};
        std::string candidate = (folder == "/" ? "" : folder) + "/" + parts.name;

        char target[PATH_MAX];
        ssize_t length = ::readlink(candidate.c_str(), target, sizeof target);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof target)
            return candidate;
        std::string link(target, static_cast<std::size_t>(length));
        path = link.front() == '/' ? link : folder + "/" + link;
    }
    return {};
}

}

bool close_handle(NativeHandle file)
{
    // The descriptor is released even when close reports EINTR, so it is never retried.
    return ::close(descriptor_of(file)) == 0;
}

File open_for_reading(const std::string& path)
{
    return open_with(path, O_RDONLY);
}

File open_regular_for_reading(const std::string& path)
{
    // Looked at before it is opened: opening a FIFO, even without waiting, would let a writer that
    // waits for a reader go on, and it would then find its reader gone.
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0)
        return File {};
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return File {};
    }
    // Opened without waiting all the same, and looked at again, in case a FIFO was put there meanwhile.
    File file = open_with(path, O_RDONLY | O_NONBLOCK);
    if (file.is_open() && !identify(file.native()).regular_file) {
        errno = EINVAL;
        return File {};
    }
    return file;
}

File open_for_writing(const std::string& path)
{
    // Whether to ask for read access is judged by a look at the path, which another program may change
    // before the open; what was opened is looked at again, and opened anew if it is not what was judged.
    for (int attempt = 0; attempt < open_attempts; ++attempt) {
        if (!is_regular_or_missing(path))
            return open_with(path, O_WRONLY | O_CREAT);
        File file = open_with(path, O_RDWR | O_CREAT);
        // A file may be writable and not readable; it is then written without being judged.
        if (!file.is_open() && errno == EACCES)
            return open_with(path, O_WRONLY | O_CREAT);
        if (!file.is_open() || identify(file.native()).regular_file)
            return file;
    }
    errno = EAGAIN;
    return File {};
}

FileForAppending open_for_appending(const std::string& path)
{
    // Read access is asked for only on a regular file: a FIFO opened for reading too would never see
    // its reader go.
    bool readable = is_regular_or_missing(path);
    for (int attempt = 0; attempt < open_attempts;) {
        int access = readable ? O_RDWR : O_WRONLY;
        File file = open_with(path, access | O_APPEND | O_CREAT | O_EXCL);
        if (file.is_open())
            return { std::move(file), true };
        if (errno == EEXIST) {
            file = open_with(path, access | O_APPEND);
            if (file.is_open())
                return { std::move(file), false };
            // Removed between the two opens, or a symbolic link to nothing: try again to create it,
            // a few times only.
            if (errno == ENOENT) {
                ++attempt;
                continue;
            }
        }
        // A catalogue may be writable and not readable.
        if (errno == EACCES && readable) {
            readable = false;
            continue;
        }
        return { std::move(file), false };
    }
    return {};
}

File duplicate(NativeHandle file)
{
    int copy = ::fcntl(descriptor_of(file), F_DUPFD_CLOEXEC, 0);
    return File { copy >= 0 ? NativeHandle { copy } : no_handle };
}

std::int64_t read_at(NativeHandle file, void* data, std::size_t length, std::uint64_t offset)
{
    int descriptor = descriptor_of(file);
    return as_result(retried(descriptor, POLLIN, [&] { return ::pread(descriptor, data, length, static_cast<off_t>(offset)); }));
}

std::int64_t read_in_order(NativeHandle file, void* data, std::size_t length)
{
    int descriptor = descriptor_of(file);
    return as_result(retried(descriptor, POLLIN, [&] { return ::read(descriptor, data, length); }));
}

std::int64_t write_some(NativeHandle file, const void* data, std::size_t length)
{
    int descriptor = descriptor_of(file);
    return as_result(retried(descriptor, POLLOUT, [&] { return ::write(descriptor, data, length); }));
}

bool truncate_file(NativeHandle file, std::uint64_t size)
{
    return ::ftruncate(descriptor_of(file), static_cast<off_t>(size)) == 0;
}

bool flush_to_disk(NativeHandle file)
{
    return ::fsync(descriptor_of(file)) == 0 || errno == EINVAL || errno == EROFS;
}

bool flush_folder_of(const std::string& path)
{
    File folder = open_with(split_path(path).folder, O_RDONLY | O_DIRECTORY);
    if (!folder.is_open())
        return false;
    if (!flush_to_disk(folder.native()))
        return false;
    return folder.close();
}

namespace {

LockOutcome lock_with(NativeHandle file, int operation)
{
    // A lock held elsewhere is said so at once, not waited for: its EWOULDBLOCK is no source not ready.
    if (retried(-1, 0, [&] { return ::flock(descriptor_of(file), operation); }) == 0)
        return LockOutcome::locked;
    return errno == EWOULDBLOCK ? LockOutcome::held_elsewhere : LockOutcome::error;
}

}

LockOutcome lock_exclusively(NativeHandle file, bool wait)
{
    return lock_with(file, wait ? LOCK_EX : LOCK_EX | LOCK_NB);
}

void unlock(NativeHandle file)
{
    static_cast<void>(::flock(descriptor_of(file), LOCK_UN));
}

LockOutcome lock_shared(NativeHandle file)
{
    return lock_with(file, LOCK_SH);
}

LockOutcome lock_against_other_runs(NativeHandle file)
{
    // flock locks are advisory: nobody is kept from reading. Over NFS they are byte-range locks, and an
    // exclusive one on a file opened for reading fails with EBADF.
    LockOutcome outcome = lock_with(file, LOCK_EX | LOCK_NB);
    if (outcome == LockOutcome::error && (errno == EBADF || errno == EINVAL || errno == EOPNOTSUPP))
        return LockOutcome::unsupported;
    return outcome;
}

bool remove_file(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

Expected<std::vector<ByteRange>, int> find_holes(NativeHandle file, std::uint64_t size)
{
    std::vector<ByteRange> holes;
#ifdef SEEK_HOLE
    int descriptor = descriptor_of(file);
    off_t position = ::lseek(descriptor, 0, SEEK_CUR);
    if (position < 0)
        return Unexpected { errno };
    auto end = static_cast<off_t>(size);
    bool asked = true;
    for (off_t offset = 0; offset < end;) {
        off_t hole = ::lseek(descriptor, offset, SEEK_HOLE);
        if (hole < 0) {
            // A file system that cannot say, or a file that shrank meanwhile: nothing more to find.
            asked = errno == EINVAL || errno == ENXIO;
            break;
        }
        if (hole >= end)
            break;
        off_t data = ::lseek(descriptor, hole, SEEK_DATA);
        if (data < 0 && errno != ENXIO) {
            asked = false;
            break;
        }
        off_t hole_end = data < 0 ? end : std::min(data, end);
        holes.push_back({ static_cast<std::uint64_t>(hole), static_cast<std::uint64_t>(hole_end - hole) });
        offset = hole_end;
    }
    int error_number = errno;
    if (::lseek(descriptor, position, SEEK_SET) < 0)
        return Unexpected { errno };
    if (!asked)
        return Unexpected { error_number };
#else
    static_cast<void>(file);
    static_cast<void>(size);
#endif
    return holes;
}

std::int64_t file_clock_now_ns()
{
    struct timespec now { };
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

bool can_be_positioned(NativeHandle file)
{
    return ::lseek(descriptor_of(file), 0, SEEK_CUR) >= 0 || errno != ESPIPE;
}

bool writes_at_end(NativeHandle file)
{
    int flags = ::fcntl(descriptor_of(file), F_GETFL);
    return flags >= 0 && (flags & O_APPEND) != 0;
}

Expected<void, int> appending_allowed(const std::string& path)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return Unexpected { EISDIR };
        // Opening a FIFO or a device to find out could block or act on it; ask instead. Opening an
        // existing file without creating or truncating it changes nothing in it.
        bool allowed = S_ISREG(status.st_mode) ? open_with(path, O_WRONLY | O_APPEND | O_NONBLOCK).is_open()
                                               : ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
        if (!allowed)
            return Unexpected { errno };
        return {};
    }
    if (errno != ENOENT)
        return Unexpected { errno };
    // A symbolic link to nothing, to a disk that is not mounted say, is not a place to create the
    // catalogue in.
    if (::lstat(path.c_str(), &status) == 0)
        return Unexpected { ENOENT };
    // A new file: its folder must exist and let this process add an entry. That also reports a
    // read-only file system, which refuses the access check with EROFS.
    std::string folder = split_path(path).folder;
    if (::stat(folder.c_str(), &status) != 0)
        return Unexpected { errno };
    if (!S_ISDIR(status.st_mode))
        return Unexpected { ENOTDIR };
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0)
        return {};
    return Unexpected { errno };
}

bool is_path_separator(char character)
{
    return character == '/';
}

const char path_separator = '/';

std::string opened_file_name(NativeHandle)
{
    return {};
}

std::string name_held_for(const std::string&)
{
    return {};
}

std::string_view name_as_kept(std::string_view name)
{
    return name;
}

std::string file_name_key(std::string_view path)
{
    std::size_t separator = path.find_last_of('/');
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

Expected<std::vector<FolderEntry>, int> list_folder(const std::string& path)
{
    std::vector<FolderEntry> entries;
    struct Closer {
        void operator()(DIR* folder) const { ::closedir(folder); }
    };
    std::unique_ptr<DIR, Closer> folder(::opendir(path.c_str()));
    if (!folder)
        return Unexpected { errno };
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder.get());
        if (entry == nullptr && errno != 0)
            return Unexpected { errno };
        if (entry == nullptr)
            return entries;
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool is_folder = false;
#ifdef DT_DIR
        // The entry says what it is, where the file system tells; a link is followed to what it names.
        if (entry->d_type == DT_DIR)
            is_folder = true;
        else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
            is_folder = identify_existing(join_path(path, std::string(name))).folder;
#else
        is_folder = identify_existing(join_path(path, std::string(name))).folder;
#endif
        entries.push_back({ std::string(name), is_folder });
    }
}

FileIdentity identify_path(const std::string& path)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0)
        return from_status(status);
    FileIdentity identity = from_failure();
    if (!path.empty())
        identity.resolved_path = resolve_missing(path);
    return identity;
}

FileIdentity identify_existing(const std::string& path)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0)
        return from_status(status);
    return from_failure();
}

FileIdentity identify(NativeHandle file)
{
    struct stat status { };
    if (::fstat(descriptor_of(file), &status) != 0)
        return from_failure();
    return from_status(status);
}

FileIdentity identify_link(const std::string& path)
{
    struct stat status { };
    if (::lstat(path.c_str(), &status) != 0)
        return from_failure();
    return from_status(status);
}

void prepare_standard_streams()
{
    for (int descriptor : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO }) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open returns the lowest free descriptor, which is this one; it is meant to stay open.
        int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != descriptor)
            ::close(opened);
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Past the limit a write then fails with EFBIG, and a torn catalogue line is cut back.
    std::signal(SIGXFSZ, SIG_IGN);
}

NativeHandle standard_output()
{
    return STDOUT_FILENO;
}

NativeHandle standard_error()
{
    return STDERR_FILENO;
}

bool is_terminal(NativeHandle file)
{
    return ::isatty(descriptor_of(file)) != 0;
}

std::size_t buffered_piece_size()
{
    // Small enough to stay in the processor's cache, large enough to need few calls.
    return 512 * 1024;
}
