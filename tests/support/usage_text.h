// The usage text exactly as users see it, written out once for the tests that compare it.
#pragma once

inline constexpr const char* expected_usage_text =
    "\npelorus v0.02"
    "\n============"
    "\n"
    "\nusage: pelorus <options> <input file> <output file> <.csv file> "
    "\n         -i    input filename"
    "\n         -o    output filename"
    "\n         -c    .csv filename"
    "\n         -a    overwrite output header info (normally appends)"
    "\n         -k    delete .rec file (normally keeps)"
    "\n         -t    no .ts file generation"
    "\n         -u    .csv texts in UTF-8";
