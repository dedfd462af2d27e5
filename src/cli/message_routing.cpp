#include "cli/message_routing.h"

#include "platform/console.h"
#include "platform/file_identity.h"

MessageRouting::MessageRouting(Console& console, NativeHandle output, NativeHandle error, bool error_is_a_terminal)
    : console_(console), current_(output), error_(error), error_is_a_terminal_(error_is_a_terminal)
{
    if (output != no_handle)
        output_identity_ = identify(output);
    if (error != no_handle)
        error_identity_ = identify(error);
}

bool MessageRouting::writes_into(NativeHandle destination, const FileIdentity& file) const
{
    if (destination == no_handle || !file.exists)
        return false;
    const FileIdentity& own = destination == error_ ? error_identity_ : output_identity_;
    return !own.character_device && is_same_file(own, file);
}

void MessageRouting::keep_out_of(const FileIdentity& file)
{
    if (writes_into(error_, file))
        error_is_a_file_of_the_run_ = true;
    if (!writes_into(current_, file))
        return;
    // Standard error, unless it is where the messages already go or a file of the run too; else
    // nowhere: the exit status still tells how the run went.
    bool error_is_free = error_ != no_handle && error_ != current_ && !error_is_a_file_of_the_run_;
    current_ = error_is_free ? error_ : no_handle;
    console_.redirect(current_, error_is_free && error_is_a_terminal_);
}

void MessageRouting::report_elsewhere(std::string_view text)
{
    if (error_ != no_handle && !error_is_a_file_of_the_run_)
        static_cast<void>(write_all(error_, text));
}
