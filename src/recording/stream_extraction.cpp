#include "recording/stream_extraction.h"

#include "platform/console.h"
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

}

std::optional<WrittenStream> extract_transport_stream(const OpenRecording& input,
    const std::string& output_path, Console& console, const ExtractionSettings& settings)
{
    console.print("\nWriting ", output_path);
    // Not truncated on open: what was opened is first compared with the recording.
    File output = open_for_writing(output_path);
    if (!output.is_open()) {
        print_failure(console, "cannot open ", output_path, errno);
        return std::nullopt;
    }
    WrittenStream written { identify(output.native()), 0, {} };
    if (is_same_file(written.output, input.identity)) {
        console.print("\nerror: cannot write ", output_path + ": it is the input file");
        return std::nullopt;
    }
    console.keep_away_from(written.output);
    // A device or a pipe keeps nothing another run could spoil; locking /dev/null would only make runs
    // that write there wait for each other.
    if (written.output.regular_file) {
        LockOutcome lock = lock_exclusively(output.native(), false);
        if (lock == LockOutcome::held_elsewhere) {
            console.print("\nerror: cannot write ", output_path + ": another run is writing it");
            return std::nullopt;
        }
        if (lock == LockOutcome::failed) {
            print_failure(console, "cannot lock ", output_path, errno);
            return std::nullopt;
        }
        written.lock = duplicate(output.native());
        if (!written.lock.is_open()) {
            print_failure(console, "cannot lock ", output_path, errno);
            return std::nullopt;
        }
    }
    if (settings.refuse_output) {
        if (std::string reason = settings.refuse_output(output.native(), written.output); !reason.empty()) {
            console.print("\nerror: cannot write ", output_path + ": " + reason);
            return std::nullopt;
        }
    }
    // Only a file with something in it is emptied: on some file systems truncating even an empty file
    // makes its close start writing the whole new stream out to the disk, which doubles the run's time.
    if (written.output.regular_file && written.output.size > 0 && !truncate_file(output.native(), 0)) {
        print_failure(console, "cannot write ", output_path, errno);
        return std::nullopt;
    }

    std::unique_ptr<std::byte[]> buffer = settings.allocate_buffer(copy_buffer_size);
    if (!buffer) {
        // The address that could not be had, as the message has always shown it.
        console.print("\nerror: ts_buf=0");
        return std::nullopt;
    }

    console.print("\nprocessing file ...");
    advise_sequential(input.handle);
    CopySource source { input.handle, transport_stream_offset, input.sequential, input.already_read };
    CopyResult result = copy_stream(source, output.native(),
        { buffer.get(), copy_buffer_size }, settings.copy, settings.calls, [&console] { console.print("."); });

    if (result.outcome == CopyOutcome::read_failed) {
        print_failure(console, "cannot read ", input.path, result.error_number);
        return std::nullopt;
    }
    if (result.outcome == CopyOutcome::write_failed) {
        print_failure(console, "cannot write ", output_path, result.error_number);
        return std::nullopt;
    }
    // A full disk may only show when the data is flushed or the file closed, so " done" waits for both.
    bool sync_to_disk = settings.sync_to_disk && written.output.regular_file;
    if (int error_number = finish_output(output, output_path, sync_to_disk); error_number != 0) {
        print_failure(console, "cannot write ", output_path, error_number);
        return std::nullopt;
    }
    // Ending early is not the end of the recording: another program cut it short, or the .ts file is
    // the recording under another device number (an overlay mount) and emptying it emptied both.
    if (input.identity.regular_file && input.identity.size > transport_stream_offset
        && result.bytes_copied < input.identity.size - transport_stream_offset) {
        console.print("\nerror: cannot read ", input.path + ": the file shrank during the copy");
        return std::nullopt;
    }
    console.print(" done");
    written.bytes_copied = result.bytes_copied;
    return std::optional<WrittenStream>(std::move(written));
}
