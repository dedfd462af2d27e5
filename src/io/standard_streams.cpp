#include "io/standard_streams.h"

#include <csignal>
#include <unistd.h>

void prepare_standard_streams()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool is_terminal(int descriptor)
{
    return ::isatty(descriptor) != 0;
}
