#include "catalogue/catalogue_holdings.h"

#include "catalogue/broadcast_time.h"
#include "catalogue/catalogue.h"
#include "platform/file.h"
#include "recording/recording_header.h"

#include <array>
#include <utility>

namespace {

// The columns a key is made of: the Filename, and these, each kept in its field of the key.
constexpr std::uint64_t filename_column = 0;
constexpr std::uint64_t event_id_column = 13;  // the last of them
constexpr std::array<std::pair<std::uint64_t, std::string RecordingKey::*>, 4> value_columns { {
    { 4, &RecordingKey::start_time },
    { 5, &RecordingKey::start_day },
    { 12, &RecordingKey::service_id },
    { event_id_column, &RecordingKey::event_id },
} };

// No file system has longer names, and no identifier or time is written longer, so a field past its
// limit names no recording.
constexpr std::size_t name_limit = 1024;
constexpr std::size_t value_limit = 32;

std::string packed(const RecordingKey& key)
{
    std::string text = key.name;
    for (const std::string* field : { &key.service_id, &key.event_id, &key.start_time, &key.start_day }) {
        text += '\0';
        text += *field;
    }
    return text;
}

}

RecordingKey recording_key(std::string_view recording_path, const RecordingHeader& header)
{
    std::string start = format_broadcast_time(header.start_time());
    std::size_t comma = start.find(',');
    return { file_name_key(recording_path), catalogue_identifier(header.service_id()), catalogue_identifier(header.event_id()),
        start.substr(0, comma), start.substr(comma + 1) };
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
        record_started_ = true;
        take_in_field(character);
        return;
    }
}

void CatalogueHoldings::take_in_field(char character)
{
    if (quote_pending_) {
        quote_pending_ = false;
        if (character == '"') {
            // A doubled quote inside a quoted field stands for one.
            keep_in_current(character);
            return;
        }
        quoted_ = false;
    }
    if (quoted_) {
        if (character == '"')
            quote_pending_ = true;
        else
            keep_in_current(character);
        return;
    }
    switch (character) {
    case '"':
        quoted_ = true;
        return;
    case ',':
        ++field_;
        return;
    case '\n':
        end_record();
        return;
    default:
        keep_in_current(character);
        return;
    }
}

void CatalogueHoldings::keep_in_current(char character)
{
    if (field_ == filename_column) {
        keep_in_name(character);
        return;
    }
    for (auto [column, field] : value_columns) {
        if (field_ != column)
            continue;
        if ((current_.*field).size() < value_limit)
            current_.*field += character;
        else
            spoilt_ = true;
        return;
    }
}

void CatalogueHoldings::keep_in_name(char character)
{
    // A Filename written with an apostrophe in front, so that no spreadsheet runs it, is read without it.
    if (!filename_started_) {
        filename_started_ = true;
        if (character == '\'')
            return;
    }
    // Only the last part of the path counts: a separator starts the name again, however long the folder
    // before it was.
    if (is_path_separator(character)) {
        current_.name.clear();
        name_too_long_ = false;
    } else if (current_.name.size() < name_limit) {
        current_.name += character;
    } else {
        name_too_long_ = true;
    }
}

void CatalogueHoldings::end_record()
{
    if (field_ > event_id_column && !spoilt_ && !name_too_long_) {
        current_.name = file_name_key(current_.name);
        ++keys_[packed(current_)];
    }
    ++records_;
    record_started_ = false;
    current_ = {};
    field_ = 0;
    spoilt_ = false;
    name_too_long_ = false;
    filename_started_ = false;
}
