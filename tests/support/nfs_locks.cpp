// Preloaded into pelorus by the fault tests: an exclusive lock on a file opened only for reading fails
// with EBADF, as it does over NFS, where flock locks are byte-range locks that need write access.

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>

extern "C" int flock(int descriptor, int operation)
{
    using Flock = int (*)(int, int);
    static const Flock next = reinterpret_cast<Flock>(::dlsym(RTLD_NEXT, "flock"));
    int flags = ::fcntl(descriptor, F_GETFL);
    if ((operation & LOCK_EX) != 0 && flags >= 0 && (flags & O_ACCMODE) == O_RDONLY) {
        errno = EBADF;
        return -1;
    }
    return next(descriptor, operation);
}
