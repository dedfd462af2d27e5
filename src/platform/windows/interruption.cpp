// Interruption through the console on Windows: Ctrl-C, Ctrl-Break, and closing the console.

#include "platform/interruption.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<bool> interruption_came { false };
std::atomic<bool> abandoning { true };
HANDLE main_thread = nullptr;

// The console's handler runs on a thread of its own. While calls are abandoned it cancels the main
// thread's blocked read or write, and keeps doing so, since one could begin just after the run last
// looked; once the copy is whole it lets the main thread finish.
BOOL WINAPI on_console_event(DWORD event)
{
    if (interruption_came.exchange(true))
        ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    while (abandoning) {
        if (main_thread)
            ::CancelSynchronousIo(main_thread);
        ::Sleep(20);
    }
    // Returning from these three ends the process; the main thread ends it itself once it is done.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::Sleep(INFINITE);
    return TRUE;
}

}

void watch_for_interruption()
{
    HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, ::GetCurrentThread(), process, &main_thread, 0, FALSE, DUPLICATE_SAME_ACCESS))
        main_thread = nullptr;
    // Ctrl-C that was disabled when the program started never reaches the handler.
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupted()
{
    return interruption_came;
}

void abandon_calls_on_interruption(bool abandon)
{
    abandoning = abandon;
}

bool calls_are_abandoned()
{
    return abandoning && interruption_came;
}

void end_as_interrupted()
{
    ::ExitProcess(STATUS_CONTROL_C_EXIT);
}
