#include "recording/stream_extraction.h"

#include "io/console.h"
#include "io/file_descriptor.h"
#include "recording/recording_header.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

bool finish_output(FileDescriptor& output, const std::string& output_path, bool sync_to_disk)
{
    bool synced = !sync_to_disk || ::fsync(output.get()) == 0;
    bool closed = output.close();
    return synced && closed && (!sync_to_disk || sync_parent_folder(output_path));
}

}

bool extract_transport_stream(int input_descriptor, const std::string& input_path, const std::string& output_path,
    Console& console, const ExtractionSettings& settings)
{
    console.print("\nWriting ", output_path);
    FileDescriptor output = open_file(output_path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY);
    if (!output.is_open()) {
        console.print("\nerror: cannot open ", output_path);
        return false;
    }

    std::unique_ptr<std::byte[]> buffer = settings.allocate_buffer(copy_buffer_size);
    if (!buffer) {
        // The address that could not be had, as the message has always shown it.
        console.print("\nerror: ts_buf=0");
        return false;
    }

    console.print("\nprocessing file ...");
    static_cast<void>(::posix_fadvise(input_descriptor, 0, 0, POSIX_FADV_SEQUENTIAL));
    CopyResult result = copy_stream(input_descriptor, transport_stream_offset, output.get(),
        { buffer.get(), copy_buffer_size }, settings.copy, settings.calls, [&console] { console.print("."); });

    if (result.outcome == CopyOutcome::read_failed) {
        console.print("\nerror: cannot read ", input_path);
        return false;
    }
    // A full disk may only show when the data is flushed or the file closed, so " done" waits for both.
    if (result.outcome == CopyOutcome::write_failed || !finish_output(output, output_path, settings.sync_to_disk)) {
        console.print("\nerror: cannot write ", output_path);
        return false;
    }
    console.print(" done");
    return true;
}
