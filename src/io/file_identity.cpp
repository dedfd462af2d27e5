#include "io/file_identity.h"

#include "io/file_descriptor.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int max_link_depth = 40;  // as the kernel allows

std::string name_of(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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
        std::string folder = real_directory(parent_folder(path));
        std::string name = name_of(path);
        if (folder.empty() || name.empty() || name == "." || name == "..")
            return {};
        std::string candidate = (folder == "/" ? "" : folder) + "/" + name;

        char target[PATH_MAX];
        ssize_t length = ::readlink(candidate.c_str(), target, sizeof target);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof target)
            return candidate;
        std::string link(target, static_cast<std::size_t>(length));
        path = link.front() == '/' ? link : folder + "/" + link;
    }
    return {};
}

FileIdentity from_status(const struct stat& status)
{
    return { true, status.st_dev, status.st_ino, S_ISREG(status.st_mode), S_ISCHR(status.st_mode),
        static_cast<std::uint64_t>(status.st_size), status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec, {} };
}

}

FileIdentity identify_path(const std::string& path)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0)
        return from_status(status);
    if (path.empty())
        return {};
    return { false, 0, 0, false, false, 0, 0, resolve_missing(path) };
}

FileIdentity identify_link(const std::string& path)
{
    struct stat status { };
    if (::lstat(path.c_str(), &status) != 0)
        return {};
    return from_status(status);
}

FileIdentity identify_descriptor(int descriptor)
{
    struct stat status { };
    if (::fstat(descriptor, &status) != 0)
        return {};
    return from_status(status);
}

bool is_same_file(const FileIdentity& first, const FileIdentity& second)
{
    if (first.exists && second.exists)
        return first.device == second.device && first.inode == second.inode;
    if (!first.exists && !second.exists)
        return !first.resolved_path.empty() && first.resolved_path == second.resolved_path;
    return false;
}
