#include "io/standard_streams.h"

#include "io/file_descriptor.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

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
}

void report_to_standard_error(std::string_view text)
{
    static_cast<void>(write_all(STDERR_FILENO, text));
}


bool is_terminal(int descriptor)
{
    return ::isatty(descriptor) != 0;
}
