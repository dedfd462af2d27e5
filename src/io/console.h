// Where the run's progress and error messages go, written out at once when a person is watching.
#pragma once

#include <cstdio>
#include <string_view>

class Console {
public:
    // On a terminal every message is flushed as it is printed, so the progress dots appear while the
    // copy advances; redirected output keeps ordinary buffering.
    Console(std::FILE* stream, bool write_out_each_message);

    void print(std::string_view text, std::string_view argument = {});

private:
    std::FILE* stream_;
    bool write_out_each_message_;
};
