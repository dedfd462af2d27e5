// What a catalogue already holds: the recordings its lines name, read back from its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

class RecordingHeader;

// A recording as a catalogue line knows it: the name of its file without the folders, compared as the
// file system compares names, and the broadcast it came from (Service Id, Event Id, Start Time and
// Start Day, as the line writes them). However its path was spelt, a recording has one key.
struct RecordingKey {
    std::string name;
    std::string service_id;
    std::string event_id;
    std::string start_time;
    std::string start_day;

    auto operator<=>(const RecordingKey&) const = default;
};

RecordingKey recording_key(std::string_view recording_path, const RecordingHeader& header);

// Reads a catalogue's bytes in order, in pieces of any size, and keeps the key of every whole line: a
// few tens of bytes a line, however long the line is. Quoting is read as the catalogue writes it: a
// field may be quoted, a quote inside it doubled, and one apostrophe in front of a Filename is not
// part of it. A line cut short at the end is held back until the rest of it comes. Bytes that do not
// begin with the header line, after the UTF-8 mark where there is one, hold nothing.
class CatalogueHoldings {
public:
    void feed(std::string_view bytes);

    bool holds(const RecordingKey& key) const;
    // How many lines name the recording.
    std::size_t count(const RecordingKey& key) const;
    std::size_t size() const { return keys_.size(); }
    // Every line after the header, whether it names a recording or not, one cut short at the end included.
    std::size_t records() const { return records_ + (record_started_ ? 1 : 0); }

private:
    void take(char character);
    void take_in_field(char character);
    void keep_in_current(char character);
    void keep_in_name(char character);
    void end_record();

    enum class Start { header, catalogue, not_a_catalogue };
    Start start_ = Start::header;
    std::string header_;  // the first line so far, while it is being read

    // The record being read: which field, whether inside quotes, and a quote that may be the first of
    // a doubled pair.
    std::uint64_t field_ = 0;
    bool quoted_ = false;
    bool quote_pending_ = false;
    bool spoilt_ = false;         // a kept field ran longer than any real value
    bool name_too_long_ = false;  // the name so far is longer than any file system allows
    bool filename_started_ = false;
    RecordingKey current_;

    bool record_started_ = false;
    std::size_t records_ = 0;
    std::map<std::string, std::size_t> keys_;  // each key's fields joined by zero bytes, and its lines
};
