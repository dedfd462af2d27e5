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

// Copies, or with no output only reads, the stream from the end of the header area on, and says how
// many bytes it moved.
StreamOutcome copy_out(const OpenRecording& input, NativeHandle output, const std::string& output_path, std::byte* buffer,
    const ExtractionSettings& settings, ProgressReporter& reporter, std::uint64_t& bytes_copied)
{
    advise_sequential(input.handle);
    StreamCopySettings copy = settings.copy;
    if (settings.checker) {
        copy.inspect = [checker = settings.checker](std::span<const std::byte> bytes) { checker->feed(bytes); };
        copy.piece_size = output == no_handle ? checked_read_piece_size : std::min(copy.piece_size, inspected_piece_size);
    }
    CopySource source { input.handle, transport_stream_offset, input.sequential, input.already_read };
    CopyResult result = copy_stream(source, output, { buffer, copy_buffer_size }, copy, settings.calls, [&reporter] { reporter.chunk_done(); });
    bytes_copied = result.bytes_copied;
    // A stop is the reading's: the recording is what was not read to its end.
    if (result.outcome == CopyOutcome::read_failed || result.outcome == CopyOutcome::stopped)
        return system_error(Action::read, input.path, result.error_number);
    if (result.outcome == CopyOutcome::write_failed)
        return system_error(Action::write, output_path, result.error_number);
    return std::nullopt;
}

// Ending early is not the end of the recording: another program cut it short, or the .ts file is the
// recording under another device number (an overlay mount) and emptying it emptied both.
StreamOutcome check_whole(const OpenRecording& input, std::uint64_t bytes_copied)
{
    if (input.identity.regular_file && input.identity.size > transport_stream_offset
        && bytes_copied < input.identity.size - transport_stream_offset)
        return refusal(input.path, StreamRefusal::recording_shrank);
    return std::nullopt;
}

// Locks a regular output through a second handle that keeps the lock until the run lets it go. Without
// waiting, it refuses one another run holds or wrote between this run's open and its lock; a caller
// that waits judges what the file holds again once the lock is had. A device or a pipe keeps nothing
// another run could spoil; locking /dev/null would only make runs that write there wait for each other.
StreamOutcome lock_output(OpenedOutput& output, bool wait)
{
    WrittenStream& written = output.written;
    if (!written.output.regular_file)
        return std::nullopt;
    LockOutcome lock = lock_exclusively(output.file.native(), wait);
    if (lock == LockOutcome::held_elsewhere)
        return refusal(output.path, StreamRefusal::another_run_is_writing);
    if (lock == LockOutcome::failed)
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
    return std::nullopt;
}

}

StreamOutcome open_output(FilesOfTheRun& files, const std::string& output_path, ProgressReporter& reporter, OpenedOutput& output,
    bool wait_for_lock)
{
    output.path = output_path;
    output.file = open_for_writing(output_path);
    if (!output.file.is_open())
        return system_error(Action::open, output_path, errno);
    output.written.output = identify(output.file.native());
    if (std::optional<RunFileRole> other = files.earlier_file_it_is(RunFileRole::stream, output.written.output))
        return Refusal<RunFileRole> { Action::write, output_path, *other };
    files.name(RunFileRole::stream, output_path, output.written.output, reporter);
    return lock_output(output, wait_for_lock);
}

StreamOutcome write_stream_into(OpenedOutput& output, const OpenRecording& input, ProgressReporter& reporter,
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
    if (StreamOutcome failure = copy_out(input, output.file.native(), output.path, buffer.get(), settings, reporter, written.bytes_copied))
        return failure;
    // A full disk may only show when the data is flushed or the file closed, so the stage is done only
    // after both.
    bool sync_to_disk = settings.sync_to_disk && written.output.regular_file;
    if (int error_number = finish_output(output.file, output.path, sync_to_disk); error_number != 0)
        return system_error(Action::write, output.path, error_number);
    if (StreamOutcome failure = check_whole(input, written.bytes_copied))
        return failure;
    reporter.stream_done();
    return std::nullopt;
}

StreamOutcome check_transport_stream(const OpenRecording& input, ProgressReporter& reporter, const ExtractionSettings& settings,
    std::uint64_t& bytes_read)
{
    CopyBuffer buffer = settings.allocate_buffer(copy_buffer_size);
    if (!buffer)
        return system_error(Action::get_copy_buffer, input.path, ENOMEM);
    reporter.checking_stream();
    bytes_read = 0;
    if (StreamOutcome failure = copy_out(input, no_handle, {}, buffer.get(), settings, reporter, bytes_read))
        return failure;
    if (StreamOutcome failure = check_whole(input, bytes_read))
        return failure;
    reporter.stream_done();
    return std::nullopt;
}
