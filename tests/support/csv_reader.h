// A strict reader of one CSV record as RFC 4180 defines it, to check what a spreadsheet will see.
#pragma once

#include <string>
#include <vector>

// Splits one record ending in a line feed into its fields. Throws on anything RFC 4180 does not allow:
// a quote inside an unquoted field, text after a closing quote, or a record that does not end.
std::vector<std::string> parse_csv_record(const std::string& record);
