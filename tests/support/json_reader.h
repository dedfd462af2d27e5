// A strict reader of one JSON object as RFC 8259 defines it, to check what jq and pandas will see.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <variant>

struct JsonValue;
using JsonObject = std::map<std::string, JsonValue>;

// null, a string (decoded), a number (as written), or an object.
struct JsonValue {
    std::variant<std::nullptr_t, std::string, double, std::shared_ptr<JsonObject>> value;

    bool is_null() const { return std::holds_alternative<std::nullptr_t>(value); }
    const std::string& text() const { return std::get<std::string>(value); }
    double number() const { return std::get<double>(value); }
    const JsonObject& object() const { return *std::get<std::shared_ptr<JsonObject>>(value); }
};

// Reads one line: an object and a line feed, nothing else. Throws on anything RFC 8259 does not allow
// (a raw control character in a string, a bad escape, text that is not UTF-8, a name given twice)
// and on arrays and booleans, which a report never holds.
JsonObject parse_json_line(const std::string& line);
