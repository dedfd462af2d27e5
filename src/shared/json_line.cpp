#include "shared/json_line.h"

#include "shared/number_text.h"
#include "shared/utf8.h"


namespace {

bool needs_escape(char32_t code_point)
{
    return code_point < 0x20 || code_point == '"' || code_point == '\\' || (code_point >= 0x7F && code_point <= 0x9F)
        || code_point == 0x2028 || code_point == 0x2029;
}

void append_escaped(std::string& out, char32_t code_point)
{
    switch (code_point) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    out += "\\u";
    append_number(out, code_point, 4, NumberBase::hexadecimal);
}

}

void append_json_string(std::string& out, std::string_view value)
{
    out += '"';
    while (!value.empty()) {
        auto [code_point, length] = utf8_sequence_at(value);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            value.remove_prefix(1);
            continue;
        }
        if (needs_escape(code_point))
            append_escaped(out, code_point);
        else
            out.append(value.substr(0, length));
        value.remove_prefix(length);
    }
    out += '"';
}

void JsonLine::start_field(std::string_view name)
{
    if (!fields_.empty())
        fields_ += ',';
    append_json_string(fields_, name);
    fields_ += ':';
}

JsonLine& JsonLine::text(std::string_view name, std::string_view value)
{
    start_field(name);
    append_json_string(fields_, value);
    return *this;
}

JsonLine& JsonLine::text_or_null(std::string_view name, const std::optional<std::string>& value)
{
    return value ? text(name, std::string_view(*value)) : null(name);
}

JsonLine& JsonLine::number(std::string_view name, std::uint64_t value)
{
    start_field(name);
    append_number(fields_, value);
    return *this;
}

JsonLine& JsonLine::number(std::string_view name, const std::optional<std::uint64_t>& value)
{
    return value ? number(name, *value) : null(name);
}

JsonLine& JsonLine::thousandths(std::string_view name, const std::optional<std::uint64_t>& value)
{
    if (!value)
        return null(name);
    start_field(name);
    append_number(fields_, *value / 1000);
    fields_ += '.';
    append_number(fields_, *value % 1000, 3);
    return *this;
}

JsonLine& JsonLine::null(std::string_view name)
{
    start_field(name);
    fields_ += "null";
    return *this;
}

JsonLine& JsonLine::object(std::string_view name, const JsonLine& value)
{
    start_field(name);
    fields_ += value.object_text();
    return *this;
}

std::string JsonLine::object_text() const
{
    return "{" + fields_ + "}";
}

std::string JsonLine::line() const
{
    return object_text() + "\n";
}
