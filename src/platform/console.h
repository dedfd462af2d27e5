// Where the run's progress and error messages go, written out at once when a person is watching.
#pragma once

#include "platform/file.h"

#include <string>
#include <string_view>

struct FileIdentity;

class Console {
public:
    // On a terminal every message is written as it is printed, so the progress dots appear while the
    // copy advances; redirected output is held and written in large pieces.
    Console(NativeHandle destination, bool write_out_each_message);

    void print(std::string_view text, std::string_view argument = {});

    // Sends every later message, and those not yet written, elsewhere.
    void redirect(NativeHandle destination, bool write_out_each_message);
    NativeHandle destination() const { return destination_; }

    // Where messages go instead when the console's own file turns out to be one of the run's files:
    // the recording, the stream or the catalogue (-o /dev/stdout, or a redirection into one of them).
    void set_alternative(NativeHandle destination, bool write_out_each_message);
    // Called with each file of the run, so that messages never land in one: when the console writes
    // into `file` it moves to the alternative, unless that writes into one of them too; then the
    // messages are not written at all. A terminal or a device such as /dev/null never counts:
    // messages there spoil no data.
    void keep_away_from(const FileIdentity& file);

    // Writes out what is still held. False when any message could not be written; error_number()
    // then says why. A failing console never stops the run's work.
    [[nodiscard]] bool flush();
    int error_number() const { return error_number_; }

    // A last word, for when the messages themselves could not be written: it goes to the alternative,
    // unless that is one of the run's files.
    void report_elsewhere(std::string_view text);

private:
    void write_out();

    NativeHandle destination_;
    bool write_out_each_message_;
    NativeHandle alternative_ = no_handle;
    bool alternative_write_out_each_message_ = false;
    bool alternative_is_a_file_of_the_run_ = false;
    std::string pending_;
    int error_number_ = 0;
};

// The system's description of an error number, as the C locale gives it.
std::string system_error_text(int error_number);

