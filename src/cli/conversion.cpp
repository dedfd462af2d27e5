#include "cli/conversion.h"

#include "catalogue/catalogue.h"
#include "platform/file.h"
#include "platform/file_identity.h"
#include "recording/recording_header.h"
#include "recording/stream_check.h"
#include "recording/stream_extraction.h"

#include <cerrno>

namespace {

ConversionResult failed(StageFailure failure)
{
    return { ConversionOutcome::failed, std::move(failure), false };
}

// A file's first bytes, enough to tell a recording or a catalogue by.
std::string start_of(NativeHandle file)
{
    return read_start(file, catalogue_header_line().size());
}

// Why a stream must not be written over a file that begins with `start`: it would destroy another
// recording or a catalogue, as a forgotten argument or a glob that expanded to several recordings
// would make it.
FixedReason reason_not_to_write_stream_over(std::string_view start)
{
    if (begins_like_a_recording(start))
        return FixedReason::is_a_recording;
    if (begins_like_a_catalogue(start))
        return FixedReason::is_a_catalogue;
    return FixedReason::none;
}

StageFailure not_a_recording(const std::string& input_path, const HeaderCheck& check)
{
    StageFailure failure = refusal(FailedStep::recognise, input_path, FixedReason::no_stream);
    switch (check.rejection) {
    case HeaderRejection::wrong_magic:
        failure.reason = FixedReason::wrong_magic;
        break;
    case HeaderRejection::unknown_version:
        failure.reason = FixedReason::unknown_version;
        failure.number = check.version;
        break;
    case HeaderRejection::too_short:
        failure.reason = FixedReason::too_short;
        failure.number = check.length;
        break;
    case HeaderRejection::no_stream:
    case HeaderRejection::none:
        break;
    }
    return failure;
}

// Refuses, before anything is opened for writing, a run that would write into the recording it reads,
// put the catalogue into the .ts file, overwrite another recording, a catalogue or another recording's
// new .ts file with a stream, or append to a file that is not a catalogue; and a run whose catalogue
// cannot be written at all, before a long copy is wasted on it. The same checks are made again on
// each file as it is opened; these only catch the slips early.
StageOutcome refusal_before_writing(const RunOptions& options, const FileIdentity& input, const BatchContext& batch)
{
    const std::string& output_path = options.output_path;
    const std::string& catalogue_path = options.catalogue_path;
    FileIdentity output = options.skip_extraction ? FileIdentity {} : identify_path(output_path);
    if (!options.skip_extraction) {
        if (is_same_file(output, input))
            return refusal(FailedStep::write, output_path, FixedReason::is_the_input);
        if (!batch.output_claimed_by.empty()) {
            StageFailure claimed = refusal(FailedStep::write, output_path, FixedReason::is_the_ts_of);
            claimed.other_path = batch.output_claimed_by;
            return claimed;
        }
        FixedReason reason = reason_not_to_write_stream_over(read_file_start(output_path, catalogue_header_line().size()));
        if (reason != FixedReason::none)
            return refusal(FailedStep::write, output_path, reason);
    }
    FixedReason reason = reason_not_to_catalogue_into(identify_path(catalogue_path),
        read_file_start(catalogue_path, catalogue_header_line().size()), { input, output });
    if (reason != FixedReason::none)
        return refusal(FailedStep::write, catalogue_path, reason);
    if (int error_number = appending_error(catalogue_path); error_number != 0)
        return system_failure(FailedStep::open, catalogue_path, error_number);
    return std::nullopt;
}

// A batch skips a recording the catalogue already holds a line for, unless its .ts file is missing or
// is not the whole stream: a run stopped part way is done again.
bool already_converted(const RunOptions& options, const FileIdentity& input, const RecordingHeader& header, const BatchContext& batch)
{
    if (batch.catalogue_holdings == nullptr || !batch.catalogue_holdings->holds(options.input_path, header))
        return false;
    if (options.skip_extraction)
        return true;
    FileIdentity output = identify_path(options.output_path);
    return output.regular_file && input.regular_file && input.size >= transport_stream_offset
        && output.size == input.size - transport_stream_offset;
}

// -k removes only the plain file that was read: the path itself, not followed through a link, must
// still be that regular file.
bool names_the_file_read(const std::string& input_path, const FileIdentity& input)
{
    FileIdentity entry = identify_link(input_path);
    return entry.regular_file && is_same_file(entry, input);
}

// Called only once the .ts file and the catalogue line are on the disk and closed.
StageOutcome remove_input(const std::string& input_path, const FileIdentity& input, ConversionReporter& reporter)
{
    reporter.deleting(input_path);
    if (!names_the_file_read(input_path, input))
        return refusal(FailedStep::remove, input_path, FixedReason::no_longer_the_file_read);
    if (!remove_file(input_path))
        return system_failure(FailedStep::remove, input_path, errno);
    return std::nullopt;
}

// A recording that a writer is still appending to, or that was rewritten in place, holds more than
// the .ts file does: the size must be the one copied and the modification time the one seen at open.
bool unchanged_since_copied(const OpenRecording& input, const WrittenStream& stream)
{
    FileIdentity now = identify(input.handle);
    return now.exists && now.size == transport_stream_offset + stream.bytes_copied && now.modified_ns == input.identity.modified_ns;
}

// Why a -k run keeps its recording, or empty when it may go.
std::optional<KeepReason> reason_to_keep(const RunOptions& options, const OpenRecording& input, const WrittenStream& stream,
    const CatalogueFile& catalogue)
{
    if (options.skip_extraction)
        return KeepReason::no_stream_written;
    if (!names_the_file_read(options.input_path, input.identity))
        return KeepReason::input_not_a_regular_file;
    if (!stream.output.regular_file)
        return KeepReason::output_not_a_regular_file;
    // Its line must be kept somewhere: /dev/null or a FIFO keeps nothing.
    if (!catalogue.identity.regular_file)
        return KeepReason::catalogue_not_a_regular_file;
    if (!unchanged_since_copied(input, stream))
        return KeepReason::changed_during_the_run;
    return std::nullopt;
}

}

ConversionResult convert_recording(const RunOptions& options, ConversionReporter& reporter, const BatchContext& batch)
{
    // Messages must not be mixed into the recording, the stream or the catalogue, whichever of them
    // standard output or standard error is; the recording is judged once it is open, before any
    // message is written out.
    if (!options.skip_extraction)
        reporter.uses_file(identify_path(options.output_path));
    reporter.uses_file(identify_path(options.catalogue_path));

    reporter.reading_recording(options.input_path);
    File input_file = open_for_reading(options.input_path);
    if (!input_file.is_open())
        return failed(system_failure(FailedStep::open, options.input_path, errno));
    OpenRecording input { input_file.native(), options.input_path, identify(input_file.native()), false, {} };
    reporter.uses_file(input.identity);

    reporter.reading_header();
    HeaderReading reading = read_recording_header(input.handle);
    if (reading.error_number != 0)
        return failed(system_failure(FailedStep::read, options.input_path, reading.error_number));
    if (!reading.header)
        return failed(not_a_recording(options.input_path, reading));
    const RecordingHeader& header = *reading.header;
    // What a pipe has given of the stream with the header cannot be read again.
    input.sequential = !can_be_positioned(input.handle);
    if (input.sequential)
        input.already_read = std::as_bytes(header.stream_start());

    if (already_converted(options, input.identity, header, batch)) {
        reporter.skipping(options.input_path, options.catalogue_path);
        return { ConversionOutcome::skipped, std::nullopt, false };
    }
    if (StageOutcome refused = refusal_before_writing(options, input.identity, batch))
        return failed(std::move(*refused));

    // Holds the .ts file's lock until the run is over.
    ExtractionResult extraction;
    std::optional<StreamChecker> checker;
    if (options.check_stream)
        checker.emplace(header.pcr_pid());
    ExtractionSettings settings;
    settings.checker = checker ? &*checker : nullptr;
    if (!options.skip_extraction) {
        settings.sync_to_disk = removes_input(options);
        settings.refuse_output = [](NativeHandle opened, const FileIdentity& identity) {
            return identity.regular_file ? reason_not_to_write_stream_over(start_of(opened)) : FixedReason::none;
        };
        extraction = extract_transport_stream(input, options.output_path, reporter, settings);
        if (extraction.failure)
            return failed(std::move(*extraction.failure));
    } else if (checker) {
        if (StageOutcome failure = check_transport_stream(input, reporter, settings))
            return failed(std::move(*failure));
    }
    // A report only: what the check finds changes neither the catalogue nor the outcome.
    if (checker)
        reporter.stream_checked(checker->report());

    CatalogueEntry entry { options.catalogue_path, options.input_path, !options.append,
        options.utf8_texts ? TextEncoding::utf_8 : TextEncoding::as_stored, removes_input(options) };
    CatalogueFile catalogue;
    FilesOfTheRun files { input.identity, extraction.stream.output };
    if (StageOutcome failure = ensure_catalogue_header(entry, files, catalogue, reporter))
        return failed(std::move(*failure));
    if (StageOutcome failure = append_catalogue_row(catalogue, entry, header, reporter))
        return failed(std::move(*failure));
    ConversionResult result { ConversionOutcome::converted, std::nullopt, true };

    // The input stays open until here, so that -k sees what became of the very file that was read.
    if (!options.keep_input) {
        std::optional<KeepReason> reason = reason_to_keep(options, input, extraction.stream, catalogue);
        // Nothing was written through the input, so its close has nothing to report.
        static_cast<void>(input_file.close());
        if (reason)
            reporter.keeping(options.input_path, *reason);
        else if (StageOutcome failure = remove_input(options.input_path, input.identity, reporter))
            result = { ConversionOutcome::failed, std::move(failure), true };
    }
    return result;
}
