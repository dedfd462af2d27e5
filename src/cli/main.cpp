#include "cli/run.h"
#include "io/console.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    Console console { stdout, isatty(STDOUT_FILENO) != 0 };
    return run(argc, argv, console);
}
