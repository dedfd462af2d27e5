#include "platform/console.h"

#include <cerrno>
#include <cstring>

namespace {

// Redirected output is written in pieces of about this size, as a stdio stream would.
constexpr std::size_t hold_limit = 64 * 1024;

}

Console::Console(NativeHandle destination, bool write_out_each_message)
    : destination_(destination), write_out_each_message_(write_out_each_message)
{
}

void Console::print(std::string_view text, std::string_view argument)
{
    pending_ += text;
    pending_ += argument;
    if (write_out_each_message_ || pending_.size() >= hold_limit)
        write_out();
}

void Console::redirect(NativeHandle destination, bool write_out_each_message)
{
    destination_ = destination;
    write_out_each_message_ = write_out_each_message;
    if (write_out_each_message_ || destination_ == no_handle)
        write_out();
}

bool Console::flush()
{
    write_out();
    return error_number_ == 0;
}

void Console::write_out()
{
    if (destination_ == no_handle)
        pending_.clear();
    if (pending_.empty())
        return;
    if (!write_all(destination_, pending_) && error_number_ == 0)
        error_number_ = errno != 0 ? errno : EIO;
    // What could not be written is dropped, not held for ever.
    pending_.clear();
}

std::string system_error_text(int error_number)
{
    // The program never sets a locale, so this is the C locale's text.
    return std::strerror(error_number);
}
