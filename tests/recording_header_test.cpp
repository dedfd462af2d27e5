#include "recording/recording_header.h"

#include "platform/file.h"
#include "support/recording_builder.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cerrno>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

std::optional<RecordingHeader> parse(const std::vector<std::uint8_t>& bytes)
{
    return RecordingHeader::parse(bytes);
}

TEST(RecordingHeader, AcceptsWellFormedHeaderAndReadsEveryField)
{
    RecordingFields fields;
    fields.duration_hours = 2;
    fields.duration_minutes = 59;
    fields.service_number = 65535;
    fields.service_type = 1;
    fields.service_id = 0xBEEF;
    fields.pmt_pid = 0x0101;
    fields.pcr_pid = 0x0202;
    fields.video_pid = 0x0303;
    fields.audio_pid = 0x0404;
    fields.channel_name = "Channel \xC3\xA9";
    fields.transport_stream_id = 0xFFFF;
    fields.original_network_id = 0x8001;
    fields.event_id = 0xFEDC;
    fields.start_time = 0xC0790C2D;
    fields.end_time = 0x12345678;
    fields.event_name = "Title";
    fields.event_description = "Story, \"quoted\"";

    std::optional<RecordingHeader> header = parse(build_recording(fields));
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->duration_hours(), 2u);
    EXPECT_EQ(header->duration_minutes(), 59u);
    EXPECT_EQ(header->service_number(), 65535u);
    EXPECT_EQ(header->service_type(), 1u);
    EXPECT_EQ(header->service_id(), 0xBEEFu);
    EXPECT_EQ(header->pmt_pid(), 0x0101u);
    EXPECT_EQ(header->pcr_pid(), 0x0202u);
    EXPECT_EQ(header->video_pid(), 0x0303u);
    EXPECT_EQ(header->audio_pid(), 0x0404u);
    EXPECT_EQ(header->channel_name(), "Channel \xC3\xA9");
    EXPECT_EQ(header->transport_stream_id(), 0xFFFFu);
    EXPECT_EQ(header->original_network_id(), 0x8001u);
    EXPECT_EQ(header->event_id(), 0xFEDCu);
    EXPECT_EQ(header->start_time(), 0xC0790C2Du);
    EXPECT_EQ(header->end_time(), 0x12345678u);
    EXPECT_EQ(header->event_name(), "Title");
    EXPECT_EQ(header->event_description(), "Story, \"quoted\"");
}

TEST(RecordingHeader, AcceptsBothFormatVersions)
{
    for (std::uint16_t version : { std::uint16_t { 0x5000 }, std::uint16_t { 0x5010 } }) {
        RecordingFields fields;
        fields.format_version = version;
        EXPECT_TRUE(parse(build_recording(fields)).has_value()) << std::hex << version;
    }
}

struct RejectionCase {
    const char* name;
    void (*spoil)(std::vector<std::uint8_t>& bytes);
    HeaderRejection rejection;
};

void PrintTo(const RejectionCase& rejection_case, std::ostream* stream) { *stream << rejection_case.name; }

const std::vector<RejectionCase> rejection_cases = {
    { "LowercaseMagic", [](auto& bytes) { bytes[0] = 't'; bytes[1] = 'f'; }, HeaderRejection::wrong_magic },
    { "MagicOffByOneByte", [](auto& bytes) { bytes[3] = 'C'; }, HeaderRejection::wrong_magic },
    { "VersionLeastSignificantByteFirst", [](auto& bytes) { put_u16(bytes, 4, 0x0050); }, HeaderRejection::unknown_version },
    { "UnknownVersion", [](auto& bytes) { put_u16(bytes, 4, 0x5001); }, HeaderRejection::unknown_version },
    { "VersionZero", [](auto& bytes) { put_u16(bytes, 4, 0); }, HeaderRejection::unknown_version },
    { "SyncByteMissing", [](auto& bytes) { bytes[3760] = 0x00; }, HeaderRejection::no_stream },
    { "SyncByteWrong", [](auto& bytes) { bytes[3760] = 0x48; }, HeaderRejection::no_stream },
    { "EndsAtHeaderArea", [](auto& bytes) { bytes.resize(3760); }, HeaderRejection::too_short },
    // Cut short inside the header: the length is told before the missing sync byte.
    { "ShortFile", [](auto& bytes) { bytes.resize(100); }, HeaderRejection::too_short },
    // A copy cut short anywhere, even to nothing, is told from a file that is no recording.
    { "EmptyFile", [](auto& bytes) { bytes.clear(); }, HeaderRejection::too_short },
    { "TwoBytesOfTheMagic", [](auto& bytes) { bytes.resize(2); }, HeaderRejection::too_short },
    { "CutInsideTheVersion", [](auto& bytes) { bytes.resize(5); }, HeaderRejection::too_short },
    { "TwoBytesOfSomethingElse", [](auto& bytes) { bytes = { 'P', 'K' }; }, HeaderRejection::wrong_magic },
    { "ShortWithAnUnknownVersion", [](auto& bytes) { put_u16(bytes, 4, 0x0050); bytes.resize(100); }, HeaderRejection::unknown_version },
};

class RejectedRecording : public testing::TestWithParam<RejectionCase> { };

TEST_P(RejectedRecording, IsRefused)
{
    std::vector<std::uint8_t> bytes = build_recording({}, 1000);
    GetParam().spoil(bytes);
    HeaderCheck check = RecordingHeader::check(bytes);
    EXPECT_FALSE(check.header.has_value());
    EXPECT_EQ(check.rejection, GetParam().rejection);
}

INSTANTIATE_TEST_SUITE_P(RecordingHeader, RejectedRecording, testing::ValuesIn(rejection_cases),
    [](const testing::TestParamInfo<RejectionCase>& info) { return std::string(info.param.name); });

TEST(RecordingHeader, AcceptsRecordingOfOneStreamByte)
{
    std::vector<std::uint8_t> bytes = build_recording();
    ASSERT_EQ(bytes.size(), 3761u);
    std::optional<RecordingHeader> header = parse(bytes);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->channel_name(), "ABC");
}

TEST(RecordingHeader, MasksPidsToThirteenBitsAndLeavesIdentifiersWhole)
{
    RecordingFields fields;
    fields.pmt_pid = fields.pcr_pid = fields.video_pid = fields.audio_pid = 0xE100;
    fields.service_id = fields.transport_stream_id = fields.original_network_id = fields.event_id = 0xE100;
    std::optional<RecordingHeader> header = parse(build_recording(fields));
    ASSERT_TRUE(header.has_value());
    for (unsigned pid : { header->pmt_pid(), header->pcr_pid(), header->video_pid(), header->audio_pid() })
        EXPECT_EQ(pid, 0x0100u);
    for (unsigned identifier : { header->service_id(), header->transport_stream_id(), header->original_network_id(), header->event_id() })
        EXPECT_EQ(identifier, 0xE100u);
}

TEST(RecordingHeader, EmptyEventNameLeavesDescriptionAtOffset91)
{
    RecordingFields fields;
    fields.event_name = "";
    fields.event_description = "Only a description";
    std::vector<std::uint8_t> bytes = build_recording(fields);
    ASSERT_EQ(bytes[91], 'O');
    std::optional<RecordingHeader> header = parse(bytes);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->event_name(), "");
    EXPECT_EQ(header->event_description(), "Only a description");
}

TEST(RecordingHeader, EventNameEndsAtZeroByteButDescriptionStartsAfterLBytes)
{
    RecordingFields fields;
    fields.event_name = std::string("Ne\0ws", 5);
    fields.event_description = "After";
    std::optional<RecordingHeader> header = parse(build_recording(fields));
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->event_name(), "Ne");
    EXPECT_EQ(header->event_description(), "After");
}

TEST(RecordingHeader, EventNameTakesOnlyLBytes)
{
    RecordingFields fields;
    fields.event_name = "Headlines";
    fields.event_name_length = 4;
    fields.event_description = "lines";
    std::optional<RecordingHeader> header = parse(build_recording(fields));
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->event_name(), "Head");
    EXPECT_EQ(header->event_description(), "lines");
}

TEST(RecordingHeader, UnterminatedTextsEndAtTheBlock)
{
    std::vector<std::uint8_t> bytes = build_recording({}, 1000);
    std::fill(bytes.begin() + 28, bytes.begin() + 64, 'c');  // channel name runs into the next fields
    std::fill(bytes.begin() + 91 + 4, bytes.end(), 'd');     // description runs over the sync byte
    bytes[3760] = 0x47;
    std::optional<RecordingHeader> header = parse(bytes);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->event_description().size(), header_block_size - 95);
    EXPECT_EQ(header->event_description().front(), 'd');
    EXPECT_EQ(header->channel_name().substr(0, 36), std::string(36, 'c'));
}

TEST(RecordingHeader, TextsEndWhereTheFileEnds)
{
    std::vector<std::uint8_t> bytes = build_recording({}, 200);
    std::fill(bytes.begin() + 95, bytes.end(), 'd');
    bytes[3760] = 0x47;
    std::optional<RecordingHeader> header = parse(bytes);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->event_description().size(), bytes.size() - 95);
}

TEST(RecordingHeader, ReadsFromOpenFileWhateverItsSize)
{
    ScratchFolder folder;
    for (std::size_t stream_length : { std::size_t { 1 }, std::size_t { 400 }, std::size_t { 10000 } }) {
        write_file(folder / "a.rec", build_recording({}, stream_length));
        File input = open_for_reading((folder / "a.rec").string());
        ASSERT_TRUE(input.is_open());
        std::optional<RecordingHeader> header = read_recording_header(input.native())->header;
        ASSERT_TRUE(header.has_value()) << stream_length;
        EXPECT_EQ(header->event_name(), "News");
    }
}

TEST(RecordingHeader, UnreadableInputIsAReadErrorNotABadFile)
{
    ScratchFolder folder;
    File directory = open_for_reading(folder.path().string());
    ASSERT_TRUE(directory.is_open());
    Expected<HeaderCheck, int> reading = read_recording_header(directory.native());
    ASSERT_FALSE(reading);
    EXPECT_EQ(reading.error(), EISDIR);
}

#ifndef _WIN32
TEST(RecordingHeader, PipeIsReadInOrderAndKeepsTheStreamStart)
{
    // Written in two parts so that the header needs more than one read.
    std::vector<std::uint8_t> recording = build_recording({}, 1000);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    File read_end { ends[0] };
    ASSERT_EQ(::write(ends[1], recording.data(), 2000), 2000);
    ASSERT_EQ(::write(ends[1], recording.data() + 2000, recording.size() - 2000), static_cast<ssize_t>(recording.size() - 2000));
    ::close(ends[1]);

    Expected<HeaderCheck, int> reading = read_recording_header(read_end.native());
    ASSERT_TRUE(reading && reading->header.has_value());
    std::span<const std::uint8_t> start = reading->header->stream_start();
    EXPECT_TRUE(std::equal(start.begin(), start.end(), recording.begin() + 3760, recording.begin() + 4188));
    EXPECT_EQ(start.size(), 428u);
    std::uint8_t next = 0;
    EXPECT_EQ(::read(ends[0], &next, 1), 1);
    EXPECT_EQ(next, recording[4188]) << "the pipe was not left just past the block";
}
#endif

}
