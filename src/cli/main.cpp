#include "cli/message_routing.h"
#include "cli/run.h"
#include "platform/console.h"
#include "platform/entry.h"
#include "platform/standard_streams.h"

int program_entry(int argument_count, const char* const* arguments)
{
    prepare_standard_streams();
    Console console { standard_output(), is_terminal(standard_output()) };
    MessageRouting routing { console, standard_output(), standard_error(), is_terminal(standard_error()) };
    return run(argument_count, arguments, console, routing);
}
