// Preloaded into pelorus by the fault tests: every write, pread and splice moves at most
// PELORUS_SHORT_TRANSFER_BYTES bytes, as the system is allowed to, so the caller has to continue; and
// each waits PELORUS_TRANSFER_DELAY_US microseconds first, so that a test can catch a copy half way.

// Both pread and pread64 are replaced, so the headers must declare each under its own name.
#undef _FILE_OFFSET_BITS

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

std::size_t transfer_limit()
{
    static const std::size_t limit = [] {
        const char* text = std::getenv("PELORUS_SHORT_TRANSFER_BYTES");
        long long value = text ? std::atoll(text) : 0;
        return value > 0 ? static_cast<std::size_t>(value) : std::size_t { 1000 };
    }();
    return limit;
}

std::size_t limited(std::size_t length)
{
    static const long delay = [] {
        const char* text = std::getenv("PELORUS_TRANSFER_DELAY_US");
        return text ? std::atol(text) : 0L;
    }();
    if (delay > 0)
        ::usleep(static_cast<useconds_t>(delay));
    return std::min(length, transfer_limit());
}

template <typename Function>
Function next_definition(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}

extern "C" {

ssize_t write(int descriptor, const void* data, std::size_t length)
{
    static auto real = next_definition<ssize_t (*)(int, const void*, std::size_t)>("write");
    return real(descriptor, data, limited(length));
}

ssize_t pread(int descriptor, void* data, std::size_t length, off_t offset)
{
    static auto real = next_definition<ssize_t (*)(int, void*, std::size_t, off_t)>("pread");
    return real(descriptor, data, limited(length), offset);
}

ssize_t pread64(int descriptor, void* data, std::size_t length, off_t offset)
{
    static auto real = next_definition<ssize_t (*)(int, void*, std::size_t, off_t)>("pread64");
    return real(descriptor, data, limited(length), offset);
}

ssize_t splice(int in, off_t* in_offset, int out, off_t* out_offset, std::size_t length, unsigned int flags)
{
    static auto real = next_definition<ssize_t (*)(int, off_t*, int, off_t*, std::size_t, unsigned int)>("splice");
    return real(in, in_offset, out, out_offset, limited(length), flags);
}

}
