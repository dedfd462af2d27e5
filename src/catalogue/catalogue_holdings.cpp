#include "catalogue/catalogue_holdings.h"

#include "catalogue/broadcast_time.h"
#include "catalogue/catalogue.h"
#include "catalogue/file_names.h"
#include "recording/recording_header.h"

#include <algorithm>
#include <optional>
#include <set>

namespace {

// The columns of a line.
constexpr std::size_t filename_column = 0;
constexpr std::size_t service_number_column = 1;
constexpr std::size_t type_column = 3;
constexpr std::size_t start_time_column = 4;
constexpr std::size_t start_day_column = 5;
constexpr std::size_t duration_column = 8;
constexpr std::size_t first_identifier_column = 10;
constexpr std::size_t service_id_column = 12;
constexpr std::size_t event_id_column = 13;
constexpr std::size_t identifier_columns = 8;
constexpr std::size_t last_column = 18;

// The columns that hold free text, which a line's shape says nothing of.
bool holds_free_text(std::size_t column)
{
    return column == 2 || column == 9 || column == last_column;
}

// No file system has longer names, and no number, time or identifier is written longer, so a field
// past its limit is not a line's.
constexpr std::size_t name_limit = 1024;
constexpr std::size_t value_limit = 32;

// What a record read again may take: a line's texts, and its Filename, which is a path.
constexpr std::size_t longest_path = 96 * 1024;
constexpr std::size_t raw_limit = 64 * 1024 + longest_path;

// Keys read again from one odd record are bounded too, however many ways it splits.
constexpr std::size_t readings_limit = 256;

std::string packed(const RecordingKey& key)
{
    std::string text = key.name;
    for (const std::string* field : { &key.service_id, &key.event_id, &key.start_time, &key.start_day }) {
        text += '\0';
        text += *field;
    }
    return text;
}

bool is_digit(char character)
{
    return character >= '0' && character <= '9';
}

// The end of a run of `least` to `most` digits at `at`, not followed by another, or npos.
std::size_t digits_at(std::string_view text, std::size_t at, std::size_t least, std::size_t most)
{
    std::size_t end = at;
    while (end < text.size() && is_digit(text[end]) && end - at <= most)
        ++end;
    std::size_t count = end - at;
    return count >= least && count <= most ? end : std::string_view::npos;
}

// The forms the writer prints: "hh:mm" and a duration with 2 or 3 digits each, "dd/mm/yyyy" with 2 or
// 3, 2 or 3 and 4 or 5.
std::size_t time_at(std::string_view text, std::size_t at)
{
    std::size_t end = digits_at(text, at, 2, 3);
    if (end == std::string_view::npos || end >= text.size() || text[end] != ':')
        return std::string_view::npos;
    return digits_at(text, end + 1, 2, 3);
}

std::size_t date_at(std::string_view text, std::size_t at)
{
    std::size_t end = digits_at(text, at, 2, 3);
    for (int part = 0; part < 2 && end != std::string_view::npos; ++part) {
        if (end >= text.size() || text[end] != '/')
            return std::string_view::npos;
        end = part == 0 ? digits_at(text, end + 1, 2, 3) : digits_at(text, end + 1, 4, 5);
    }
    return end;
}

// An identifier or PID as catalogue_identifier writes it.
bool is_identifier(std::string_view text)
{
    return text.size() == 4
        && std::all_of(text.begin(), text.end(), [](char character) { return is_digit(character) || (character >= 'a' && character <= 'f'); });
}

bool is_service_type(std::string_view text)
{
    return text == "TV" || text == "Radio" || text == "???";
}

bool whole(std::string_view text, std::size_t (*form)(std::string_view, std::size_t))
{
    return !text.empty() && form(text, 0) == text.size();
}

bool is_service_number(std::string_view text)
{
    return !text.empty() && digits_at(text, 0, 1, 5) == text.size();
}

// The parts of a line between Channel and Program: where Program's text begins, and the start time and day.
struct LineMiddle {
    std::size_t program = 0;
    std::string_view start_time;
    std::string_view start_day;
};

// `,` TYPE `,` TIME `,` DATE `,` TIME `,` DATE `,` TIME `,"` at `at`, or nothing.
std::optional<LineMiddle> middle_at(std::string_view text, std::size_t at)
{
    if (text[at] != ',')
        return std::nullopt;
    std::size_t type_end = text.find(',', at + 1);
    if (type_end == std::string_view::npos || !is_service_type(text.substr(at + 1, type_end - at - 1)))
        return std::nullopt;
    LineMiddle middle;
    std::size_t position = type_end + 1;
    for (int part = 0; part < 5; ++part) {
        std::size_t end = part % 2 == 0 ? time_at(text, position) : date_at(text, position);
        if (end == std::string_view::npos || end >= text.size() || text[end] != ',')
            return std::nullopt;
        if (part == 0)
            middle.start_time = text.substr(position, end - position);
        if (part == 1)
            middle.start_day = text.substr(position, end - position);
        position = end + 1;
    }
    if (position >= text.size() || text[position] != '"')
        return std::nullopt;
    middle.program = position + 1;
    return middle;
}

// `",` then the eight identifiers each with its comma, then `"`: between Program and Description.
constexpr std::size_t identifiers_length = 2 + identifier_columns * 5 + 1;

bool identifiers_at(std::string_view text, std::size_t at)
{
    if (at + identifiers_length > text.size() || text.compare(at, 2, "\",") != 0 || text[at + identifiers_length - 1] != '"')
        return false;
    for (std::size_t column = 0; column < identifier_columns; ++column) {
        std::size_t start = at + 2 + column * 5;
        if (!is_identifier(text.substr(start, 4)) || text[start + 4] != ',')
            return false;
    }
    return true;
}

// The ways a Filename read again may have been written: as it stands; without the apostrophe a
// spreadsheet guard put in front; in quotes, with a quote inside doubled.
std::vector<std::string> filename_readings(std::string_view written)
{
    std::vector<std::string> readings { std::string(written) };
    if (written.size() >= 2 && written.front() == '"' && written.back() == '"') {
        std::string unquoted;
        std::string_view inside = written.substr(1, written.size() - 2);
        for (std::size_t at = 0; at < inside.size(); ++at) {
            unquoted += inside[at];
            if (inside[at] == '"' && at + 1 < inside.size() && inside[at + 1] == '"')
                ++at;
        }
        readings.push_back(unquoted);
    }
    for (std::size_t index = 0, count = readings.size(); index < count; ++index)
        if (readings[index].starts_with('\''))
            readings.push_back(readings[index].substr(1));
    return readings;
}

}

RecordingKey recording_key(std::string_view name, const RecordingHeader& header)
{
    std::string start = format_broadcast_time(header.start_time());
    std::size_t comma = start.find(',');
    return { name_key(name), catalogue_identifier(header.service_id()), catalogue_identifier(header.event_id()), start.substr(0, comma),
        start.substr(comma + 1) };
}

bool begins_like_a_line(std::string_view text)
{
    for (std::size_t middle = text.find(','); middle != std::string_view::npos; middle = text.find(',', middle + 1)) {
        if (!middle_at(text, middle))
            continue;
        for (std::size_t first = text.find(','); first != std::string_view::npos && first < middle; first = text.find(',', first + 1)) {
            std::size_t second = text.find(',', first + 1);
            if (second != std::string_view::npos && second <= middle && is_service_number(text.substr(first + 1, second - first - 1)))
                return true;
        }
    }
    return false;
}

std::vector<RecordingKey> keys_by_shape(std::string_view record)
{
    if (record.ends_with('\r'))
        record.remove_suffix(1);
    std::vector<RecordingKey> keys;
    if (!record.ends_with("\","))
        return keys;
    std::size_t description_end = record.size() - 2;
    for (std::size_t identifiers = record.find("\","); identifiers != std::string_view::npos && identifiers + identifiers_length <= description_end;
         identifiers = record.find("\",", identifiers + 1)) {
        if (!identifiers_at(record, identifiers))
            continue;
        std::string service_id(record.substr(identifiers + 2 + 2 * 5, 4));
        std::string event_id(record.substr(identifiers + 2 + 3 * 5, 4));
        for (std::size_t middle = record.find(','); middle != std::string_view::npos && middle < identifiers; middle = record.find(',', middle + 1)) {
            std::optional<LineMiddle> parts = middle_at(record, middle);
            if (!parts || parts->program > identifiers)
                continue;
            // Filename, service number, Channel: every `,N,` before the middle splits them.
            for (std::size_t first = record.find(','); first != std::string_view::npos && first < middle; first = record.find(',', first + 1)) {
                std::size_t second = record.find(',', first + 1);
                if (second == std::string_view::npos || second > middle || !is_service_number(record.substr(first + 1, second - first - 1)))
                    continue;
                for (const std::string& filename : filename_readings(record.substr(0, first))) {
                    std::size_t separator = filename.find_last_of("/\\");
                    if (filename.size() - (separator == std::string::npos ? 0 : separator + 1) > name_limit)
                        continue;
                    keys.push_back({ name_key(filename), service_id, event_id, std::string(parts->start_time), std::string(parts->start_day) });
                    if (keys.size() >= readings_limit)
                        return keys;
                }
            }
        }
    }
    return keys;
}

void CatalogueHoldings::Record::take(char character)
{
    if (ended_)
        return;
    if (quote_pending_) {
        quote_pending_ = false;
        if (character == '"') {
            // A doubled quote inside a quoted field stands for one.
            keep(character);
            return;
        }
        quoted_ = false;
    }
    if (quoted_) {
        if (character == '"')
            quote_pending_ = true;
        else
            keep(character);
        return;
    }
    switch (character) {
    case '"':
        // Only at the start of a field does a quote open a quoted one; anywhere else it is a quote.
        if (at_field_start_) {
            quoted_ = true;
            at_field_start_ = false;
            return;
        }
        keep(character);
        return;
    case ',':
        ++field_;
        at_field_start_ = true;
        return;
    case '\n':
        ended_ = true;
        return;
    default:
        keep(character);
        return;
    }
}

void CatalogueHoldings::Record::keep(char character)
{
    at_field_start_ = false;
    if (field_ == filename_column) {
        // A Filename written with an apostrophe in front, so that no spreadsheet runs it, is read without it.
        if (!name_started_) {
            name_started_ = true;
            if (character == '\'')
                return;
        }
        // Only the last part of the path counts, whichever system's separator ends a folder.
        if (character == '/' || character == '\\') {
            name_.clear();
            name_too_long_ = false;
        } else if (name_.size() < name_limit) {
            name_ += character;
        } else {
            name_too_long_ = true;
        }
        return;
    }
    if (field_ >= field_count) {
        spoilt_ = true;
        return;
    }
    if (holds_free_text(field_))
        return;
    if (fields_[field_].size() < value_limit)
        fields_[field_] += character;
    else
        spoilt_ = true;
}

bool CatalogueHoldings::Record::has_a_lines_shape() const
{
    const std::string& after_the_last = fields_[field_count - 1];
    if (field_ != field_count - 1 || spoilt_ || name_too_long_ || !(after_the_last.empty() || after_the_last == "\r"))
        return false;
    if (!is_service_number(fields_[service_number_column]) || !is_service_type(fields_[type_column]))
        return false;
    for (std::size_t column = start_time_column; column <= duration_column; ++column)
        if (!whole(fields_[column], (column - start_time_column) % 2 == 0 ? time_at : date_at))
            return false;
    for (std::size_t column = first_identifier_column; column < first_identifier_column + identifier_columns; ++column)
        if (!is_identifier(fields_[column]))
            return false;
    return true;
}

RecordingKey CatalogueHoldings::Record::key() const
{
    return { name_key(name_), fields_[service_id_column], fields_[event_id_column], fields_[start_time_column], fields_[start_day_column] };
}

void CatalogueHoldings::feed(std::string_view bytes)
{
    for (char character : bytes)
        take(character);
}

bool CatalogueHoldings::holds(const RecordingKey& key) const
{
    return keys_.contains(packed(key));
}

std::size_t CatalogueHoldings::count(const RecordingKey& key) const
{
    auto found = keys_.find(packed(key));
    return found == keys_.end() ? 0 : found->second;
}

void CatalogueHoldings::take(char character)
{
    switch (start_) {
    case Start::not_a_catalogue:
        return;
    case Start::header:
        // The header line holds no quote, so its first line feed ends it; the UTF-8 mark may come first.
        header_ += character;
        if (character == '\n')
            start_ = without_utf8_mark(header_) == catalogue_header_line() ? Start::catalogue : Start::not_a_catalogue;
        else if (header_.size() >= catalogue_start_length())
            start_ = Start::not_a_catalogue;
        if (start_ != Start::header)
            header_.clear();
        return;
    case Start::catalogue:
        break;
    }
    line_.started = true;
    if (line_.raw.size() < raw_limit)
        line_.raw += character;
    else
        line_.too_long = true;
    line_.record.take(character);
    if (pending_)
        pending_record_.take(character);
    if (character == '\n')
        end_of_physical_line();
}

void CatalogueHoldings::Line::start_again()
{
    // The buffer is kept, so that a catalogue of many lines is not many allocations.
    raw.clear();
    too_long = false;
    started = false;
    record = {};
}

void CatalogueHoldings::end_of_physical_line()
{
    std::string_view raw = std::string_view(line_.raw).substr(0, line_.raw.size() - (line_.too_long ? 0 : 1));
    std::vector<RecordingKey> keys = keys_of(line_.record, raw, !line_.too_long);
    if (!pending_) {
        // A record goes on past the line's end when a quoted field does, or when the line begins as a
        // line does and texts with line breaks written as they are may follow. Anything else is a line
        // of its own, or one no rule reads, which is passed over and takes nothing with it.
        bool goes_on = line_.record.inside_quotes() || (!line_.too_long && begins_like_a_line(raw));
        if (!keys.empty() || !goes_on) {
            finish(keys);
        } else {
            // Not a line on its own: a quoted field goes on past its end, or texts with line breaks
            // written as they are. It is read on, and held in case it must be read again.
            pending_ = true;
            pending_record_ = line_.record;
            pending_raw_ = line_.raw;
            pending_too_long_ = line_.too_long;
        }
        line_.start_again();
        return;
    }
    if (!keys.empty()) {
        // A line that reads on its own ends the record before it, which was cut short, or holds a quote
        // it never closed; a record no rule can read is passed over.
        std::string_view before = pending_raw_;
        finish(keys_of(pending_record_, before.substr(0, before.size() - (before.ends_with('\n') ? 1 : 0)), !pending_too_long_));
        finish(keys);
        end_pending();
    } else {
        pending_too_long_ = pending_too_long_ || line_.too_long || pending_raw_.size() + line_.raw.size() > raw_limit;
        if (!pending_too_long_)
            pending_raw_ += line_.raw;
        std::vector<RecordingKey> record_keys
            = keys_of(pending_record_, std::string_view(pending_raw_).substr(0, pending_raw_.size() - 1), !pending_too_long_);
        // Read whole, or beyond reading again: too long, and its quotes closed.
        if (!record_keys.empty() || (pending_too_long_ && !pending_record_.inside_quotes())) {
            finish(record_keys);
            end_pending();
        }
    }
    line_.start_again();
}

std::vector<RecordingKey> CatalogueHoldings::keys_of(const Record& record, std::string_view raw, bool raw_whole) const
{
    if (record.ended() && record.has_a_lines_shape())
        return { record.key() };
    if (raw_whole)
        return keys_by_shape(raw);
    return {};
}

void CatalogueHoldings::end_pending()
{
    pending_ = false;
    pending_record_ = {};
    pending_raw_.clear();
    pending_too_long_ = false;
}

void CatalogueHoldings::finish(const std::vector<RecordingKey>& keys)
{
    ++records_;
    add_keys(keys);
}

void CatalogueHoldings::add_keys(const std::vector<RecordingKey>& keys)
{
    // A line counts once for each recording it may name, however many of its readings name it.
    std::set<std::string> named;
    for (const RecordingKey& key : keys)
        if (named.insert(packed(key)).second)
            ++keys_[packed(key)];
}
