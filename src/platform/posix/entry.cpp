// The program's entry on POSIX systems, whose arguments are already bytes.

#include "platform/entry.h"

int main(int argc, char** argv)
{
    return program_entry(argc, argv);
}
