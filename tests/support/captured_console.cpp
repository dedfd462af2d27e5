#include "support/captured_console.h"

#include "platform/file_identity.h"

#include <atomic>
#include <random>
#include <stdexcept>

namespace {

std::filesystem::path scratch_path()
{
    static std::atomic<unsigned> counter { 0 };
    std::random_device random;
    return std::filesystem::temp_directory_path()
        / ("pelorus-console-" + std::to_string(random()) + "-" + std::to_string(counter++));
}

File open_scratch(const std::filesystem::path& path)
{
    FileForAppending opened = open_for_appending(path.string());
    if (!opened.file.is_open() || !opened.created)
        throw std::runtime_error("cannot make a scratch file for the console");
    return std::move(opened.file);
}

}

CapturedConsole::CapturedConsole()
    : path_(scratch_path())
    , file_(open_scratch(path_))
    , console_(file_.native(), false)
{
}

CapturedConsole::~CapturedConsole()
{
    static_cast<void>(file_.close());
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::string CapturedConsole::text()
{
    if (!console_.flush())
        throw std::runtime_error("the captured console could not be written");
    return read_start(file_.native(), identify(file_.native()).size);
}
