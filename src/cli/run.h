// The run sequence: read the options, then run each stage in its fixed order and turn the outcome into
// the exit status.
#pragma once

class Console;
class MessageRouting;

inline constexpr int exit_status_success = 0;
inline constexpr int exit_status_usage = 1;
inline constexpr int exit_status_failure = -1;  // 255 in the shell

int run(int argument_count, const char* const* arguments, Console& console, MessageRouting& routing);
