// What a catalogue already holds: the recordings its lines name, read back from its bytes, whichever
// program or version wrote them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class RecordingHeader;

// A recording as a catalogue line knows it: the name of its file without the folders, as name_key
// gives it, and the broadcast it came from (Service Id, Event Id, Start Time and Start Day, as the line
// writes them). However its path was spelt, and on whichever system, a recording has one key.
struct RecordingKey {
    std::string name;
    std::string service_id;
    std::string event_id;
    std::string start_time;
    std::string start_day;

    auto operator<=>(const RecordingKey&) const = default;
};

// `name` is the recording's path, or on systems with short names the name its file system holds.
RecordingKey recording_key(std::string_view name, const RecordingHeader& header);

// Reads a catalogue's bytes in order, in pieces of any size, and keeps the key of every line. Lines are
// read as this program has written them, with texts quoted and a quote doubled, and as it wrote them
// before it quoted anything, with commas, quotes and line breaks in the texts as they are, in any mix:
// - a record is first read as CSV, where a quote opens a quoted field only at the start of a field, and
//   one apostrophe in front of a Filename is not part of it;
// - a record that does not have a line's shape so read is read again as one line, its fields found
//   from the parts that cannot hold free text (the numbers, the type, the times and dates, the eight
//   identifiers between Program and Description). Every way it splits is kept: a recording is held
//   when any of them names it;
// - a line break inside a record, followed by a line that has a line's shape on its own, ends the
//   record there, so that a line cut short never swallows the next, and a line no rule can read is
//   passed over.
// Only what a key and the shape need is kept of a record that reads as CSV, however long it is; one
// read again is held up to 64 KiB plus the longest path, and a longer one is passed over. Bytes that do
// not begin with the header line, after the UTF-8 mark where there is one, hold nothing.
class CatalogueHoldings {
public:
    void feed(std::string_view bytes);

    bool holds(const RecordingKey& key) const;
    // How many lines name the recording.
    std::size_t count(const RecordingKey& key) const;
    std::size_t size() const { return keys_.size(); }
    // Every line after the header, whether it names a recording or not, one cut short at the end included.
    std::size_t records() const { return records_ + (line_.started || pending_ ? 1 : 0); }

    // A record read as CSV, keeping what the key and the line's shape need: the fields that hold no
    // free text, and the Filename's last part.
    class Record {
    public:
        void take(char character);
        bool ended() const { return ended_; }
        bool inside_quotes() const { return quoted_; }
        // Whether it has a catalogue line's shape: 19 fields and the comma after the last, each field that
        // holds no free text in its form.
        bool has_a_lines_shape() const;
        RecordingKey key() const;

    private:
        void keep(char character);

        static constexpr std::size_t field_count = 20;  // the 19 and the empty one after the last comma
        std::size_t field_ = 0;
        bool quoted_ = false;
        bool quote_pending_ = false;
        bool at_field_start_ = true;
        bool ended_ = false;
        bool spoilt_ = false;  // a field that holds no free text ran longer than any such field
        std::string name_;
        bool name_too_long_ = false;
        bool name_started_ = false;
        std::array<std::string, field_count> fields_ {};  // the small ones; the texts stay empty
    };

private:
    // The physical line being read: raw, as far as it can be held, and read as CSV from its start.
    struct Line {
        std::string raw;
        bool too_long = false;
        bool started = false;
        Record record;

        void start_again();
    };

    void take(char character);
    void end_of_physical_line();
    // The keys a record gives: read as CSV when it has a line's shape so, else by its shape, as far as
    // its raw bytes were held.
    std::vector<RecordingKey> keys_of(const Record& record, std::string_view raw, bool raw_whole) const;
    void finish(const std::vector<RecordingKey>& keys);
    void end_pending();
    void add_keys(const std::vector<RecordingKey>& keys);

    enum class Start { header, catalogue, not_a_catalogue };
    Start start_ = Start::header;
    std::string header_;  // the first line so far, while it is being read

    Line line_;
    // A record that a quoted field carried past the end of its first physical line: read on as CSV, and
    // its raw lines held in case it must be read again.
    bool pending_ = false;
    Record pending_record_;
    std::string pending_raw_;
    bool pending_too_long_ = false;

    std::size_t records_ = 0;
    std::map<std::string, std::size_t> keys_;  // each key's fields joined by zero bytes, and its lines
};

// Whether the bytes begin as a line does, up to where Program's text begins: a Filename, a service
// number, a Channel, the type and the times. Texts with line breaks in them go on after such a start.
bool begins_like_a_line(std::string_view text);

// Every key the record's bytes can be read as, found by the parts of a line that cannot hold free text.
// Empty when none: the record has no line's shape at all.
std::vector<RecordingKey> keys_by_shape(std::string_view record);
