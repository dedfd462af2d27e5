#include "cli/message_routing.h"
#include "cli/run.h"
#include "platform/console.h"
#include "platform/entry.h"
#include "platform/interruption.h"
#include "platform/standard_streams.h"

int program_entry(int argument_count, const char* const* arguments)
{
    prepare_standard_streams();
    Console console { standard_output(), is_terminal(standard_output()) };
    MessageRouting routing { console, standard_output(), standard_error(), is_terminal(standard_error()) };
    watch_for_interruption();
    int status = run(argument_count, arguments, console, routing);
    // Everything the run had to say is said; the shell is told of the interruption as it expects.
    if (interrupted())
        end_as_interrupted();
    return status;
}
