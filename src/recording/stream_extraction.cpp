#include "recording/stream_extraction.h"

#include "platform/file.h"
#include "platform/kernel_copy.h"
#include "recording/recording_header.h"

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
    reporter.uses_file(written.output);
    // A device or a pipe keeps nothing another run could spoil; locking /dev/null would only make runs
    // that write there wait for each other.
    if (written.output.regular_file) {
        LockOutcome lock = lock_exclusively(output.native(), false);
        if (lock == LockOutcome::held_elsewhere)
            return failed(refusal(FailedStep::write, output_path, FixedReason::another_run_is_writing));
        if (lock == LockOutcome::failed)
            return failed(system_failure(FailedStep::lock, output_path, errno));
        written.lock = duplicate(output.native());
        if (!written.lock.is_open())
            return failed(system_failure(FailedStep::lock, output_path, errno));
    }
    if (settings.refuse_output) {
        if (FixedReason reason = settings.refuse_output(output.native(), written.output); reason != FixedReason::none)
            return failed(refusal(FailedStep::write, output_path, reason));
    }
    // Only a file with something in it is emptied: on some file systems truncating even an empty file
    // makes its close start writing the whole new stream out to the disk, which doubles the run's time.
    if (written.output.regular_file && written.output.size > 0 && !truncate_file(output.native(), 0))
        return failed(system_failure(FailedStep::write, output_path, errno));

    std::unique_ptr<std::byte[]> buffer = settings.allocate_buffer(copy_buffer_size);
    if (!buffer)
        return failed({ FailedStep::get_copy_buffer, output_path, ENOMEM, FixedReason::none, 0, {}, false });

    reporter.copying_stream();
    advise_sequential(input.handle);
    CopySource source { input.handle, transport_stream_offset, input.sequential, input.already_read };
    CopyResult result = copy_stream(source, output.native(),
        { buffer.get(), copy_buffer_size }, settings.copy, settings.calls, [&reporter] { reporter.chunk_done(); });

    if (result.outcome == CopyOutcome::read_failed)
        return failed(system_failure(FailedStep::read, input.path, result.error_number));
    if (result.outcome == CopyOutcome::write_failed)
        return failed(system_failure(FailedStep::write, output_path, result.error_number));
    // A full disk may only show when the data is flushed or the file closed, so the stage is done only
    // after both.
    bool sync_to_disk = settings.sync_to_disk && written.output.regular_file;
    if (int error_number = finish_output(output, output_path, sync_to_disk); error_number != 0)
        return failed(system_failure(FailedStep::write, output_path, error_number));
    // Ending early is not the end of the recording: another program cut it short, or the .ts file is
    // the recording under another device number (an overlay mount) and emptying it emptied both.
    if (input.identity.regular_file && input.identity.size > transport_stream_offset
        && result.bytes_copied < input.identity.size - transport_stream_offset)
        return failed(refusal(FailedStep::read, input.path, FixedReason::shrank_during_the_copy));
    reporter.stream_done();
    written.bytes_copied = result.bytes_copied;
    return { std::move(written), std::nullopt };
}
