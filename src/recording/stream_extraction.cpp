#include "recording/stream_extraction.h"

#include "platform/file.h"
#include "platform/kernel_copy.h"
#include "recording/recording_header.h"

#include <algorithm>
#include <cerrno>

namespace {

SystemError system_error(Action action, const std::string& path, int error_number)
{
    return { action, path, error_number };
}

Refusal<StreamRefusal> refusal(const std::string& path, StreamRefusal reason)
{
    Action action = reason == StreamRefusal::recording_shrank ? Action::read : Action::write;
    return { action, path, reason };
}

// Flushes and closes the .ts file; the failure of the first step that failed.
StreamOutcome finish_output(File& output, const std::string& output_path, bool sync_to_disk)
{
    int error_number = 0;
    if (sync_to_disk && !flush_to_disk(output.native()))
        error_number = errno;
    if (!output.close() && error_number == 0)
        error_number = errno;
    if (error_number == 0 && sync_to_disk && !flush_folder_of(output_path))
        error_number = errno;
    if (error_number != 0)
        return system_error(Action::write, output_path, error_number);
    return {};
}

// How a copy's end reads as the stage's: a stop is the reading's, since the recording is what was not
// read to its end.
StreamOutcome outcome_of(const CopyResult& copied, const std::string& input_path, const std::string& output_path)
{
    if (copied.ended)
        return {};
    const CopyCutShort& cut = copied.ended.error();
    if (cut.outcome == CopyOutcome::write_failed)
        return system_error(Action::write, output_path, cut.error_number);
    return system_error(Action::read, input_path, cut.error_number);
}

// Copies, or with no output only reads, the stream from the end of the header area on.
CopyResult copy_out(const StreamSource& input, NativeHandle output, std::byte* buffer, const ExtractionSettings& settings,
    ProgressReporter& reporter)
{
    advise_sequential(input.handle);
    StreamCopySettings copy = settings.copy;
    if (settings.checker) {
        copy.inspect = [checker = settings.checker](std::span<const std::byte> bytes) { checker->feed(bytes); };
        copy.piece_size = output == no_handle ? checked_read_piece_size : std::min(copy.piece_size, inspected_piece_size);
    }
    CopySource source { input.handle, transport_stream_offset, input.sequential, input.already_read };
    return copy_stream(source, output, { buffer, copy_buffer_size }, copy, settings.calls, [&reporter] { reporter.chunk_done(); });
}

// Ending early is not the end of the recording: another program cut it short, or the .ts file is the
// recording under another device number (an overlay mount) and emptying it emptied both.
StreamOutcome check_whole(const StreamSource& input, std::uint64_t bytes_copied)
{
    if (input.identity.regular_file && input.identity.size > transport_stream_offset
        && bytes_copied < input.identity.size - transport_stream_offset)
        return refusal(input.path, StreamRefusal::recording_shrank);
    return {};
}

// Locks a regular output through a second handle that keeps the lock until the run lets it go. Without
// waiting, it refuses one another run holds or wrote between this run's open and its lock; a caller
// that waits judges what the file holds again once the lock is had. A device or a pipe keeps nothing
// another run could spoil; locking /dev/null would only make runs that write there wait for each other.
StreamOutcome lock_output(OpenedOutput& output, bool wait)
{
    WrittenStream& written = output.written;
    if (!written.output.regular_file)
        return {};
    LockOutcome lock = lock_exclusively(output.file.native(), wait);
    if (lock == LockOutcome::held_elsewhere)
        return refusal(output.path, StreamRefusal::another_run_is_writing);
    if (lock == LockOutcome::error)
        return system_error(Action::lock, output.path, errno);
    written.lock = duplicate(output.file.native());
    if (!written.lock.is_open())
        return system_error(Action::lock, output.path, errno);
    // Another run may have written the whole file and gone between this one's open and its lock;
    // writing now would mix this stream into that one's.
    FileIdentity now = identify(output.file.native());
    if (!wait && changed_between(written.output, now))
        return refusal(output.path, StreamRefusal::another_run_is_writing);
    written.output = now;
    return {};
}

}

Expected<OpenedOutput, StreamFailure> open_output(FilesOfTheRun& files, const std::string& output_path, ProgressReporter& reporter,
    bool wait_for_lock)
{
    OpenedOutput output;
    output.path = output_path;
    output.file = open_for_writing(output_path);
    if (!output.file.is_open())
        return system_error(Action::open, output_path, errno);
    output.written.output = identify(output.file.native());
    if (std::optional<RunFileRole> other = files.earlier_file_it_is(RunFileRole::stream, output.written.output))
        return Refusal<RunFileRole> { Action::write, output_path, *other };
    files.name(RunFileRole::stream, output_path, output.written.output, reporter);
    TRY(lock_output(output, wait_for_lock));
    return output;
}

StreamOutcome write_stream_into(OpenedOutput& output, const StreamSource& input, ProgressReporter& reporter,
    const ExtractionSettings& settings)
{
    WrittenStream& written = output.written;
    written.emptied = true;
    // Only a file with something in it is emptied: on some file systems truncating even an empty file
    // makes its close start writing the whole new stream out to the disk, which doubles the run's time.
    if (written.output.regular_file && written.output.size > 0 && !truncate_file(output.file.native(), 0))
        return system_error(Action::write, output.path, errno);
    CopyBuffer buffer = settings.allocate_buffer(copy_buffer_size);
    if (!buffer)
        return system_error(Action::get_copy_buffer, output.path, ENOMEM);
    reporter.copying_stream();
    CopyResult copied = copy_out(input, output.file.native(), buffer.get(), settings, reporter);
    written.bytes_copied = copied.bytes_copied;
    TRY(outcome_of(copied, input.path, output.path));
    // A full disk may only show when the data is flushed or the file closed, so the stage is done only
    // after both.
    TRY(finish_output(output.file, output.path, settings.sync_to_disk && written.output.regular_file));
    TRY(check_whole(input, written.bytes_copied));
    reporter.stream_done();
    return {};
}

StreamRead check_transport_stream(const StreamSource& input, ProgressReporter& reporter, const ExtractionSettings& settings)
{
    CopyBuffer buffer = settings.allocate_buffer(copy_buffer_size);
    if (!buffer)
        return { 0, system_error(Action::get_copy_buffer, input.path, ENOMEM) };
    reporter.checking_stream();
    CopyResult read = copy_out(input, no_handle, buffer.get(), settings, reporter);
    StreamRead result { read.bytes_copied, outcome_of(read, input.path, {}) };
    if (result.ended)
        result.ended = check_whole(input, read.bytes_copied);
    if (result.ended)
        reporter.stream_done();
    return result;
}
