#include "catalogue/catalogue.h"

#include "catalogue/broadcast_text.h"
#include "catalogue/report.h"
#include "cli/console_reporter.h"
#include "recording/recording_header.h"
#include "recording/stream_check.h"
#include "shared/json_line.h"
#include "support/captured_console.h"
#include "support/csv_reader.h"
#include "support/json_reader.h"
#include "support/recording_builder.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <thread>

#ifndef _WIN32
#include <cerrno>
#include <grp.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

RecordingHeader header_of(const RecordingFields& fields)
{
    std::optional<RecordingHeader> header = RecordingHeader::parse(build_recording(fields));
    if (!header)
        throw std::logic_error("fixture header rejected");
    return *header;
}

const std::string example_line =
    "test.rec,12,ABC,TV,12:45,13/10/1993,14:00,13/10/1993,01:15,\"News\",2174,0003,0102,1234,00a0,00a1,00a0,0064,\"Local news\",\n";

TEST(CatalogueLine, HeaderLineHasNineteenLabels)
{
    EXPECT_EQ(catalogue_header_line(),
        "Filename,Service No.,Channel,Type,Start Time,Start Day,End Time,End Day,Duration,Program,"
        "Original Network Id,Transport Stream Id,Service Id,Event Id,Video pid,Audio pid,PCR pid,PMT pid,Description,\n");
    std::vector<std::string> fields = parse_csv_record(std::string(catalogue_header_line()));
    EXPECT_EQ(fields.size(), 20u);
}

TEST(CatalogueLine, ExampleRecordingGivesTheDocumentedLine)
{
    // The builder's defaults are the documented example recording.
    EXPECT_EQ(catalogue_row("test.rec", header_of({})), example_line);
}

TEST(CatalogueLine, EmptyEventNameGivesEmptyQuotedProgram)
{
    RecordingFields fields;
    fields.event_name = "";
    std::string line = catalogue_row("a.rec", header_of(fields));
    EXPECT_NE(line.find(",01:15,\"\",2174,"), std::string::npos) << line;
}

TEST(CatalogueLine, EventNameStopsAtItsZeroByte)
{
    RecordingFields fields;
    fields.event_name = std::string("Ne\0ws", 5);
    std::string line = catalogue_row("a.rec", header_of(fields));
    EXPECT_NE(line.find(",\"Ne\",2174,"), std::string::npos) << line;
    EXPECT_NE(line.find(",\"Local news\",\n"), std::string::npos) << line;
}

TEST(CatalogueLine, ServiceTypeNames)
{
    for (auto [type, name] : std::vector<std::pair<std::uint16_t, std::string>> { { 0, "TV" }, { 1, "Radio" }, { 2, "???" }, { 7, "???" }, { 0x100, "???" } }) {
        RecordingFields fields;
        fields.service_type = type;
        EXPECT_EQ(parse_csv_record(catalogue_row("a.rec", header_of(fields)))[3], name) << type;
    }
}

TEST(CatalogueLine, NumbersKeepTheirWidthsAndCase)
{
    RecordingFields fields;
    fields.video_pid = 0xE100;
    fields.audio_pid = 0x1FFF;
    fields.service_id = 0xABCD;
    fields.service_number = 0;
    fields.duration_hours = 0;
    fields.duration_minutes = 200;
    std::vector<std::string> columns = parse_csv_record(catalogue_row("a.rec", header_of(fields)));
    EXPECT_EQ(columns[1], "0");
    EXPECT_EQ(columns[8], "00:200");
    EXPECT_EQ(columns[12], "abcd");
    EXPECT_EQ(columns[14], "0100");
    EXPECT_EQ(columns[15], "1fff");
}

struct QuotingCase {
    const char* name;
    std::string input_path;
    std::string channel;
    std::string title;
    std::string description;
    // What each field reads back as, where that is not the text given: a spreadsheet must never run a
    // text as a formula.
    std::optional<std::vector<std::string>> read_back = std::nullopt;
};

void PrintTo(const QuotingCase& quoting, std::ostream* stream) { *stream << quoting.name; }

class CatalogueQuoting : public testing::TestWithParam<QuotingCase> { };

TEST_P(CatalogueQuoting, EveryTextSurvivesAsOneField)
{
    const QuotingCase& quoting = GetParam();
    RecordingFields fields;
    fields.channel_name = quoting.channel;
    fields.event_name = quoting.title;
    fields.event_description = quoting.description;
    std::string line = catalogue_row(quoting.input_path, header_of(fields));

    std::vector<std::string> columns = parse_csv_record(line);
    ASSERT_EQ(columns.size(), 20u) << line;
    std::vector<std::string> expected = quoting.read_back.value_or(
        std::vector<std::string> { quoting.input_path, quoting.channel, quoting.title, quoting.description });
    EXPECT_EQ(columns[0], expected[0]);
    EXPECT_EQ(columns[2], expected[1]);
    EXPECT_EQ(columns[9], expected[2]);
    EXPECT_EQ(columns[18], expected[3]);
    EXPECT_EQ(columns[19], "");
    EXPECT_EQ(line.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(CatalogueLine, CatalogueQuoting,
    testing::Values(
        QuotingCase { "ChannelWithComma", "a.rec", "News, Sport", "Title", "Text" },
        QuotingCase { "TitleWithQuotes", "a.rec", "ABC", "The \"Big\" Match", "Text" },
        QuotingCase { "DescriptionWithLineBreaks", "a.rec", "ABC", "Title", "Line one\nLine two\r\nthree" },
        QuotingCase { "FileNameWithComma", "News, late.rec", "ABC", "Title", "Text" },
        QuotingCase { "FileNameWithQuoteAndBrackets", "The \"Best\" [HD].rec", "ABC", "Title", "Text" },
        QuotingCase { "ChannelWithQuoteOnly", "a.rec", "Channel \"4\"", "Title", "Text" },
        QuotingCase { "RawBytesAsStored", "\xE9t\xE9.rec", "Ch\xE2\x80\x99s", "\x86Title\x87", "\xFF\xFE" },
        QuotingCase { "FormulasGetAnApostrophe", "=cmd.rec", "+ABC", "=2*3", "-5 minutes",
            std::vector<std::string> { "'=cmd.rec", "'+ABC", "'=2*3", "'-5 minutes" } },
        QuotingCase { "FormulaWithQuotesAndCommas", "@home.rec", "@ABC", "=HYPERLINK(\"http://example.invalid\",\"click\")", "\tTabbed",
            std::vector<std::string> { "'@home.rec", "'@ABC", "'=HYPERLINK(\"http://example.invalid\",\"click\")", "'\tTabbed" } },
        QuotingCase { "CarriageReturnFirst", "a.rec", "\rABC", "Title", "\r\nText",
            std::vector<std::string> { "a.rec", "'\rABC", "Title", "'\r\nText" } },
        // A Filename of its own beginning with an apostrophe gets one more, which reading back takes off.
        QuotingCase { "FileNameWithApostrophe", "'quoted.rec", "ABC", "'Quoted'", "Text",
            std::vector<std::string> { "''quoted.rec", "ABC", "'Quoted'", "Text" } },
        QuotingCase { "FormulaSignsAfterTheStart", "a=b.rec", "A+B", "x-y", "mail@home",
            std::vector<std::string> { "a=b.rec", "A+B", "x-y", "mail@home" } },
        // A spreadsheet that trims spaces on import would run these.
        QuotingCase { "FormulaBehindSpacesAndTabs", "  =cmd.rec", " =1+1", "\t +ABC", " \t@home",
            std::vector<std::string> { "'  =cmd.rec", "' =1+1", "'\t +ABC", "' \t@home" } },
        QuotingCase { "SpacesBeforePlainText", " a.rec", "  ABC", " Title", "  " } ),
    [](const testing::TestParamInfo<QuotingCase>& info) { return std::string(info.param.name); });

TEST(CatalogueLine, FilenameInUtf8IsValidWhateverItsBytes)
{
    // A name in ISO 8859-1, as a recorder names a file after a title: its bytes read as that table's
    // characters in a UTF-8 catalogue, and written as they are in one that is not.
    EXPECT_EQ(parse_csv_record(catalogue_row("Caf\xE9.rec", header_of({}), TextEncoding::utf_8))[0], "Caf\xC3\xA9.rec");
    EXPECT_EQ(parse_csv_record(catalogue_row("Caf\xC3\xA9.rec", header_of({}), TextEncoding::utf_8))[0], "Caf\xC3\xA9.rec");
    EXPECT_EQ(parse_csv_record(catalogue_row("Caf\xE9.rec", header_of({})))[0], "Caf\xE9.rec");
}

TEST(CatalogueLine, FormulaRuleAppliesToTheTextAsWritten)
{
    // Stored, the text begins with its table's selector; decoded with -u, with the formula's sign.
    RecordingFields fields;
    fields.event_name = "\x15=2*3";
    std::vector<std::string> stored = parse_csv_record(catalogue_row("a.rec", header_of(fields)));
    std::vector<std::string> decoded = parse_csv_record(catalogue_row("a.rec", header_of(fields), TextEncoding::utf_8));
    EXPECT_EQ(stored[9], "\x15=2*3");
    EXPECT_EQ(decoded[9], "'=2*3");
}

TEST(CatalogueLine, NamedIso8859TableIsWrittenWholeWithoutItsSelector)
{
    // The selector 0x10 0x00 0xNN, whatever NN is, holds a zero byte that does not end the text; the
    // name's length still bounds it, and the catalogue never holds a zero byte.
    struct Named {
        std::string stored;
        std::optional<std::uint8_t> length;
        std::string written;
    };
    for (const Named& named : { Named { std::string("\x10\x00\x01" "Arte Fran\xE7" "ais", 16), std::nullopt, "Arte Fran\xE7" "ais" },
             Named { std::string("\x10\x00\x7F" "x", 4), std::nullopt, "x" },
             Named { std::string("\x10\x00\x05", 3), std::nullopt, "" },
             Named { std::string("\x10\x00\x01", 3), 2, "" },
             Named { std::string("\x10\x00\x01" "Arte", 7), 5, "Ar" },
             Named { std::string("\x10\x00\x01" "abc\0def", 10), std::nullopt, "abc" } }) {
        RecordingFields fields;
        fields.event_name = named.stored;
        fields.event_name_length = named.length;
        fields.channel_name = named.stored;
        std::string line = catalogue_row("a.rec", header_of(fields));
        std::vector<std::string> columns = parse_csv_record(line);
        EXPECT_EQ(columns[9], named.written) << line;
        if (!named.length) {
            EXPECT_EQ(columns[2], named.written) << line;
        }
        EXPECT_EQ(line.find('\0'), std::string::npos) << line;
    }
}

struct DecodingCase {
    const char* name;
    std::string stored;
    std::string utf8;
};

void PrintTo(const DecodingCase& decoding, std::ostream* stream) { *stream << decoding.name; }

class BroadcastText : public testing::TestWithParam<DecodingCase> { };

TEST_P(BroadcastText, DecodesToUtf8)
{
    EXPECT_EQ(decode_broadcast_text(GetParam().stored), GetParam().utf8);
}

// Expected characters from the tables of ISO/IEC 6937, 8859, 10646, KS X 1001, GB2312 and Big5.
INSTANTIATE_TEST_SUITE_P(CatalogueLine, BroadcastText,
    testing::Values(
        DecodingCase { "DefaultTablePlain", "News", "News" },
        DecodingCase { "DefaultTableDiaeresis", "M\xC8unchen", "M\u00FCnchen" },
        DecodingCase { "DefaultTableAcuteAndCedilla", "\xC2" "e\xCB" "c", "\u00E9\u00E7" },
        DecodingCase { "DefaultTableAccentBeforeASpace", "\xC8 \xCF ", "\u00A8\u02C7" },
        DecodingCase { "DefaultTableEuroSign", "\xA4" "5", "\u20AC" "5" },
        DecodingCase { "DefaultTableUndecodable", "\xC8" "1", "\uFFFD" "1" },
        DecodingCase { "DefaultTableMarkAtTheEnd", "caf\xC2", "caf\uFFFD" },
        DecodingCase { "DefaultTableMarkBeforeAMark", "\xC2\xC2" "e", "\uFFFD\u00E9" },
        DecodingCase { "DefaultTableUnassigned", "a\xA6" "b\xE5", "a\uFFFD" "b\uFFFD" },
        DecodingCase { "Iso8859Part5", "\x01\xB0\xD1", "\u0410\u0431" },
        DecodingCase { "Iso8859Part9", "\x05\xFD\xF0", "\u0131\u011F" },
        DecodingCase { "Iso8859Part15", "\x0B\xA4", "\u20AC" },
        DecodingCase { "Iso8859ByNumberPart2", std::string("\x10\x00\x02\xB1", 4), "\u0105" },
        DecodingCase { "Iso8859ByNumberPart12IsReservedAndDropped", std::string("\x10\x00\x0C" "caf\xC2" "e", 8), "caf\u00E9" },
        DecodingCase { "Iso8859ByNumberOutOfRangeIsDropped", std::string("\x10\x00\x20" "caf\xC2" "e", 8), "caf\u00E9" },
        DecodingCase { "SelectorAlone", std::string("\x10\x00\x01", 3), "" },
        DecodingCase { "TwoByteTable", std::string("\x11\x00\x41\x04\x10", 5), "A\u0410" },
        DecodingCase { "TwoByteControls", std::string("\x11\x00" "a\xE0\x8A\x00" "b\xE0\x86\x00" "c\xE0\x87", 13), "a\nbc" },
        DecodingCase { "TwoByteCutShort", std::string("\x11\x00\x41\x00", 4), "A\uFFFD" },
        DecodingCase { "KsX1001", "\x12\xB0\xA1", "\uAC00" },
        DecodingCase { "Gb2312", "\x13\xD6\xD0", "\u4E2D" },
        DecodingCase { "Big5", "\x14\xA4\xA4", "\u4E2D" },
        DecodingCase { "Utf8", "\x15" "Ca\xC3\xB1", "Ca\u00F1" },
        DecodingCase { "Utf8Undecodable", "\x15" "a\xFF", "a\uFFFD" },
        DecodingCase { "Utf8PastTheLastCodePoint", "\x15" "a\xF4\x90\x80\x80" "b", "a\uFFFD\uFFFD\uFFFD\uFFFD" "b" },
        DecodingCase { "ControlsDroppedButTheLineFeed", "a\x01\x09" "b\x0D\x0A" "c\x7F", "ab\nc" },
        DecodingCase { "EmphasisDropped", "\x86News\x87 at six", "News at six" },
        DecodingCase { "LineBreakCode", "Line\x8Atwo", "Line\ntwo" },
        DecodingCase { "OtherControlsDropped", "a\x80\x9F" "b", "ab" },
        DecodingCase { "ReservedSelectorDropped", "\x1F\x01x", "x" },
        DecodingCase { "ReservedOneByteSelectorDropped", "\x0C" "x", "x" }),
    [](const testing::TestParamInfo<DecodingCase>& info) { return std::string(info.param.name); });

#ifndef _WIN32
// What the system's own converter (the C library's ISO_6937) gave for the default table, before the
// program decoded it itself: each sequence that does not decode one U+FFFD, the next byte read on,
// and the euro sign at 0xA4, which the converter lacks, as the broadcast standard puts it there.
std::string default_table_by_the_system(std::string_view bytes)
{
    std::string utf8;
    iconv_t converter = ::iconv_open("UTF-8", "ISO_6937");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return "no converter";
    std::size_t run_start = 0;
    for (std::size_t index = 0; index <= bytes.size(); ++index) {
        if (index < bytes.size() && bytes[index] != '\xA4')
            continue;
        std::string run(bytes.substr(run_start, index - run_start));
        char* in = run.data();
        std::size_t in_left = run.size();
        while (in_left > 0) {
            char out_buffer[64];
            char* out = out_buffer;
            std::size_t out_left = sizeof out_buffer;
            std::size_t result = ::iconv(converter, &in, &in_left, &out, &out_left);
            utf8.append(out_buffer, static_cast<std::size_t>(out - out_buffer));
            if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
                utf8 += "\uFFFD";
                ++in;
                --in_left;
                ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
            }
        }
        if (index < bytes.size())
            utf8 += "\u20AC";
        run_start = index + 1;
    }
    ::iconv_close(converter);
    return utf8;
}

TEST(BroadcastText, DefaultTableGivesWhatTheSystemConverterGave)
{
    // Every sequence of one byte and of two: each single character, and each mark before every byte.
    std::size_t compared = 0;
    std::size_t differing = 0;
    for (unsigned first = 0; first < 256; ++first) {
        for (int second = -1; second < 256; ++second) {
            std::string bytes(1, static_cast<char>(first));
            if (second >= 0)
                bytes += static_cast<char>(second);
            std::string own;
            append_default_table(bytes, own);
            std::string system = default_table_by_the_system(bytes);
            ++compared;
            if (own != system && ++differing <= 5)
                ADD_FAILURE() << std::hex << first << " " << second << ": " << own << " against " << system;
        }
    }
    EXPECT_EQ(compared, 256u + 65536u);
    EXPECT_EQ(differing, 0u);
}
#endif

struct JsonTextCase {
    const char* name;
    std::string given;
    std::string written;  // between the quotes
};

void PrintTo(const JsonTextCase& text_case, std::ostream* stream) { *stream << text_case.name; }

class JsonText : public testing::TestWithParam<JsonTextCase> { };

TEST_P(JsonText, IsOneLineOfValidUtf8WhateverTheBytes)
{
    std::string written;
    append_json_string(written, GetParam().given);
    EXPECT_EQ(written, "\"" + GetParam().written + "\"");
    std::string line = JsonLine().text("t", GetParam().given).line();
    EXPECT_NO_THROW(parse_json_line(line)) << line;
}

INSTANTIATE_TEST_SUITE_P(Report, JsonText,
    testing::Values(JsonTextCase { "Plain", "News", "News" }, JsonTextCase { "QuoteAndBackslash", "a\"b\\c", "a\\\"b\\\\c" },
        JsonTextCase { "LineBreaksAndTab", "a\nb\rc\td", "a\\nb\\rc\\td" }, JsonTextCase { "OtherC0", std::string("\0\x01\x1f", 3), "\\u0000\\u0001\\u001f" },
        JsonTextCase { "Delete", "\x7f", "\\u007f" }, JsonTextCase { "C1", "\xC2\x80\xC2\x9F", "\\u0080\\u009f" },
        JsonTextCase { "LineAndParagraphSeparators", "\xE2\x80\xA8\xE2\x80\xA9", "\\u2028\\u2029" },
        JsonTextCase { "Accented", "M\xC3\xBCnchen \xE2\x82\xAC", "M\xC3\xBCnchen \xE2\x82\xAC" }, JsonTextCase { "Astral", "\xF0\x9F\x93\xBA", "\xF0\x9F\x93\xBA" },
        JsonTextCase { "Latin1Byte", "Caf\xE9", "Caf\xEF\xBF\xBD" }, JsonTextCase { "Overlong", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD" },
        JsonTextCase { "Surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" }, JsonTextCase { "PastTheLast", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" },
        JsonTextCase { "CutShort", "\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD" }),
    [](const testing::TestParamInfo<JsonTextCase>& info) { return std::string(info.param.name); });

TEST(Report, TimesAreIsoInUtcOrNull)
{
    EXPECT_EQ(iso_broadcast_time(0xC0790C2D), "1993-10-13T12:45Z");
    EXPECT_EQ(iso_broadcast_time(15079u << 16), "1900-03-01T00:00Z");
    EXPECT_EQ(iso_broadcast_time(0xFFFF173B), "2038-04-22T23:59Z");
    for (BroadcastTime no_time : { 0u, (15078u << 16) | 0x0C2D, 0xC0791800, 0xC0790C3C, 0xC079FFFF })
        EXPECT_EQ(iso_broadcast_time(no_time), std::nullopt) << std::hex << no_time;
}

TEST(Report, ObjectHoldsTheHeaderTypedAndTheCheck)
{
    RecordingFields fields;
    fields.channel_name = "M\xC8unchen";  // the default table's diaeresis
    fields.event_name = "\x15" "Caf\xC3\xA9";  // UTF-8 by its selector
    fields.end_time = 0xC0791800;  // hour 24: no time
    RecordingHeader header = header_of(fields);
    StreamReport check;
    check.packets = 7543;
    check.sync_losses = 1;
    check.bytes_skipped = 88;
    check.pcr_duration = 27000000ULL * 6 + 27000 * 40;
    ReportEntry entry { "recs/Caf\xE9.rec", "recs/Caf\xE9.rec", "video/Caf\xE9.ts", ReportOutcome::stream_only, std::nullopt, 1000, "list.csv",
        &header, &check };
    JsonObject object = parse_json_line(report_line(entry));
    EXPECT_EQ(object.at("recording").text(), "recs/Caf\xC3\xA9.rec");
    EXPECT_EQ(object.at("name").text(), "Caf\xC3\xA9.rec");
    EXPECT_EQ(object.at("ts").text(), "video/Caf\xC3\xA9.ts");
    EXPECT_EQ(object.at("outcome").text(), "stream_only");
    EXPECT_TRUE(object.at("reason").is_null());
    EXPECT_EQ(object.at("stream_bytes").number(), 1000);
    EXPECT_EQ(object.at("catalogue").text(), "list.csv");
    std::map<std::string, double> numbers { { "service_number", 12 }, { "service_type", 0 }, { "original_network_id", 0x2174 },
        { "transport_stream_id", 3 }, { "service_id", 0x0102 }, { "event_id", 0x1234 }, { "video_pid", 0xA0 }, { "audio_pid", 0xA1 },
        { "pcr_pid", 0xA0 }, { "pmt_pid", 0x64 }, { "duration_minutes", 75 } };
    for (const auto& [name, value] : numbers)
        EXPECT_EQ(object.at(name).number(), value) << name;
    EXPECT_EQ(object.at("start").text(), "1993-10-13T12:45Z");
    EXPECT_TRUE(object.at("end").is_null());
    EXPECT_EQ(object.at("channel").text(), "M\xC3\xBCnchen");
    EXPECT_EQ(object.at("program").text(), "Caf\xC3\xA9");
    EXPECT_EQ(object.at("description").text(), "Local news");
    const JsonObject& counts = object.at("check").object();
    EXPECT_EQ(counts.at("packets").number(), 7543);
    EXPECT_EQ(counts.at("sync_losses").number(), 1);
    EXPECT_EQ(counts.at("bytes_skipped").number(), 88);
    EXPECT_EQ(counts.at("continuity_errors").number(), 0);
    EXPECT_DOUBLE_EQ(counts.at("pcr_seconds").number(), 6.04);
    EXPECT_EQ(object.size(), 24U);

    // Never read: every field of the header is null, and so is the check without -s.
    ReportEntry unread { "gone.rec", "gone.rec", std::nullopt, ReportOutcome::failed, "cannot open gone.rec: No such file or directory",
        std::nullopt, "list.csv" };
    JsonObject failed = parse_json_line(report_line(unread));
    for (const auto& [name, value] : numbers)
        EXPECT_TRUE(failed.at(name).is_null()) << name;
    for (const char* name : { "ts", "stream_bytes", "start", "end", "channel", "program", "description", "check" })
        EXPECT_TRUE(failed.at(name).is_null()) << name;
    EXPECT_EQ(failed.at("reason").text(), "cannot open gone.rec: No such file or directory");
    EXPECT_EQ(failed.size(), 24U);
}

TEST(CatalogueLine, PlainTextsAreNotQuoted)
{
    std::string line = catalogue_row("dir/a b.rec", header_of({}));
    EXPECT_EQ(line.substr(0, 21), "dir/a b.rec,12,ABC,TV");
}

// The catalogue file.

// The catalogue step as a run makes it, its messages and any failure in words on a captured console.
struct CatalogueRun {
    ScratchFolder folder;
    CatalogueEntry entry { (folder / "list.csv").string(), "test.rec" };
    CapturedConsole console;
    ConsoleReporter reporter { console.console() };

    bool write_row(const RecordingFields& fields = {})
    {
        RecordingHeader header = header_of(fields);
        CatalogueFile catalogue;
        FilesOfTheRun files;
        CatalogueOutcome outcome = ensure_catalogue_header(entry, files, catalogue, reporter);
        if (outcome)
            outcome = append_catalogue_row(catalogue, entry, header, reporter);
        if (!outcome)
            reporter.error(outcome.error());
        return outcome.has_value();
    }

    std::string contents() const { return read_file_text(entry.catalogue_path); }
};

TEST(CatalogueFile, NewCatalogueGetsHeaderAndLine)
{
    CatalogueRun run;
    ASSERT_TRUE(run.write_row());
    const std::string& path = run.entry.catalogue_path;
    EXPECT_EQ(run.console.text(), "\ncreating " + path + "\nappending " + path);
    EXPECT_EQ(run.contents(), std::string(catalogue_header_line()) + example_line);
}

TEST(CatalogueFile, ExistingCatalogueGainsOneLineAtTheEnd)
{
    CatalogueRun run;
    std::string existing = std::string(catalogue_header_line()) + "older line,\n";
    write_file(run.entry.catalogue_path, existing);
    ASSERT_TRUE(run.write_row());
    EXPECT_EQ(run.console.text(), "\nappending " + run.entry.catalogue_path);
    EXPECT_EQ(run.contents(), existing + example_line);
}

TEST(CatalogueFile, LineCutShortEarlierIsEndedFirst)
{
    // A crash or another program left the last line without its line feed, perhaps inside a quoted
    // field that may itself hold line breaks and doubled quotes.
    for (auto [torn, ending] : { std::pair<std::string, std::string> { "older li", "\n" },
             { "older.rec,1,ABC,TV,\"Line one\nLine tw", "\"\n" },
             { "older.rec,1,ABC,TV,\"The \"\"Big\"\" Ma", "\"\n" },
             { "older.rec,1,ABC,TV,\"Title\",0001", "\n" } }) {
        CatalogueRun run;
        std::string existing = std::string(catalogue_header_line()) + torn;
        write_file(run.entry.catalogue_path, existing);
        ASSERT_TRUE(run.write_row());
        EXPECT_EQ(run.contents(), existing + ending + example_line) << torn;
    }
}

TEST(CatalogueFile, AppendFlagClearedStartsAfresh)
{
    CatalogueRun run;
    write_file(run.entry.catalogue_path, std::string(catalogue_header_line()) + "older line,\nanother,\n");
    run.entry.start_afresh = true;
    ASSERT_TRUE(run.write_row());
    const std::string& path = run.entry.catalogue_path;
    EXPECT_EQ(run.console.text(), "\ncreating " + path + "\nkept 2 old lines in " + path + "~\nappending " + path);
    EXPECT_EQ(run.contents(), std::string(catalogue_header_line()) + example_line);
    EXPECT_EQ(read_file_text(path + "~"), std::string(catalogue_header_line()) + "older line,\nanother,\n");
}

#ifndef _WIN32
TEST(CatalogueFile, StartingAfreshWithoutACopyEmptiesNothing)
{
    // The copy's place is a link into a folder that is not there: -a fails, and the catalogue stays.
    CatalogueRun run;
    const std::string older = std::string(catalogue_header_line()) + "older line,\n";
    write_file(run.entry.catalogue_path, older);
    std::filesystem::create_symlink("missing/list.csv", run.entry.catalogue_path + "~");
    run.entry.start_afresh = true;
    EXPECT_FALSE(run.write_row());
    const std::string& path = run.entry.catalogue_path;
    EXPECT_EQ(run.console.text(), "\ncreating " + path + "\nerror: cannot write " + path + "~: No such file or directory");
    EXPECT_EQ(run.contents(), older);
}
#endif

TEST(CatalogueFile, EmptyExistingFileGetsTheHeaderFirst)
{
    CatalogueRun run;
    write_file(run.entry.catalogue_path, std::string());
    ASSERT_TRUE(run.write_row());
    EXPECT_EQ(run.contents(), std::string(catalogue_header_line()) + example_line);
}

TEST(CatalogueFile, Utf8MarkDecidesHowLinesAreWritten)
{
    // A title in the default table: as stored it is the byte 0xE9, in UTF-8 the two bytes of é.
    RecordingFields fields;
    fields.event_name = "Caf\xC2" "e";
    const std::string header = std::string(catalogue_header_line());
    const std::string mark = std::string(utf8_mark);
    const std::string older = "older.rec,line,\n";
    auto line = [&fields](TextEncoding encoding) { return catalogue_row("test.rec", header_of(fields), encoding); };
    struct Case {
        const char* name;
        std::optional<std::string> existing;
        TextEncoding encoding;
        bool start_afresh;
        std::string expected;  // empty when the catalogue is refused
    };
    for (const Case& mark_case : {
             Case { "new with -u gets the mark", std::nullopt, TextEncoding::utf_8, false, mark + header + line(TextEncoding::utf_8) },
             Case { "new without -u gets none", std::nullopt, TextEncoding::as_stored, false, header + line(TextEncoding::as_stored) },
             Case { "marked is written in UTF-8 without -u", mark + header + older, TextEncoding::as_stored, false,
                 mark + header + older + line(TextEncoding::utf_8) },
             Case { "unmarked made by -u stays so", header + older, TextEncoding::utf_8, false, header + older + line(TextEncoding::utf_8) },
             Case { "unmarked without -u as today", header + older, TextEncoding::as_stored, false, header + older + line(TextEncoding::as_stored) },
             Case { "the mark alone counts as empty", mark, TextEncoding::as_stored, false, mark + header + line(TextEncoding::utf_8) },
             Case { "emptied with -u gets the mark", header + older, TextEncoding::utf_8, true, mark + header + line(TextEncoding::utf_8) },
             Case { "emptied without -u loses it", mark + header + older, TextEncoding::as_stored, true, header + line(TextEncoding::as_stored) },
             Case { "the mark before anything else is no catalogue", mark + "Filename,Camera,\n", TextEncoding::utf_8, false, "" } }) {
        CatalogueRun run;
        if (mark_case.existing)
            write_file(run.entry.catalogue_path, *mark_case.existing);
        run.entry.encoding = mark_case.encoding;
        run.entry.start_afresh = mark_case.start_afresh;
        bool written = run.write_row(fields);
        if (mark_case.expected.empty()) {
            EXPECT_FALSE(written) << mark_case.name;
            EXPECT_EQ(run.contents(), *mark_case.existing) << mark_case.name;
            EXPECT_TRUE(run.console.text().ends_with("it is not a catalogue")) << mark_case.name;
        } else {
            EXPECT_TRUE(written) << mark_case.name << run.console.text();
            EXPECT_EQ(run.contents(), mark_case.expected) << mark_case.name;
        }
    }
}

TEST(CatalogueFile, LockIsHeldFromTheStartAfreshToTheLine)
{
    // A run with -a has emptied the catalogue and not yet written; another run must wait for its line.
    CatalogueRun afresh;
    write_file(afresh.entry.catalogue_path, std::string(catalogue_header_line()) + "older line,\n");
    afresh.entry.start_afresh = true;
    afresh.entry.filename = "first.rec";
    CatalogueFile held;
    FilesOfTheRun files;
    ASSERT_TRUE(ensure_catalogue_header(afresh.entry, files, held, afresh.reporter));

    std::thread other([&afresh] {
        CatalogueRun second;
        second.entry.catalogue_path = afresh.entry.catalogue_path;
        second.entry.filename = "second.rec";
        EXPECT_TRUE(second.write_row());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(afresh.contents(), "") << "the other run wrote while the lock was held";
    ASSERT_TRUE(append_catalogue_row(held, afresh.entry, header_of({}), afresh.reporter));
    other.join();
    std::string first_line = example_line;
    first_line.replace(0, 8, "first.rec");
    std::string second_line = example_line;
    second_line.replace(0, 8, "second.rec");
    EXPECT_EQ(afresh.contents(), std::string(catalogue_header_line()) + first_line + second_line);
}

// POSIX only: file modes, users and /dev/full.
#ifndef _WIN32
// Runs `work` as an unprivileged user when the tests run as root, who may read any file; true when it
// returned true.
bool as_unprivileged_user(const std::filesystem::path& folder, const std::function<bool()>& work)
{
    if (::geteuid() != 0)
        return work();
    constexpr uid_t nobody = 65534;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (::chown(entry.path().c_str(), nobody, nobody) != 0)
            return false;
    if (::chown(folder.c_str(), nobody, nobody) != 0)
        return false;
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(2);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(CatalogueFile, UnreadableCatalogueIsStillAppendedToNotTruncated)
{
    CatalogueRun run;
    std::string existing = std::string(catalogue_header_line()) + "older line,\n";
    write_file(run.entry.catalogue_path, existing);
    ASSERT_EQ(::chmod(run.entry.catalogue_path.c_str(), 0200), 0);
    EXPECT_TRUE(as_unprivileged_user(run.folder.path(), [&run] {
        // The unprivileged user must really be unable to read it, or the test shows nothing.
        return ::access(run.entry.catalogue_path.c_str(), R_OK) != 0 && run.write_row()
            && run.console.text() == "\nappending " + run.entry.catalogue_path;
    }));
    ASSERT_EQ(::chmod(run.entry.catalogue_path.c_str(), 0600), 0);
    EXPECT_EQ(run.contents(), existing + example_line);
}

#endif

TEST(CatalogueFile, DirectoryCannotBeOpened)
{
    CatalogueRun run;
    run.entry.catalogue_path = run.folder.path().string();
    EXPECT_FALSE(run.write_row());
    const std::string& path = run.entry.catalogue_path;
    EXPECT_EQ(run.console.text(), "\nappending " + path + "\nerror: cannot open " + path + ": Is a directory");
}

#ifndef _WIN32
TEST(CatalogueFile, FullDeviceIsAWriteError)
{
    for (bool append : { true, false }) {
        CatalogueRun run;
        run.entry.catalogue_path = "/dev/full";
        run.entry.start_afresh = !append;
        EXPECT_FALSE(run.write_row());
        EXPECT_EQ(run.console.text(), (append ? "\nappending /dev/full" : "\ncreating /dev/full\nappending /dev/full") + std::string("\nerror: cannot write /dev/full: No space left on device"));
    }
}
#endif

TEST(CatalogueFile, RunsSideBySideKeepOneHeaderAndEveryLineWhole)
{
    constexpr int writers = 8;
    constexpr int rows_each = 25;
    for (int round = 0; round < 10; ++round) {
        ScratchFolder folder;
        std::string path = (folder / "list.csv").string();
        std::vector<std::thread> threads;
        for (int writer = 0; writer < writers; ++writer) {
            threads.emplace_back([&path, writer] {
                CatalogueEntry entry { path, "" };
                CapturedConsole console;
                ConsoleReporter reporter { console.console() };
                RecordingFields fields;
                fields.event_description = std::string(3000, static_cast<char>('a' + writer));
                RecordingHeader header = header_of(fields);
                for (int row = 0; row < rows_each; ++row) {
                    entry.filename = "writer" + std::to_string(writer) + "-" + std::to_string(row) + ".rec";
                    CatalogueFile catalogue;
                    FilesOfTheRun files;
                    ASSERT_TRUE(ensure_catalogue_header(entry, files, catalogue, reporter));
                    ASSERT_TRUE(append_catalogue_row(catalogue, entry, header, reporter));
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();

        std::string contents = read_file_text(path);
        ASSERT_EQ(contents.substr(0, catalogue_header_line().size()), catalogue_header_line());
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; start < contents.size(); start = end + 1) {
            end = contents.find('\n', start);
            lines.push_back(contents.substr(start, end - start));
        }
        ASSERT_EQ(lines.size(), 1u + writers * rows_each);
        std::set<std::string> names;
        for (std::size_t index = 1; index < lines.size(); ++index) {
            std::vector<std::string> columns = parse_csv_record(lines[index] + "\n");
            ASSERT_EQ(columns.size(), 20u);
            std::string name = columns[0];
            char letter = static_cast<char>('a' + (name[6] - '0'));
            ASSERT_EQ(columns[18], std::string(3000, letter)) << "line " << index << " is not whole";
            names.insert(name);
        }
        EXPECT_EQ(names.size(), static_cast<std::size_t>(writers * rows_each));
    }
}

}
