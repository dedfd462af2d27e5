// Where messages may go: never into a file of the run, so that no message lands in the recording, the
// stream or the catalogue when standard output or standard error is one of them.
#pragma once

#include "platform/file.h"
#include "platform/file_identity.h"

#include <string_view>

class Console;

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
    bool writes_into(NativeHandle destination, const FileIdentity& file) const;

    Console& console_;
    NativeHandle current_;
    NativeHandle error_;
    // What the two streams are, taken once: they stay the same files for the whole run.
    FileIdentity output_identity_;
    FileIdentity error_identity_;
    bool error_is_a_terminal_;
    bool error_is_a_file_of_the_run_ = false;
};
