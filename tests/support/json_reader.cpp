#include "support/json_reader.h"

#include <cstdlib>
#include <stdexcept>

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) { }

    JsonObject line()
    {
        JsonObject object = read_object();
        if (position_ + 1 != text_.size() || text_[position_] != '\n')
            fail("not one object and a line feed");
        return object;
    }

private:
    [[noreturn]] void fail(const char* what) const { throw std::runtime_error(std::string(what) + " at " + std::to_string(position_)); }

    char peek() const { return position_ < text_.size() ? text_[position_] : '\0'; }

    void expect(char wanted)
    {
        if (peek() != wanted)
            fail("unexpected character");
        ++position_;
    }

    JsonObject read_object()
    {
        expect('{');
        JsonObject object;
        if (peek() == '}') {
            ++position_;
            return object;
        }
        for (;;) {
            std::string name = read_string();
            expect(':');
            if (!object.emplace(name, read_value()).second)
                fail("a name given twice");
            if (peek() == '}') {
                ++position_;
                return object;
            }
            expect(',');
        }
    }

    JsonValue read_value()
    {
        char next = peek();
        if (next == '"')
            return { read_string() };
        if (next == '{')
            return { std::make_shared<JsonObject>(read_object()) };
        if (text_.compare(position_, 4, "null") == 0) {
            position_ += 4;
            return { nullptr };
        }
        return { read_number() };
    }

    double read_number()
    {
        std::size_t start = position_;
        if (peek() == '-')
            ++position_;
        if (peek() == '0')
            ++position_;
        else if (peek() >= '1' && peek() <= '9')
            while (peek() >= '0' && peek() <= '9')
                ++position_;
        else
            fail("not a value");
        if (peek() == '.') {
            ++position_;
            if (!(peek() >= '0' && peek() <= '9'))
                fail("no digit after the point");
            while (peek() >= '0' && peek() <= '9')
                ++position_;
        }
        return std::strtod(text_.substr(start, position_ - start).c_str(), nullptr);
    }

    unsigned hex_digit()
    {
        char digit = peek();
        ++position_;
        if (digit >= '0' && digit <= '9')
            return static_cast<unsigned>(digit - '0');
        if (digit >= 'a' && digit <= 'f')
            return static_cast<unsigned>(digit - 'a' + 10);
        if (digit >= 'A' && digit <= 'F')
            return static_cast<unsigned>(digit - 'A' + 10);
        fail("not a hexadecimal digit");
    }

    static void append_utf8(std::string& out, char32_t code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // One UTF-8 sequence, checked strictly, copied as it is.
    void copy_utf8(std::string& out)
    {
        auto lead = static_cast<unsigned char>(peek());
        std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xE ? 3 : lead >> 3 == 0x1E ? 4 : 0;
        if (length == 0 || position_ + length > text_.size())
            fail("not UTF-8");
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t next = 1; next < length; ++next) {
            auto byte = static_cast<unsigned char>(text_[position_ + next]);
            if (byte >> 6 != 0x2)
                fail("not UTF-8");
            code = code << 6 | (byte & 0x3F);
        }
        const char32_t shortest[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (code < shortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            fail("not UTF-8");
        out.append(text_, position_, length);
        position_ += length;
    }

    std::string read_string()
    {
        expect('"');
        std::string out;
        for (;;) {
            if (position_ >= text_.size())
                fail("a string that does not end");
            char next = peek();
            if (next == '"') {
                ++position_;
                return out;
            }
            if (static_cast<unsigned char>(next) < 0x20)
                fail("a raw control character in a string");
            if (next != '\\') {
                copy_utf8(out);
                continue;
            }
            ++position_;
            char escape = peek();
            ++position_;
            switch (escape) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                char32_t code = 0;
                for (int digit = 0; digit < 4; ++digit)
                    code = code << 4 | hex_digit();
                if (code >= 0xD800 && code <= 0xDFFF)
                    fail("a surrogate escaped, which a report never needs");
                append_utf8(out, code);
                break;
            }
            default:
                fail("a bad escape");
            }
        }
    }

    const std::string& text_;
    std::size_t position_ = 0;
};

}

JsonObject parse_json_line(const std::string& line)
{
    return Reader(line).line();
}
