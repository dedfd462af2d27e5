// Interruption by the user or the system: SIGINT, SIGTERM and SIGHUP, or on Windows Ctrl-C, Ctrl-Break
// and closing the console.
#pragma once

// From here on the first interruption is only noted, for the run to stop at a point it chooses and say
// what it left; a second one ends the process at once. A signal that was ignored when the program
// started (nohup, a script's background job) stays ignored.
void watch_for_interruption();

// Whether an interruption has come.
bool interrupted();

// While a copy is not whole, an interruption abandons the system call it cuts short, and every one
// made after it, with EINTR: a read or write blocked on a pipe, a FIFO or a terminal returns at once.
// Once the copy is whole the run must finish what makes it whole on the disk (its catalogue line, the
// deletion of its recording): interrupted calls are made again. Abandoning is the state at the start.
void abandon_calls_on_interruption(bool abandon);
bool calls_are_abandoned();

// Ends the process as the interruption would have ended it, so that the shell sees the usual status
// (128 plus the signal's number; on Windows STATUS_CONTROL_C_EXIT). Only after an interruption.
[[noreturn]] void end_as_interrupted();
