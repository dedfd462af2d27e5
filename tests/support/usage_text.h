// The usage text exactly as users see it, written out once for the tests that compare it.
#pragma once

#include "cli/version.h"

#include <string>

inline const std::string expected_usage_text = std::string("\npelorus v") + pelorus_version +
    "\n============"
    "\n"
    "\nusage: pelorus <options> <input file> <output file> <.csv file> "
    "\n         -i    input filename"
    "\n         -o    output filename"
    "\n         -c    .csv filename"
    "\n         -a    overwrite output header info (normally appends)"
    "\n         -k    delete .rec file (normally keeps)"
    "\n         -t    no .ts file generation"
    "\n         -u    .csv texts in UTF-8"
    "\n         -s    check the stream's packets"
    "\n         -b    every argument a recording or folder"
    "\n         -j    report filename (a JSON line per recording)";
