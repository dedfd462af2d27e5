// Files, identities and standard streams on Windows, through the wide (UTF-16) calls.

#include "platform/file.h"
#include "platform/file_identity.h"
#include "platform/interruption.h"
#include "platform/kernel_copy.h"
#include "platform/standard_streams.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <mutex>
#include <set>

namespace {

HANDLE handle_of(NativeHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

NativeHandle native_of(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE || handle == nullptr ? no_handle : reinterpret_cast<NativeHandle>(handle);
}

// The system's error as the POSIX number the messages are worded by.
int errno_of(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_OPERATION_ABORTED:
        return EINTR;
    default:
        return EIO;
    }
}

void set_errno_from_system()
{
    errno = errno_of(::GetLastError());
}

std::wstring wide(const std::string& text)
{
    if (text.empty())
        return {};
    int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
    return result;
}

bool is_folder(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

constexpr DWORD share_everything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

File create(const std::string& path, DWORD access, DWORD disposition, DWORD flags)
{
    HANDLE handle = ::CreateFileW(wide(path).c_str(), access, share_everything, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        // Windows refuses a folder as "access denied"; say what it is, as POSIX systems do.
        errno = error == ERROR_ACCESS_DENIED && is_folder(path) ? EISDIR : errno_of(error);
        return File {};
    }
    return File { native_of(handle) };
}

// Handles opened for appending. Their writes go to the end of the file, which a write handle does
// when the write's offset is all ones; the handle also needs write access to be cut back.
std::mutex appending_lock;
std::set<NativeHandle> appending_handles;

bool is_appending(NativeHandle file)
{
    std::lock_guard<std::mutex> guard(appending_lock);
    return appending_handles.count(file) != 0;
}

DWORD clamp(std::size_t length)
{
    return static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
}

bool is_folder_handle(NativeHandle file)
{
    BY_HANDLE_FILE_INFORMATION information {};
    return ::GetFileInformationByHandle(handle_of(file), &information) != 0
        && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::int64_t read_failure(NativeHandle file)
{
    DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE)
        return 0;
    errno = is_folder_handle(file) ? EISDIR : errno_of(error);
    return -1;
}

// An interruption cancels a blocked read or write only while calls are abandoned; one it cancels just
// as the run stops abandoning them is made again.
template <typename Call>
std::int64_t made_again_when_cancelled(Call call)
{
    for (;;) {
        std::int64_t result = call();
        if (result >= 0 || errno != EINTR || calls_are_abandoned())
            return result;
    }
}

std::int64_t write_once(NativeHandle file, const void* data, std::size_t length)
{
    DWORD written = 0;
    BOOL done;
    if (is_appending(file)) {
        OVERLAPPED at_end {};
        at_end.Offset = 0xFFFFFFFF;
        at_end.OffsetHigh = 0xFFFFFFFF;
        done = ::WriteFile(handle_of(file), data, clamp(length), &written, &at_end);
    } else {
        done = ::WriteFile(handle_of(file), data, clamp(length), &written, nullptr);
    }
    if (!done) {
        set_errno_from_system();
        return -1;
    }
    return written;
}

std::uint64_t combine(DWORD high, DWORD low)
{
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

FileIdentity identity_of(HANDLE handle, bool link_is_not_a_file)
{
    FileIdentity identity;
    identity.exists = true;
    DWORD type = ::GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        // A console, NUL or a pipe has no file index; each handle counts as its own file.
        identity.character_device = type == FILE_TYPE_CHAR;
        identity.pipe = type == FILE_TYPE_PIPE;
        identity.device = ~std::uint64_t { 0 };
        identity.index = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION information {};
    if (!::GetFileInformationByHandle(handle, &information)) {
        set_errno_from_system();
        return {};
    }
    identity.device = information.dwVolumeSerialNumber;
    identity.index = combine(information.nFileIndexHigh, information.nFileIndexLow);
    bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool link = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    identity.regular_file = !folder && !(link && link_is_not_a_file);
    identity.folder = folder;
    identity.size = combine(information.nFileSizeHigh, information.nFileSizeLow);
    // 100-nanosecond steps; the origin does not matter, only whether it changed.
    identity.modified_ns = static_cast<std::int64_t>(combine(information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime)) * 100;
    FILE_BASIC_INFO basic {};
    if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        identity.changed_ns = static_cast<std::int64_t>(basic.ChangeTime.QuadPart) * 100;
    return identity;
}

FileIdentity identify_by_opening(const std::string& path, DWORD extra_flags)
{
    HANDLE handle = ::CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES, share_everything, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | extra_flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        errno = errno_of(error);
        FileIdentity identity;
        identity.missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        if (identity.missing && !path.empty()) {
            // Where creating it would put it; names differ only in case on Windows.
            wchar_t full[32768];
            DWORD length = ::GetFullPathNameW(wide(path).c_str(), 32768, full, nullptr);
            if (length > 0 && length < 32768) {
                std::wstring resolved(full, length);
                std::transform(resolved.begin(), resolved.end(), resolved.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
                identity.resolved_path = narrow(resolved);
            }
        }
        return identity;
    }
    FileIdentity identity = identity_of(handle, (extra_flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0);
    ::CloseHandle(handle);
    return identity;
}

}

bool close_handle(NativeHandle file)
{
    {
        std::lock_guard<std::mutex> guard(appending_lock);
        appending_handles.erase(file);
    }
    if (::CloseHandle(handle_of(file)))
        return true;
    set_errno_from_system();
    return false;
}

File open_for_reading(const std::string& path)
{
    return create(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS);
}

File open_regular_for_reading(const std::string& path)
{
    if (is_folder(path)) {
        errno = EINVAL;
        return File {};
    }
    File file = create(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file.is_open() && !identify(file.native()).regular_file) {
        errno = EINVAL;
        return File {};
    }
    return file;
}

File open_for_writing(const std::string& path)
{
    // Read access as well, so that what was opened can be judged before it is emptied; a file that
    // may be written and not read is opened for writing alone.
    File file = create(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (!file.is_open() && errno == EACCES && !is_folder(path))
        file = create(path, GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    return file;
}

FileForAppending open_for_appending(const std::string& path)
{
    // A file removed between the creating open and the plain one is tried again a few times only.
    for (int attempt = 0; attempt < 3; ++attempt) {
        File file = create(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
        bool created = file.is_open();
        if (!created && errno == EEXIST) {
            file = create(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
            // A file that may be written and not read, or a device, is opened for writing alone.
            if (!file.is_open() && errno == EACCES && !is_folder(path))
                file = create(path, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
            if (!file.is_open() && errno == ENOENT)
                continue;
        }
        if (file.is_open()) {
            std::lock_guard<std::mutex> guard(appending_lock);
            appending_handles.insert(file.native());
        }
        return { std::move(file), created };
    }
    return {};
}

File duplicate(NativeHandle file)
{
    HANDLE copy = nullptr;
    HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, handle_of(file), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        set_errno_from_system();
        return File {};
    }
    return File { native_of(copy) };
}

std::int64_t read_at(NativeHandle file, void* data, std::size_t length, std::uint64_t offset)
{
    // A read at an offset moves the handle's own position on Windows, which pread never does; the
    // position is put back, so that looking at a file's start does not move where it is written next.
    LARGE_INTEGER zero {};
    LARGE_INTEGER current {};
    bool positioned = ::SetFilePointerEx(handle_of(file), zero, &current, FILE_CURRENT) != 0;
    OVERLAPPED position {};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    BOOL done = ::ReadFile(handle_of(file), data, clamp(length), &got, &position);
    std::int64_t result = done ? static_cast<std::int64_t>(got) : read_failure(file);
    if (positioned)
        ::SetFilePointerEx(handle_of(file), current, nullptr, FILE_BEGIN);
    return result;
}

std::int64_t read_in_order(NativeHandle file, void* data, std::size_t length)
{
    return made_again_when_cancelled([&]() -> std::int64_t {
        DWORD got = 0;
        if (!::ReadFile(handle_of(file), data, clamp(length), &got, nullptr))
            return read_failure(file);
        return got;
    });
}

std::int64_t write_some(NativeHandle file, const void* data, std::size_t length)
{
    return made_again_when_cancelled([&] { return write_once(file, data, length); });
}

bool truncate_file(NativeHandle file, std::uint64_t size)
{
    FILE_END_OF_FILE_INFO end {};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFileInformationByHandle(handle_of(file), FileEndOfFileInfo, &end, sizeof end))
        return true;
    set_errno_from_system();
    return false;
}

bool flush_to_disk(NativeHandle file)
{
    if (::FlushFileBuffers(handle_of(file)))
        return true;
    DWORD error = ::GetLastError();
    // A console, NUL or a pipe has nothing to flush to a disk.
    if (error == ERROR_INVALID_HANDLE || error == ERROR_INVALID_FUNCTION || ::GetFileType(handle_of(file)) != FILE_TYPE_DISK)
        return true;
    errno = errno_of(error);
    return false;
}

bool flush_folder_of(const std::string&)
{
    // Windows gives no way to flush a folder's entries; its file systems journal them.
    return true;
}

namespace {

// Locks `length` bytes from `offset`; a range may run past the end of the file.
LockOutcome lock_range(NativeHandle file, DWORD flags, std::uint64_t offset, std::uint64_t length)
{
    OVERLAPPED range {};
    range.Offset = static_cast<DWORD>(offset);
    range.OffsetHigh = static_cast<DWORD>(offset >> 32);
    if (::LockFileEx(handle_of(file), flags, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &range))
        return LockOutcome::locked;
    DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
        return LockOutcome::held_elsewhere;
    errno = errno_of(error);
    return LockOutcome::error;
}

constexpr std::uint64_t whole_file = ~std::uint64_t { 0 };

}

LockOutcome lock_exclusively(NativeHandle file, bool wait)
{
    return lock_range(file, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, whole_file);
}

void unlock(NativeHandle file)
{
    OVERLAPPED range {};
    static_cast<void>(::UnlockFileEx(handle_of(file), 0, static_cast<DWORD>(whole_file), static_cast<DWORD>(whole_file >> 32), &range));
}

LockOutcome lock_shared(NativeHandle file)
{
    return lock_range(file, 0, 0, whole_file);
}

LockOutcome lock_against_other_runs(NativeHandle file)
{
    // Locks on Windows are mandatory: a lock on the file's bytes would make every other program's read
    // of them fail. The last byte a file could ever have is past the end of every real one.
    return lock_range(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, whole_file - 1, 1);
}

bool remove_file(const std::string& path)
{
    if (::DeleteFileW(wide(path).c_str()))
        return true;
    set_errno_from_system();
    return false;
}

Expected<std::vector<ByteRange>, int> find_holes(NativeHandle, std::uint64_t)
{
    // Sparse files are rare on Windows, and a hole reads as zero bytes like any other.
    return std::vector<ByteRange> {};
}

std::int64_t file_clock_now_ns()
{
    FILETIME now {};
    ::GetSystemTimeAsFileTime(&now);
    return static_cast<std::int64_t>(combine(now.dwHighDateTime, now.dwLowDateTime)) * 100;
}

bool can_be_positioned(NativeHandle file)
{
    return ::GetFileType(handle_of(file)) == FILE_TYPE_DISK;
}

bool writes_at_end(NativeHandle file)
{
    return is_appending(file);
}

Expected<void, int> appending_allowed(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return Unexpected { EISDIR };
        File file = create(path, FILE_APPEND_DATA, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        if (!file.is_open())
            return Unexpected { errno };
        return {};
    }
    DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND)
        return Unexpected { errno_of(error) };
    std::string folder = split_path(path).folder;
    DWORD folder_attributes = ::GetFileAttributesW(wide(folder).c_str());
    if (folder_attributes == INVALID_FILE_ATTRIBUTES)
        return Unexpected { errno_of(::GetLastError()) };
    if ((folder_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return {};
    return Unexpected { ENOTDIR };
}

bool is_path_separator(char character)
{
    return character == '/' || character == '\\';
}

const char path_separator = '\\';

std::string opened_file_name(NativeHandle file)
{
    std::wstring path(32768, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle_of(file), path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    if (length == 0 || length >= path.size())
        return {};
    path.resize(length);
    std::size_t separator = path.find_last_of(L"\\/");
    return narrow(separator == std::wstring::npos ? path : path.substr(separator + 1));
}

std::string name_held_for(const std::string& path)
{
    WIN32_FIND_DATAW found {};
    HANDLE search = ::FindFirstFileW(wide(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return {};
    ::FindClose(search);
    return narrow(found.cFileName);
}

std::string_view name_as_kept(std::string_view name)
{
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.remove_suffix(1);
    return name;
}

std::string file_name_key(std::string_view path)
{
    std::size_t separator = path.find_last_of("/\\");
    std::wstring name = wide(std::string(separator == std::string_view::npos ? path : path.substr(separator + 1)));
    if (name.empty())
        return {};
    // The invariant upper case is the one the file system compares names by, not an ASCII folding.
    std::wstring upper(name.size(), L'\0');
    int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(), static_cast<int>(name.size()), upper.data(),
        static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (length <= 0)
        return narrow(name);
    upper.resize(static_cast<std::size_t>(length));
    return narrow(upper);
}

Expected<std::vector<FolderEntry>, int> list_folder(const std::string& path)
{
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW found {};
    HANDLE search = ::FindFirstFileW(wide(join_path(path, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        // A folder with nothing in it has no first entry.
        if (error == ERROR_FILE_NOT_FOUND)
            return entries;
        return Unexpected { errno_of(error) };
    }
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({ narrow(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 });
    } while (::FindNextFileW(search, &found));
    DWORD error = ::GetLastError();
    ::FindClose(search);
    if (error != ERROR_NO_MORE_FILES)
        return Unexpected { errno_of(error) };
    return entries;
}

FileIdentity identify_path(const std::string& path)
{
    return identify_by_opening(path, 0);
}

FileIdentity identify_existing(const std::string& path)
{
    FileIdentity identity = identify_by_opening(path, 0);
    identity.resolved_path.clear();
    return identity;
}

FileIdentity identify(NativeHandle file)
{
    return identity_of(handle_of(file), false);
}

FileIdentity identify_link(const std::string& path)
{
    return identify_by_opening(path, FILE_FLAG_OPEN_REPARSE_POINT);
}

// The copy is the buffered one (no_kernel_copy.cpp), in pieces of this size.
std::size_t buffered_piece_size()
{
    return 1024 * 1024;
}

void prepare_standard_streams()
{
    for (DWORD which : { STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE }) {
        HANDLE current = ::GetStdHandle(which);
        if (current != nullptr && current != INVALID_HANDLE_VALUE)
            continue;
        HANDLE null_device = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, 0, nullptr);
        if (null_device != INVALID_HANDLE_VALUE)
            ::SetStdHandle(which, null_device);
    }
}

NativeHandle standard_output()
{
    return native_of(::GetStdHandle(STD_OUTPUT_HANDLE));
}

NativeHandle standard_error()
{
    return native_of(::GetStdHandle(STD_ERROR_HANDLE));
}

bool is_terminal(NativeHandle file)
{
    DWORD mode = 0;
    return ::GetConsoleMode(handle_of(file), &mode) != 0;
}
