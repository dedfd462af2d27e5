// Interruption by a signal on POSIX systems.

#include "platform/interruption.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupting_signal = 0;
volatile std::sig_atomic_t abandoning = 1;

constexpr int watched_signals[] = { SIGINT, SIGTERM, SIGHUP };

void set_handler(int signal_number, void (*handler)(int))
{
    struct sigaction action { };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a call blocked on a pipe returns EINTR, and the run decides whether to make it again.
    action.sa_flags = 0;
    sigaction(signal_number, &action, nullptr);
}

// A call could be entered just after the run looked at the flag, and block on a stalled pipe for good;
// while calls are abandoned an alarm each second cuts it short too.
void on_alarm(int)
{
    if (abandoning)
        alarm(1);
}

void on_interruption(int signal_number)
{
    if (interrupting_signal != 0) {
        // The second one: the default action, which ends the process once this handler returns.
        set_handler(signal_number, SIG_DFL);
        raise(signal_number);
        return;
    }
    interrupting_signal = signal_number;
    if (abandoning) {
        set_handler(SIGALRM, on_alarm);
        alarm(1);
    }
}

}

void watch_for_interruption()
{
    for (int signal_number : watched_signals) {
        struct sigaction current { };
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        set_handler(signal_number, on_interruption);
    }
}

bool interrupted()
{
    return interrupting_signal != 0;
}

void abandon_calls_on_interruption(bool abandon)
{
    abandoning = abandon ? 1 : 0;
    if (!abandon)
        alarm(0);
}

bool calls_are_abandoned()
{
    return abandoning && interrupting_signal != 0;
}

void end_as_interrupted()
{
    int signal_number = interrupting_signal;
    set_handler(signal_number, SIG_DFL);
    sigset_t only_this;
    sigemptyset(&only_this);
    sigaddset(&only_this, signal_number);
    sigprocmask(SIG_UNBLOCK, &only_this, nullptr);
    raise(signal_number);
    // Not reached, unless the signal could not end the process.
    std::_Exit(128 + signal_number);
}
