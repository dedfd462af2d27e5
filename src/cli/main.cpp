#include "cli/run.h"
#include "io/console.h"
#include "io/standard_streams.h"

#include <unistd.h>

int main(int argc, char** argv)
{
    prepare_standard_streams();
    Console console { STDOUT_FILENO, is_terminal(STDOUT_FILENO) };
    console.set_alternative(STDERR_FILENO, is_terminal(STDERR_FILENO));
    return run(argc, argv, console);
}
