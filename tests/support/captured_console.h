// A console whose messages are kept in a scratch file, so a test can compare them whole.
#pragma once

#include "platform/console.h"
#include "platform/file.h"

#include <filesystem>
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
    std::filesystem::path path_;
    File file_;
    Console console_;
};
