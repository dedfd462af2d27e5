// Where messages may go: never into a file of the run, so that no message lands in the recording, the
// stream or the catalogue when standard output or standard error is one of them.
#pragma once

#include "platform/file.h"

#include <string_view>

class Console;
struct FileIdentity;

class MessageRouting {
public:
    // Messages go to the console's own destination, `output`; `error` is where they go instead.
    MessageRouting(Console& console, NativeHandle output, NativeHandle error, bool error_is_a_terminal);

    // Called with each file of the run, by path before it is opened and by handle once it is: when the
    // messages would go into it, they move to the other stream, unless that goes into one of the run's
    // files too; then they are not written at all. A terminal or a device such as /dev/null never
    // counts: messages there spoil no data.
    void keep_out_of(const FileIdentity& file);

    // A last word, for when the messages themselves could not be written: it goes to the other stream,
    // unless that is one of the run's files.
    void report_elsewhere(std::string_view text);

private:
    Console& console_;
    NativeHandle current_;
    NativeHandle error_;
    bool error_is_a_terminal_;
    bool error_is_a_file_of_the_run_ = false;
};
