// Retrying the system calls that a signal, or a source left non-blocking, can cut short.
#pragma once

#include "platform/interruption.h"

#include <cerrno>
#include <poll.h>

// Waits until `descriptor` is ready for `events` (POLLIN or POLLOUT); false when it cannot be waited on.
inline bool wait_until_ready(int descriptor, short events)
{
    pollfd waiting { descriptor, events, 0 };
    for (;;) {
        if (::poll(&waiting, 1, -1) >= 0)
            return true;
        if (errno != EINTR || calls_are_abandoned())
            return false;
    }
}

// Makes `call` until it is neither interrupted by a signal (EINTR) nor refused because `descriptor`, left
// non-blocking by whoever made it, is not ready yet (EAGAIN): then it waits for `events`. Every retry of
// this program's system calls is this one. After an interruption of the user's, while calls are
// abandoned, it returns the failure instead.
template <typename Call>
auto retried(int descriptor, short events, Call call) -> decltype(call())
{
    for (;;) {
        auto result = call();
        if (result >= 0)
            return result;
        if (errno == EINTR && !calls_are_abandoned())
            continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && descriptor >= 0 && wait_until_ready(descriptor, events))
            continue;
        return result;
    }
}
