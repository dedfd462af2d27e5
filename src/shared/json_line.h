// One JSON object on one line, written field by field: what a report holds, in a form jq and pandas read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The fields are written in the order given; names are the program's own and are written as they are.
// A text is written as a JSON string: valid UTF-8 whatever bytes it is given (a byte that is not part of
// a valid UTF-8 sequence becomes U+FFFD), with every control character escaped (C0, DEL and C1, and the
// line and paragraph separators), so that the line stays one line for every reader.
class JsonLine {
public:
    JsonLine& text(std::string_view name, std::string_view value);
    JsonLine& text_or_null(std::string_view name, const std::optional<std::string>& value);
    JsonLine& number(std::string_view name, std::uint64_t value);
    JsonLine& number(std::string_view name, const std::optional<std::uint64_t>& value);
    // A number of thousandths, written as a decimal with three places: 6040 gives 6.040.
    JsonLine& thousandths(std::string_view name, const std::optional<std::uint64_t>& value);
    JsonLine& null(std::string_view name);
    JsonLine& object(std::string_view name, const JsonLine& value);

    // The object, and a line feed after it.
    std::string line() const;
    // The object alone, to go inside another.
    std::string object_text() const;

private:
    void start_field(std::string_view name);

    std::string fields_;
};

// Appends `value` as a JSON string, quotes included, under the rules above.
void append_json_string(std::string& out, std::string_view value);
