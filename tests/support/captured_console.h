// A console whose messages are kept in memory, so a test can compare them whole.
#pragma once

#include "io/console.h"

#include <cstdio>
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
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
    Console console_;
};
