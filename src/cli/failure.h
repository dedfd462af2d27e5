// Every failure a run can report, of whichever layer's kinds, and the refusals that are the run's own.
#pragma once

#include "archive/batch_plan.h"
#include "catalogue/catalogue.h"
#include "recording/recording_header.h"
#include "recording/stream_extraction.h"
#include "shared/expected.h"
#include "shared/stage_report.h"

#include <optional>
#include <string>
#include <variant>

// Why the run refuses, where no system call failed and no layer below it refused.
enum class RunRefusal {
    output_is_a_recording,      // a stream must never be written over another recording
    output_is_a_catalogue,      // nor over a catalogue
    output_is_not_a_folder,     // -o of a batch
    another_run_is_converting,  // another run holds the recording's lock
    no_longer_the_file_read,    // -k: the path names another file than the one read
    default_output_holds_another,  // the default test.ts holds something other than this recording's stream
    output_named_like_a_catalogue,  // a .ts path ending in .csv: a forgotten or swapped argument
    catalogue_named_like_a_stream,  // a catalogue path ending in .ts
    catalogue_named_like_a_recording,  // a catalogue path ending in .rec
};

// The user or the system interrupted the run before a recording's work was done.
struct Interrupted {
    std::string path;  // the .ts file left not whole, or else the recording
    bool output_not_whole = false;
};

using Failure = std::variant<SystemError, BadRecording, Refusal<StreamRefusal>, Refusal<CatalogueRefusal>, TornLine,
    Refusal<RunRefusal>, Refusal<BatchRefusal>, Refusal<RunFileRole>, Interrupted>;

using RunOutcome = Expected<void, Failure>;

// A layer's failure, as one of the run's.
template <typename... Kinds>
Failure widened(std::variant<Kinds...> failure)
{
    return std::visit([](auto&& kind) -> Failure { return std::move(kind); }, std::move(failure));
}

template <typename Value, typename... Kinds>
Expected<Value, Failure> widened(Expected<Value, std::variant<Kinds...>> outcome)
{
    if (!outcome)
        return Unexpected { widened(std::move(outcome).error()) };
    if constexpr (std::is_void_v<Value>)
        return {};
    else
        return std::move(outcome).value();
}

// The file a failure names.
inline const std::string& failure_path(const Failure& failure)
{
    return std::visit([](const auto& kind) -> const std::string& { return kind.path; }, failure);
}
