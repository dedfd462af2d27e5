// A console whose messages are kept in a scratch file, so a test can compare them whole.
#pragma once

#include "io/console.h"

#include <string>

class CapturedConsole {
public:
    CapturedConsole();
    ~CapturedConsole();
    CapturedConsole(const CapturedConsole&) = delete;
    CapturedConsole& operator=(const CapturedConsole&) = delete;

    Console& console() { return console_; }
    std::string text();

private:
    int descriptor_;
    Console console_;
};
