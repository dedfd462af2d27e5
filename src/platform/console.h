// Where the run's progress and error messages are written: one handle, written to at once when a person
// is watching, else in large pieces.
#pragma once

#include "platform/file.h"

#include <string>
#include <string_view>

class Console {
public:
    // On a terminal every message is written as it is printed, so the progress dots appear while the
    // copy advances; redirected output is held and written in large pieces.
    Console(NativeHandle destination, bool write_out_each_message);

    void print(std::string_view text, std::string_view argument = {});

    // Sends every later message, and those not yet written, to `destination`; to no_handle, nowhere.
    void redirect(NativeHandle destination, bool write_out_each_message);

    // Writes out what is still held. False when any message could not be written; error_number()
    // then says why. A failing console never stops the run's work.
    [[nodiscard]] bool flush();
    int error_number() const { return error_number_; }

private:
    void write_out();

    NativeHandle destination_;
    bool write_out_each_message_;
    std::string pending_;
    int error_number_ = 0;
};

// The system's description of an error number, as the C locale gives it.
std::string system_error_text(int error_number);
