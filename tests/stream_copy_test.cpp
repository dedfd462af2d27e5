#include "recording/stream_copy.h"

#include "platform/file.h"
#include "recording/stream_check.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>
#include <optional>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

constexpr std::uint64_t chunk = 8;

#ifdef PELORUS_KERNEL_COPY
constexpr bool kernel_copy_built = true;
#else
constexpr bool kernel_copy_built = false;
#endif
constexpr std::size_t lead_in = 5;  // bytes before the stream that must not be copied

std::vector<std::uint8_t> stream_of(std::size_t length)
{
    std::vector<std::uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t { 1 });
    return bytes;
}

std::uint64_t expected_reports(std::uint64_t length)
{
    return (length + chunk - 1) / chunk + 1;
}

// One copy between two real files in a scratch folder, with calls a test may replace.
class CopyFixture {
public:
    explicit CopyFixture(std::size_t stream_length, bool append_output = false)
        : stream_(stream_of(stream_length))
    {
        std::vector<std::uint8_t> input_bytes(lead_in + stream_.size(), 0xEE);
        std::copy(stream_.begin(), stream_.end(), input_bytes.begin() + lead_in);
        write_file(folder_ / "input", input_bytes);
        input_ = open_for_reading((folder_ / "input").string());
        std::string output = (folder_ / "output").string();
        output_ = append_output ? open_for_appending(output).file : open_for_writing(output);
        settings.chunk_size = chunk;
        settings.piece_size = 3;
    }

    CopyResult copy()
    {
        std::vector<std::byte> buffer(chunk);
        return copy(buffer);
    }

    CopyResult copy(std::span<std::byte> buffer)
    {
        return copy_stream({ input_.native(), lead_in, false, {} }, output_.native(), buffer, settings, calls, [this] { ++reports; });
    }

    std::vector<std::uint8_t> output() const { return read_file_bytes(folder_ / "output"); }
    const std::vector<std::uint8_t>& stream() const { return stream_; }
    NativeHandle input_handle() const { return input_.native(); }

    StreamCopySettings settings;
    StreamCopyCalls calls = StreamCopyCalls::system();
    std::uint64_t reports = 0;

private:
    ScratchFolder folder_;
    std::vector<std::uint8_t> stream_;
    File input_;
    File output_;
};

struct LengthCase {
    std::size_t length;
    CopyMethod method;
};

void PrintTo(const LengthCase& length_case, std::ostream* stream)
{
    *stream << length_case.length << (length_case.method == CopyMethod::buffered ? " buffered" : " kernel first");
}

class CopyLength : public testing::TestWithParam<LengthCase> { };

TEST_P(CopyLength, CopiesEveryByteAndReportsEachChunkAndTheEnd)
{
    CopyFixture fixture(GetParam().length);
    fixture.settings.method = GetParam().method;
    CopyResult result = fixture.copy();
    EXPECT_EQ(result.outcome(), CopyOutcome::complete);
    EXPECT_EQ(result.bytes_copied, GetParam().length);
    EXPECT_EQ(fixture.output(), fixture.stream());
    EXPECT_EQ(fixture.reports, expected_reports(GetParam().length));
}

std::vector<LengthCase> length_cases()
{
    std::vector<LengthCase> cases;
    for (CopyMethod method : { CopyMethod::buffered, CopyMethod::kernel_first })
        for (std::size_t length : std::vector<std::size_t> { 0, 1, 2, 7, 8, 9, 16, 26 })
            cases.push_back({ length, method });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(StreamCopy, CopyLength, testing::ValuesIn(length_cases()));

TEST(StreamCopy, ExactlyOneFullChunkIsReportedTwice)
{
    for (CopyMethod method : { CopyMethod::buffered, CopyMethod::kernel_first }) {
        CopyFixture fixture(default_chunk_size);
        fixture.settings = StreamCopySettings {};
        fixture.settings.method = method;
        std::vector<std::byte> buffer(fixture.settings.piece_size);
        CopyResult result = fixture.copy(buffer);
        EXPECT_EQ(result.bytes_copied, default_chunk_size);
        EXPECT_EQ(fixture.reports, 2u);
        EXPECT_EQ(fixture.output(), fixture.stream());
    }
}

// Buffered copy under the system's usual behaviour and under failures.

TEST(StreamCopy, ContinuesShortReadsAndShortWrites)
{
    CopyFixture fixture(26);
    fixture.settings.method = CopyMethod::buffered;
    fixture.calls.read_at = [](NativeHandle file, void* buffer, std::size_t, std::uint64_t offset) {
        return read_at(file, buffer, 1, offset);
    };
    int writes = 0;
    fixture.calls.write = [&writes](NativeHandle file, const void* data, std::size_t length) {
        ++writes;
        return write_some(file, data, (length + 1) / 2);
    };
    CopyResult result = fixture.copy();
    EXPECT_EQ(result.outcome(), CopyOutcome::complete);
    EXPECT_EQ(fixture.output(), fixture.stream());
    EXPECT_EQ(fixture.reports, expected_reports(26));
    EXPECT_EQ(writes, 26);
}

struct FailureCase {
    const char* name;
    bool fail_read;  // else the write fails
    int call_number;
    int error_number;
};

void PrintTo(const FailureCase& failure_case, std::ostream* stream) { *stream << failure_case.name; }

class BufferedCopyFailure : public testing::TestWithParam<FailureCase> { };

TEST_P(BufferedCopyFailure, StopsAndSaysWhichSideFailed)
{
    const FailureCase& failure = GetParam();
    CopyFixture fixture(20);
    fixture.settings.method = CopyMethod::buffered;
    int reads = 0;
    int writes = 0;
    fixture.calls.read_at = [&](NativeHandle file, void* buffer, std::size_t length, std::uint64_t offset) -> std::int64_t {
        if (failure.fail_read && ++reads == failure.call_number) {
            errno = failure.error_number;
            return -1;
        }
        return read_at(file, buffer, length, offset);
    };
    fixture.calls.write = [&](NativeHandle file, const void* data, std::size_t length) -> std::int64_t {
        if (!failure.fail_read && ++writes == failure.call_number) {
            errno = failure.error_number;
            return failure.error_number == 0 ? 0 : -1;
        }
        return write_some(file, data, length);
    };
    CopyResult result = fixture.copy();
    EXPECT_EQ(result.outcome(), failure.fail_read ? CopyOutcome::read_failed : CopyOutcome::write_failed);
    EXPECT_EQ(result.ended.error().error_number, failure.error_number == 0 ? EIO : failure.error_number);
    // What was reported copied is exactly what the output holds, and it is the start of the stream.
    std::vector<std::uint8_t> output = fixture.output();
    EXPECT_EQ(result.bytes_copied, output.size());
    EXPECT_EQ(output, std::vector<std::uint8_t>(fixture.stream().begin(), fixture.stream().begin() + static_cast<std::ptrdiff_t>(output.size())));
    EXPECT_LT(output.size(), fixture.stream().size());
}

INSTANTIATE_TEST_SUITE_P(StreamCopy, BufferedCopyFailure,
    testing::Values(FailureCase { "FirstReadFails", true, 1, EIO }, FailureCase { "LaterReadFails", true, 4, EIO },
        FailureCase { "FirstWriteFindsDiskFull", false, 1, ENOSPC }, FailureCase { "LaterWriteFails", false, 3, EIO },
        FailureCase { "WriteMovesNothing", false, 2, 0 }),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(StreamCopy, StopAskedBetweenPiecesEndsTheCopyThere)
{
    for (CopyMethod method : { CopyMethod::buffered, CopyMethod::kernel_first }) {
        CopyFixture fixture(26);
        fixture.settings.method = method;
        int asked = 0;
        fixture.settings.stop_requested = [&asked] { return ++asked == 2; };
        CopyResult result = fixture.copy();
        EXPECT_EQ(result.outcome(), CopyOutcome::stopped);
        EXPECT_EQ(result.ended.error().error_number, EINTR);
        EXPECT_EQ(asked, 2) << "nothing more is copied once the stop is asked for";
        std::vector<std::uint8_t> output = fixture.output();
        EXPECT_EQ(result.bytes_copied, output.size());
        EXPECT_GT(output.size(), 0U);
        EXPECT_LT(output.size(), fixture.stream().size());
        EXPECT_EQ(output, std::vector<std::uint8_t>(fixture.stream().begin(), fixture.stream().begin() + static_cast<std::ptrdiff_t>(output.size())));
    }
}

TEST(StreamCopy, EmptyBufferIsAnErrorNotAnEmptyStream)
{
    CopyFixture fixture(10);
    fixture.settings.method = CopyMethod::buffered;
    fixture.settings.piece_size = 0;
    EXPECT_EQ(fixture.copy().outcome(), CopyOutcome::read_failed);
}

#ifdef PELORUS_KERNEL_COPY
std::int64_t fail_with(int error_number)
{
    errno = error_number;
    return -1;
}

// The kernel path: used only where it applies, and handing over to the buffered copy where the kernel
// declines, from the exact offset reached.

struct KernelCalls {
    int input_splices = 0;
    int output_splices = 0;
    int buffered_reads = 0;
};

using KernelMove = std::function<std::int64_t(bool from_input, int call_number, NativeHandle in, NativeHandle out)>;

void count_calls(CopyFixture& fixture, KernelCalls& counts, KernelMove move)
{
    NativeHandle input = fixture.input_handle();
    fixture.calls.kernel_move = [&counts, input, move](NativeHandle in, std::int64_t* in_offset, NativeHandle out, std::size_t length) {
        bool from_input = in == input;
        int call_number = from_input ? ++counts.input_splices : ++counts.output_splices;
        std::int64_t result = move(from_input, call_number, in, out);
        if (result == -2)
            return kernel_move(in, in_offset, out, length);
        return result;
    };
    fixture.calls.read_at = [&counts](NativeHandle file, void* buffer, std::size_t length, std::uint64_t offset) {
        ++counts.buffered_reads;
        return read_at(file, buffer, length, offset);
    };
}

constexpr std::int64_t pass_through = -2;

TEST(StreamCopy, KernelPathDoesTheWholeCopyWhenAllowed)
{
    CopyFixture fixture(26);
    KernelCalls counts;
    count_calls(fixture, counts, [](bool, int, NativeHandle, NativeHandle) { return pass_through; });
    CopyResult result = fixture.copy();
    EXPECT_EQ(result.outcome(), CopyOutcome::complete);
    EXPECT_EQ(fixture.output(), fixture.stream());
    EXPECT_EQ(fixture.reports, expected_reports(26));
    EXPECT_GT(counts.input_splices, 0);
    EXPECT_EQ(counts.buffered_reads, 0);
}

struct RefusalCase {
    const char* name;
    bool on_input;
    int call_number;
    int error_number;
};

void PrintTo(const RefusalCase& refusal, std::ostream* stream) { *stream << refusal.name; }

class KernelRefusal : public testing::TestWithParam<RefusalCase> { };

TEST_P(KernelRefusal, BufferedCopyContinuesFromTheExactOffset)
{
    const RefusalCase& refusal = GetParam();
    CopyFixture fixture(26);
    KernelCalls counts;
    count_calls(fixture, counts, [&refusal](bool from_input, int call_number, NativeHandle, NativeHandle) {
        if (from_input == refusal.on_input && call_number == refusal.call_number)
            return fail_with(refusal.error_number);
        return pass_through;
    });
    CopyResult result = fixture.copy();
    EXPECT_EQ(result.outcome(), CopyOutcome::complete);
    EXPECT_EQ(result.bytes_copied, 26u);
    EXPECT_EQ(fixture.output(), fixture.stream());
    EXPECT_EQ(fixture.reports, expected_reports(26));
    EXPECT_GT(counts.buffered_reads, 0);
}

INSTANTIATE_TEST_SUITE_P(StreamCopy, KernelRefusal,
    testing::Values(RefusalCase { "RefusedAtTheStart", true, 1, EINVAL }, RefusalCase { "CrossDeviceAtTheStart", true, 1, EXDEV },
        RefusalCase { "RefusedInTheMiddle", true, 3, EOPNOTSUPP }, RefusalCase { "OutputRefusedAtTheStart", false, 1, EINVAL },
        RefusalCase { "OutputRefusedInTheMiddle", false, 2, EPERM }),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(StreamCopy, KernelPathContinuesPartialDrains)
{
    CopyFixture fixture(26);
    KernelCalls counts;
    count_calls(fixture, counts, [](bool from_input, int, NativeHandle in, NativeHandle out) -> std::int64_t {
        if (!from_input)
            return kernel_move(in, nullptr, out, 1);
        return pass_through;
    });
    CopyResult result = fixture.copy();
    EXPECT_EQ(result.outcome(), CopyOutcome::complete);
    EXPECT_EQ(fixture.output(), fixture.stream());
    EXPECT_EQ(fixture.reports, expected_reports(26));
    EXPECT_EQ(counts.buffered_reads, 0);
}

TEST(StreamCopy, KernelHandingOverNothingEarlyFallsBack)
{
    CopyFixture fixture(26);
    KernelCalls counts;
    count_calls(fixture, counts, [](bool from_input, int call_number, NativeHandle, NativeHandle) -> std::int64_t {
        return from_input && call_number == 2 ? 0 : pass_through;
    });
    CopyResult result = fixture.copy();
    EXPECT_EQ(result.outcome(), CopyOutcome::complete);
    EXPECT_EQ(fixture.output(), fixture.stream());
    EXPECT_EQ(fixture.reports, expected_reports(26));
    EXPECT_GT(counts.buffered_reads, 0);
}

TEST(StreamCopy, KernelPathReportsRealErrorsWithoutFallingBack)
{
    for (bool on_input : { true, false }) {
        CopyFixture fixture(26);
        KernelCalls counts;
        count_calls(fixture, counts, [on_input](bool from_input, int call_number, NativeHandle, NativeHandle) {
            if (from_input == on_input && call_number == 2)
                return fail_with(on_input ? EIO : ENOSPC);
            return pass_through;
        });
        CopyResult result = fixture.copy();
        EXPECT_EQ(result.outcome(), on_input ? CopyOutcome::read_failed : CopyOutcome::write_failed);
        EXPECT_EQ(result.ended.error().error_number, on_input ? EIO : ENOSPC);
        EXPECT_EQ(counts.buffered_reads, 0);
        EXPECT_EQ(fixture.output().size(), result.bytes_copied);
    }
}

TEST(StreamCopy, KernelPathIsNotUsedForAppendModeOrNonRegularOutput)
{
    CopyFixture append_fixture(10, true);
    KernelCalls append_counts;
    count_calls(append_fixture, append_counts, [](bool, int, NativeHandle, NativeHandle) { return pass_through; });
    EXPECT_EQ(append_fixture.copy().outcome(), CopyOutcome::complete);
    EXPECT_EQ(append_fixture.output(), append_fixture.stream());
    EXPECT_EQ(append_counts.input_splices, 0);

    ScratchFolder folder;
    write_file(folder / "input", stream_of(10));
    File input = open_for_reading((folder / "input").string());
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    File read_end { pipe_ends[0] };
    File write_end { pipe_ends[1] };
    StreamCopyCalls calls = StreamCopyCalls::system();
    int splices = 0;
    calls.kernel_move = [&splices](NativeHandle, std::int64_t*, NativeHandle, std::size_t) { return ++splices, fail_with(EINVAL); };
    std::vector<std::byte> buffer(16);
    StreamCopySettings settings;
    CopyResult result = copy_stream({ input.native(), 0, false, {} }, write_end.native(), buffer, settings, calls, [] { });
    EXPECT_EQ(result.outcome(), CopyOutcome::complete);
    EXPECT_EQ(splices, 0);
    std::uint8_t received[10];
    EXPECT_EQ(::read(static_cast<int>(read_end.native()), received, sizeof received), 10);
    EXPECT_EQ(std::vector<std::uint8_t>(received, received + 10), stream_of(10));
}

#endif

#ifndef _WIN32
TEST(StreamCopy, PipeSourceGoesOnFromWhatWasReadAhead)
{
    // A pipe read in order: the bytes read with the header are written first and counted in the first
    // chunk, then the rest is spliced straight into the file, or read and written by the buffered copy.
    for (CopyMethod method : { CopyMethod::kernel_first, CopyMethod::buffered }) {
        ScratchFolder folder;
        std::vector<std::uint8_t> stream = stream_of(21);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        File read_end { ends[0] };
        ASSERT_EQ(::write(ends[1], stream.data() + 5, stream.size() - 5), static_cast<ssize_t>(stream.size() - 5));
        ::close(ends[1]);
        File output = open_for_writing((folder / "output").string());

        StreamCopyCalls calls = StreamCopyCalls::system();
        int splices = 0;
        calls.kernel_move = [&splices](NativeHandle in, std::int64_t* in_offset, NativeHandle out, std::size_t length) {
            std::int64_t moved = kernel_move(in, in_offset, out, length);
            splices += moved > 0 ? 1 : 0;
            return moved;
        };
        StreamCopySettings settings;
        settings.method = method;
        settings.chunk_size = chunk;
        settings.piece_size = 3;
        std::vector<std::byte> buffer(chunk);
        std::uint64_t reports = 0;
        CopySource source { read_end.native(), 0, true, std::as_bytes(std::span(stream).first(5)) };
        CopyResult result = copy_stream(source, output.native(), buffer, settings, calls, [&reports] { ++reports; });
        EXPECT_EQ(result.outcome(), CopyOutcome::complete);
        EXPECT_EQ(result.bytes_copied, 21u);
        EXPECT_EQ(read_file_bytes(folder / "output"), stream);
        EXPECT_EQ(reports, expected_reports(21));
        EXPECT_EQ(splices > 0, method == CopyMethod::kernel_first && kernel_copy_built);
    }
}
#endif


// The stream check.

// One transport packet: its PID and continuity counter, and what else a case needs set.
struct Packet {
    unsigned pid = 0x100;
    unsigned counter = 0;
    unsigned adaptation_field_control = 1;  // 1 payload only, 2 adaptation field only, 3 both
    bool marked_in_error = false;
    unsigned scrambling = 0;
    bool discontinuity = false;
    std::optional<std::uint64_t> pcr = std::nullopt;  // in 27 MHz ticks
    std::uint8_t sync_byte = 0x47;
    std::uint8_t payload = 0xFF;  // every byte after the header and the adaptation field
    std::optional<std::uint8_t> adaptation_field_length = std::nullopt;  // as the packet needs, when not set
};

void append_packet(std::vector<std::uint8_t>& stream, const Packet& packet)
{
    std::vector<std::uint8_t> bytes(188, packet.payload);
    bytes[0] = packet.sync_byte;
    bytes[1] = static_cast<std::uint8_t>((packet.marked_in_error ? 0x80 : 0) | (packet.pid >> 8 & 0x1F));
    bytes[2] = static_cast<std::uint8_t>(packet.pid);
    bytes[3] = static_cast<std::uint8_t>(packet.scrambling << 6 | packet.adaptation_field_control << 4 | (packet.counter & 0xF));
    if (packet.adaptation_field_control & 2) {
        bytes[4] = packet.adaptation_field_length.value_or(packet.adaptation_field_control == 2 ? 183 : (packet.pcr ? 7 : 1));
        if (bytes[4] > 0)
            bytes[5] = static_cast<std::uint8_t>((packet.discontinuity ? 0x80 : 0) | (packet.pcr ? 0x10 : 0));
        if (packet.pcr) {
            std::uint64_t base = *packet.pcr / 300;
            std::uint64_t extension = *packet.pcr % 300;
            bytes[6] = static_cast<std::uint8_t>(base >> 25);
            bytes[7] = static_cast<std::uint8_t>(base >> 17);
            bytes[8] = static_cast<std::uint8_t>(base >> 9);
            bytes[9] = static_cast<std::uint8_t>(base >> 1);
            bytes[10] = static_cast<std::uint8_t>((base & 1) << 7 | 0x7E | (extension >> 8));
            bytes[11] = static_cast<std::uint8_t>(extension);
        }
    }
    stream.insert(stream.end(), bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> packets_of(const std::vector<Packet>& packets)
{
    std::vector<std::uint8_t> stream;
    for (const Packet& packet : packets)
        append_packet(stream, packet);
    return stream;
}

// Packets 0x100 with counters counting on from `first`.
std::vector<Packet> counting(unsigned count, unsigned first = 0)
{
    std::vector<Packet> packets;
    for (unsigned index = 0; index < count; ++index)
        packets.push_back({ .counter = (first + index) & 0xF });
    return packets;
}

std::vector<Packet> operator+(std::vector<Packet> first, const std::vector<Packet>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

constexpr std::uint64_t second_of_pcr = 27'000'000;
constexpr std::uint64_t pcr_wrap = (std::uint64_t { 1 } << 33) * 300;

struct CheckCase {
    const char* name;
    std::vector<std::uint8_t> stream;
    StreamReport expected;
};

void PrintTo(const CheckCase& check_case, std::ostream* stream) { *stream << check_case.name; }

StreamReport found(std::uint64_t packets, std::uint64_t sync, std::uint64_t continuity, std::uint64_t marked, std::uint64_t scrambled,
    std::size_t last_packet = 0, std::optional<std::uint64_t> pcr_duration = std::nullopt)
{
    StreamReport report;
    report.packets = packets;
    report.sync_errors = sync;
    report.continuity_errors = continuity;
    report.marked_in_error = marked;
    report.scrambled = scrambled;
    report.last_packet_bytes = last_packet;
    report.pcr_duration = pcr_duration;
    return report;
}

StreamReport with_jumps(StreamReport report, std::uint64_t jumps)
{
    report.pcr_jumps = jumps;
    return report;
}

// The PCR PID's packets, one every 40 ms from `start` for `seconds`, each carrying its clock.
std::vector<Packet> clock(std::uint64_t start, unsigned seconds, unsigned first_counter = 0)
{
    std::vector<Packet> packets;
    for (unsigned index = 0; index <= seconds * 25; ++index)
        packets.push_back({ .counter = (first_counter + index) & 0xF, .adaptation_field_control = 3, .pcr = (start + index * second_of_pcr / 25) % pcr_wrap });
    return packets;
}

StreamReport after_losses(StreamReport report, std::uint64_t losses, std::uint64_t skipped)
{
    report.sync_losses = losses;
    report.bytes_skipped = skipped;
    return report;
}

// Bytes that are no packets: lone sync bytes here and there, none where a packet would start right
// after the last good one; with `aligned`, three of them 188 bytes apart, which is not enough to take
// for packets while five could follow.
std::vector<std::uint8_t> junk(std::size_t length, bool aligned = false)
{
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t index = 0; index < length; ++index)
        bytes[index] = static_cast<std::uint8_t>((index * 37 + 11) % 251 == 0x47 ? 0x48 : (index * 37 + 11) % 251);
    for (std::size_t at : { std::size_t { 100 }, std::size_t { 250 } })
        bytes[at % length] = 0x47;
    if (aligned)
        for (std::size_t at : { std::size_t { 5 }, std::size_t { 193 }, std::size_t { 381 } })
            bytes[at] = 0x47;
    return bytes;
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> first, const std::vector<std::uint8_t>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

void expect_report(const StreamReport& report, const StreamReport& expected, const std::string& what)
{
    EXPECT_EQ(report.packets, expected.packets) << what;
    EXPECT_EQ(report.sync_losses, expected.sync_losses) << what;
    EXPECT_EQ(report.bytes_skipped, expected.bytes_skipped) << what;
    EXPECT_EQ(report.sync_errors, expected.sync_errors) << what;
    EXPECT_EQ(report.continuity_errors, expected.continuity_errors) << what;
    EXPECT_EQ(report.pcr_jumps, expected.pcr_jumps) << what;
    EXPECT_EQ(report.marked_in_error, expected.marked_in_error) << what;
    EXPECT_EQ(report.scrambled, expected.scrambled) << what;
    EXPECT_EQ(report.last_packet_bytes, expected.last_packet_bytes) << what;
    EXPECT_EQ(report.pcr_duration, expected.pcr_duration) << what;
}

class StreamCheck : public testing::TestWithParam<CheckCase> { };

TEST_P(StreamCheck, CountsWhatTheStreamHolds)
{
    const CheckCase& check_case = GetParam();
    for (StreamChecker::Way way : { StreamChecker::Way::fast, StreamChecker::Way::plain }) {
        std::string how = way == StreamChecker::Way::fast ? "fast, " : "plain, ";
        StreamChecker whole(0x100, way);
        whole.feed(std::as_bytes(std::span(check_case.stream)));
        expect_report(whole.report(), check_case.expected, how + "fed whole");
        // The bytes a judgement needs may come in later pieces: one byte, a packet and either side of it,
        // and as many as five packets need.
        for (std::size_t piece : { 1u, 187u, 188u, 189u, 941u, 3100u }) {
            StreamChecker checker(0x100, way);
            for (std::size_t offset = 0; offset < check_case.stream.size(); offset += piece)
                checker.feed(std::as_bytes(std::span(check_case.stream).subspan(offset, std::min(piece, check_case.stream.size() - offset))));
            expect_report(checker.report(), check_case.expected, how + "pieces of " + std::to_string(piece));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(StreamCheck, StreamCheck,
    testing::Values(
        CheckCase { "CleanStream", packets_of(counting(40)), found(40, 0, 0, 0, 0) },
        // Looked at further, the packet would also be scrambled and out of sequence.
        CheckCase { "OneSyncError",
            packets_of(counting(3) + std::vector<Packet> { { .counter = 9, .scrambling = 2, .sync_byte = 0x00 } } + counting(3, 3)),
            found(7, 1, 0, 0, 0) },
        // The packet with the flipped sync byte was this PID's: the next one is one further on, once.
        CheckCase { "OneFlippedSyncByte",
            packets_of(counting(3) + std::vector<Packet> { { .counter = 3, .sync_byte = 0x46 } } + counting(3, 4)
                + std::vector<Packet> { { .pid = 0x200, .counter = 0 } } + counting(1, 9)),
            found(9, 1, 1, 0, 0) },
        // Marked in error, its counter right: the next packet is judged afresh, not as a gap.
        CheckCase { "OneMarkedInErrorOnACountedPid",
            packets_of(counting(3) + std::vector<Packet> { { .counter = 3, .marked_in_error = true } } + counting(3, 4)), found(7, 0, 0, 1, 0) },
        // An adaptation field of length 0 has no flags, however its next byte reads: the gap is a gap.
        CheckCase { "EmptyAdaptationFieldOnACounterGap",
            packets_of(counting(3) + std::vector<Packet> { { .counter = 7, .adaptation_field_control = 3, .adaptation_field_length = 0 } }),
            found(4, 0, 1, 0, 0) },
        // One marked packet's counter happens to be in sequence, the other's is not.
        CheckCase { "MarkedInErrorIsNotUsedForContinuity",
            packets_of(counting(3) + std::vector<Packet> { { .counter = 3, .marked_in_error = true }, { .counter = 9, .marked_in_error = true } }
                + counting(3, 3)),
            found(8, 0, 0, 2, 0) },
        CheckCase { "Scrambled", packets_of(std::vector<Packet> { { .counter = 0, .scrambling = 2 }, { .counter = 1, .scrambling = 3 }, { .counter = 2 } }),
            found(3, 0, 0, 0, 2) },
        CheckCase { "CounterGap", packets_of(counting(3) + counting(3, 4)), found(6, 0, 1, 0, 0) },
        CheckCase { "OneDuplicate", packets_of(counting(2) + counting(3, 1)), found(5, 0, 0, 0, 0) },
        // Fifteen packets lost bring the counter round to the same value, on other bytes: no duplicate.
        CheckCase { "FifteenLostPackets", packets_of(counting(3) + std::vector<Packet> { { .counter = 2, .payload = 0x11 } } + counting(2, 3)),
            found(6, 0, 1, 0, 0) },
        CheckCase { "RepeatedCounterWithOtherBytes",
            packets_of(counting(3) + std::vector<Packet> { { .counter = 2, .adaptation_field_control = 3 } } + counting(2, 3)), found(6, 0, 1, 0, 0) },
        // A duplicate repeats the packet before it byte for byte, but for its PCR.
        CheckCase { "TrueDuplicateWithAnotherPcr",
            packets_of(counting(2) + std::vector<Packet> { { .counter = 2, .adaptation_field_control = 3, .pcr = 40 * second_of_pcr },
                { .counter = 2, .adaptation_field_control = 3, .pcr = 40 * second_of_pcr + 5 } } + counting(2, 3)),
            found(6, 0, 0, 0, 0, 0, 5) },
        CheckCase { "TwoDuplicates", packets_of(counting(2) + counting(1, 1) + counting(3, 1)), found(6, 0, 1, 0, 0) },
        // A packet with the discontinuity indicator starts the count afresh, even on its counter's repeat;
        // the next packet repeats its counter on other bytes, which no duplicate does.
        CheckCase { "DiscontinuityIsNoRepeat",
            packets_of(counting(2) + std::vector<Packet> { { .counter = 1, .adaptation_field_control = 3, .discontinuity = true } }
                + counting(3, 1)),
            found(6, 0, 1, 0, 0) },
        CheckCase { "DiscontinuityIndicatorSetsTheCounter",
            packets_of(counting(2) + std::vector<Packet> { { .counter = 9, .adaptation_field_control = 3, .discontinuity = true } } + counting(2, 10)), found(5, 0, 0, 0, 0) },
        CheckCase { "NullPidIsNotCounted", packets_of(counting(2) + std::vector<Packet> { { .pid = 0x1FFF, .counter = 5 }, { .pid = 0x1FFF, .counter = 5 }, { .pid = 0x1FFF, .counter = 0 } } + counting(2, 2)),
            found(7, 0, 0, 0, 0) },
        CheckCase { "AdaptationOnlyPacketsLeaveTheCounter",
            packets_of(counting(2) + std::vector<Packet> { { .counter = 7, .adaptation_field_control = 2 }, { .counter = 7, .adaptation_field_control = 2 } } + counting(2, 2)), found(6, 0, 0, 0, 0) },
        CheckCase { "PcrAcrossAWrapAndADiscontinuity",
            packets_of(std::vector<Packet> { { .counter = 0, .adaptation_field_control = 3, .pcr = pcr_wrap - second_of_pcr },
                { .counter = 1, .adaptation_field_control = 3, .pcr = second_of_pcr },
                { .pid = 0x200, .adaptation_field_control = 3, .pcr = 99 * second_of_pcr },  // another programme's clock
                { .counter = 2, .adaptation_field_control = 3, .discontinuity = true, .pcr = 500 * second_of_pcr },
                { .counter = 3, .adaptation_field_control = 3, .pcr = 501 * second_of_pcr } }),
            found(5, 0, 0, 0, 0, 0, 3 * second_of_pcr) },
        // Two recordings joined without the discontinuity flag: the clock steps back a minute. The duration
        // is the two spans, and the step a jump.
        CheckCase { "JoinOfTwoClocks", packets_of(clock(60 * second_of_pcr, 60) + clock(0, 30, 13)),
            with_jumps(found(2252, 0, 0, 0, 0, 0, 90 * second_of_pcr), 1) },
        CheckCase { "OnePcrATickEarly", [] {
                       std::vector<Packet> packets = clock(second_of_pcr, 5);
                       packets[60].pcr = *packets[59].pcr - 1;
                       return packets_of(packets);
                   }(),
            with_jumps(found(126, 0, 0, 0, 0, 0, 5 * second_of_pcr + 1), 1) },
        // Far ahead after a sync loss is the time the loss took; far ahead with nothing lost is a jump.
        CheckCase { "FarAheadAfterALossIsTimeLost",
            packets_of(clock(0, 1)) + junk(600) + packets_of(clock(60 * second_of_pcr, 1, 9)),
            after_losses(found(52, 0, 0, 0, 0, 0, 61 * second_of_pcr), 1, 600) },
        CheckCase { "FarAheadWithNothingLostIsAJump", packets_of(clock(0, 1) + clock(60 * second_of_pcr, 1, 10)),
            with_jumps(found(52, 0, 0, 0, 0, 0, 2 * second_of_pcr), 1) },
        CheckCase { "OnePcrIsNoDuration", packets_of(std::vector<Packet> { { .adaptation_field_control = 3, .pcr = second_of_pcr } } + counting(2, 1)),
            found(3, 0, 0, 0, 0) },
        CheckCase { "CutShortLastPacket", [] {
                       std::vector<std::uint8_t> stream = packets_of(counting(3));
                       stream.resize(stream.size() + 100, 0x47);
                       return stream;
                   }(),
            found(3, 0, 0, 0, 0, 100) },
        // Packet 10 lost its last 100 bytes: it is read with 100 bytes of packet 11 as its end, the
        // rest of packet 11 is skipped, and packet 12 is found again; its counter is not judged.
        CheckCase { "CutInsideAPacket", [] {
                       std::vector<std::uint8_t> stream = packets_of(counting(20));
                       stream.erase(stream.begin() + 10 * 188 + 88, stream.begin() + 11 * 188);
                       return stream;
                   }(),
            after_losses(found(19, 0, 0, 0, 0), 1, 88) },
        // The counters go on after the junk with a gap, which a loss does not count.
        CheckCase { "JunkBetweenPackets", packets_of(counting(10)) + junk(1000, true) + packets_of(counting(10, 15)),
            after_losses(found(20, 0, 0, 0, 0), 1, 1000) },
        // Four sync bytes 188 apart in junk are not five: sync is not restored on them.
        CheckCase { "FourAlignedSyncBytesInJunk", packets_of(counting(10)) + [] {
                       std::vector<std::uint8_t> bytes = junk(1000);
                       for (std::size_t at : { 200u, 388u, 576u, 764u })
                           bytes[at] = 0x47;
                       return bytes;
                   }() + packets_of(counting(10, 15)),
            after_losses(found(20, 0, 0, 0, 0), 1, 1000) },
        CheckCase { "JunkToTheEnd", packets_of(counting(10)) + junk(500), after_losses(found(10, 0, 0, 0, 0), 1, 500) },
        CheckCase { "FewerThanFivePacketsLeftAfterALoss", packets_of(counting(10)) + junk(400) + packets_of(counting(2, 3)) + junk(100),
            after_losses(found(12, 0, 0, 0, 0, 100), 1, 400) },
        CheckCase { "OnePacketLeftNeverRestoresSync", packets_of(counting(10)) + junk(400) + packets_of(counting(1)) + junk(50),
            after_losses(found(10, 0, 0, 0, 0), 1, 400 + 188 + 50) },
        // Scrambling and the error flag are read from packets in sync only; the clock goes on across a loss.
        CheckCase { "PcrStepsGoOnAcrossALoss",
            packets_of(std::vector<Packet> { { .counter = 0, .adaptation_field_control = 3, .pcr = second_of_pcr } } + counting(3, 1)) + junk(600)
                + packets_of(std::vector<Packet> { { .counter = 9, .adaptation_field_control = 3, .pcr = 5 * second_of_pcr } } + counting(4, 10)),
            after_losses(found(9, 0, 0, 0, 0, 0, 4 * second_of_pcr), 1, 600) }),
    [](const testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(StreamCheck, PacketsSplitAcrossPiecesAreCheckedWhole)
{
    // Every kind of packet at once, fed in pieces of every size from 1 to 187 bytes, so that a piece
    // ends at every offset within a packet.
    std::vector<std::uint8_t> stream = packets_of(counting(3)
        + std::vector<Packet> { { .pid = 0x200, .sync_byte = 0x00 }, { .counter = 9, .marked_in_error = true }, { .counter = 3, .scrambling = 2 },
            { .counter = 0, .adaptation_field_control = 3, .pcr = second_of_pcr },
            { .counter = 1, .adaptation_field_control = 3, .pcr = 3 * second_of_pcr } }
        + counting(3, 5));
    stream.resize(stream.size() + 50, 0x47);
    StreamReport expected = found(11, 1, 2, 1, 1, 50, 2 * second_of_pcr);
    for (std::size_t piece = 1; piece < 188; ++piece) {
        StreamChecker checker(0x100);
        for (std::size_t offset = 0; offset < stream.size(); offset += piece)
            checker.feed(std::as_bytes(std::span(stream).subspan(offset, std::min(piece, stream.size() - offset))));
        expect_report(checker.report(), expected, "pieces of " + std::to_string(piece));
    }
}

}
