#include "support/csv_reader.h"

#include <stdexcept>

std::vector<std::string> parse_csv_record(const std::string& record)
{
    std::vector<std::string> fields(1);
    std::size_t index = 0;
    while (index < record.size()) {
        std::string& field = fields.back();
        if (record[index] == '"' && field.empty()) {
            ++index;
            for (;;) {
                if (index >= record.size())
                    throw std::runtime_error("unterminated quoted field");
                if (record[index] == '"') {
                    if (index + 1 < record.size() && record[index + 1] == '"') {
                        field += '"';
                        index += 2;
                        continue;
                    }
                    ++index;
                    break;
                }
                field += record[index++];
            }
            if (index >= record.size() || (record[index] != ',' && record[index] != '\n'))
                throw std::runtime_error("text after a closing quote");
            continue;
        }
        char character = record[index++];
        if (character == ',') {
            fields.emplace_back();
        } else if (character == '\n') {
            if (index != record.size())
                throw std::runtime_error("more than one record");
            return fields;
        } else if (character == '"' || character == '\r') {
            throw std::runtime_error("quote or CR in an unquoted field");
        } else {
            field += character;
        }
    }
    throw std::runtime_error("record does not end with a line feed");
}
