#include "recording/stream_extraction.h"

#include "platform/file.h"
#include "platform/kernel_copy.h"
#include "recording/recording_header.h"

#include <algorithm>
#include <cerrno>

namespace {

// 0, or the error number of the first step that failed.
int finish_output(File& output, const std::string& output_path, bool sync_to_disk)
{
    int error_number = 0;
    if (sync_to_disk && !flush_to_disk(output.native()))
        error_number = errno;
    if (!output.close() && error_number == 0)
        error_number = errno;
    if (error_number == 0 && sync_to_disk && !flush_folder_of(output_path))
        error_number = errno;
    return error_number;
}

ExtractionResult failed(StageFailure failure)
{
    return { {}, std::move(failure) };
}

std::unique_ptr<std::byte[]> copy_buffer(const ExtractionSettings& settings)
{
    return settings.allocate_buffer(copy_buffer_size);
}

// Copies, or with no output only reads, the stream from the end of the header area on, and says how
// many bytes it moved.
StageOutcome copy_out(const OpenRecording& input, NativeHandle output, const std::string& output_path, std::byte* buffer,
    const ExtractionSettings& settings, ProgressReporter& reporter, std::uint64_t& bytes_copied)
{
    advise_sequential(input.handle);
    StreamCopySettings copy = settings.copy;
    if (settings.checker) {
        copy.inspect = [checker = settings.checker](std::span<const std::byte> bytes) { checker->feed(bytes); };
        copy.piece_size = std::min(copy.piece_size, inspected_piece_size);
    }
    CopySource source { input.handle, transport_stream_offset, input.sequential, input.already_read };
    CopyResult result = copy_stream(source, output, { buffer, copy_buffer_size }, copy, settings.calls, [&reporter] { reporter.chunk_done(); });
    if (result.outcome == CopyOutcome::read_failed)
        return system_failure(FailedStep::read, input.path, result.error_number);
    if (result.outcome == CopyOutcome::write_failed)
        return system_failure(FailedStep::write, output_path, result.error_number);
    bytes_copied = result.bytes_copied;
    return std::nullopt;
}

// Ending early is not the end of the recording: another program cut it short, or the .ts file is the
// recording under another device number (an overlay mount) and emptying it emptied both.
StageOutcome check_whole(const OpenRecording& input, std::uint64_t bytes_copied)
{
    if (input.identity.regular_file && input.identity.size > transport_stream_offset
        && bytes_copied < input.identity.size - transport_stream_offset)
        return refusal(FailedStep::read, input.path, FixedReason::shrank_during_the_copy);
    return std::nullopt;
}

// Locks a regular output, without waiting, through a second handle that keeps the lock until the run
// lets it go, and refuses one another run holds or wrote between this run's open and its lock; then
// lets `refuse_output` judge what was opened.
StageOutcome lock_and_judge(const File& output, const std::string& output_path, const ExtractionSettings& settings,
    WrittenStream& written)
{
    // A device or a pipe keeps nothing another run could spoil; locking /dev/null would only make runs
    // that write there wait for each other.
    if (written.output.regular_file) {
        LockOutcome lock = lock_exclusively(output.native(), false);
        if (lock == LockOutcome::held_elsewhere)
            return refusal(FailedStep::write, output_path, FixedReason::another_run_is_writing);
        if (lock == LockOutcome::failed)
            return system_failure(FailedStep::lock, output_path, errno);
        written.lock = duplicate(output.native());
        if (!written.lock.is_open())
            return system_failure(FailedStep::lock, output_path, errno);
        // Another run may have written the whole file and gone between this one's open and its lock;
        // writing now would mix this stream into that one's.
        if (changed_between(written.output, identify(output.native())))
            return refusal(FailedStep::write, output_path, FixedReason::another_run_is_writing);
    }
    if (settings.refuse_output)
        return settings.refuse_output(output.native(), written.output);
    return std::nullopt;
}

}

ExtractionResult extract_transport_stream(const OpenRecording& input, const std::string& output_path,
    ProgressReporter& reporter, const ExtractionSettings& settings)
{
    reporter.writing_stream(output_path);
    // Not truncated on open: what was opened is first compared with the recording.
    File output = open_for_writing(output_path);
    if (!output.is_open())
        return failed(system_failure(FailedStep::open, output_path, errno));
    WrittenStream written { identify(output.native()), 0, {} };
    if (is_same_file(written.output, input.identity))
        return failed(refusal(FailedStep::write, output_path, FixedReason::is_the_input));
    reporter.keep_messages_out_of(written.output);
    if (StageOutcome refused = lock_and_judge(output, output_path, settings, written))
        return failed(std::move(*refused));
    // Only a file with something in it is emptied: on some file systems truncating even an empty file
    // makes its close start writing the whole new stream out to the disk, which doubles the run's time.
    if (written.output.regular_file && written.output.size > 0 && !truncate_file(output.native(), 0))
        return failed(system_failure(FailedStep::write, output_path, errno));

    std::unique_ptr<std::byte[]> buffer = copy_buffer(settings);
    if (!buffer)
        return failed({ FailedStep::get_copy_buffer, output_path, ENOMEM, FixedReason::none, 0, {}, false });
    reporter.copying_stream();
    if (StageOutcome failure = copy_out(input, output.native(), output_path, buffer.get(), settings, reporter, written.bytes_copied))
        return failed(std::move(*failure));
    // A full disk may only show when the data is flushed or the file closed, so the stage is done only
    // after both.
    bool sync_to_disk = settings.sync_to_disk && written.output.regular_file;
    if (int error_number = finish_output(output, output_path, sync_to_disk); error_number != 0)
        return failed(system_failure(FailedStep::write, output_path, error_number));
    if (StageOutcome failure = check_whole(input, written.bytes_copied))
        return failed(std::move(*failure));
    reporter.stream_done();
    return { std::move(written), std::nullopt };
}

StageOutcome check_transport_stream(const OpenRecording& input, ProgressReporter& reporter, const ExtractionSettings& settings)
{
    std::unique_ptr<std::byte[]> buffer = copy_buffer(settings);
    if (!buffer)
        return StageFailure { FailedStep::get_copy_buffer, input.path, ENOMEM, FixedReason::none, 0, {}, false };
    reporter.checking_stream();
    std::uint64_t bytes_read = 0;
    if (StageOutcome failure = copy_out(input, no_handle, {}, buffer.get(), settings, reporter, bytes_read))
        return failure;
    if (StageOutcome failure = check_whole(input, bytes_read))
        return failure;
    reporter.stream_done();
    return std::nullopt;
}
