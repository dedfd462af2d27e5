#include "cli/batch.h"

#include "catalogue/catalogue.h"
#include "cli/console_reporter.h"
#include "cli/conversion.h"
#include "cli/run.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/file_identity.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace {

constexpr std::string_view recording_ending = ".rec";

bool has_recording_ending(std::string_view name)
{
    if (name.size() < recording_ending.size())
        return false;
    std::string_view ending = name.substr(name.size() - recording_ending.size());
    return std::equal(ending.begin(), ending.end(), recording_ending.begin(),
        [](char found, char wanted) { return (found >= 'A' && found <= 'Z' ? found - 'A' + 'a' : found) == wanted; });
}

// One recording of the batch, or a folder named that could not be read.
struct BatchItem {
    std::string path;
    StageOutcome unreadable_folder;
};

// The recordings named, in order: a folder gives its entries that end in ".rec", not its folders, in
// the byte order of their names; it is not searched further down.
std::vector<BatchItem> recordings_named(const std::vector<std::string>& inputs)
{
    std::vector<BatchItem> items;
    for (const std::string& input : inputs) {
        if (!identify_path(input).folder) {
            items.push_back({ input, std::nullopt });
            continue;
        }
        std::vector<std::string> names;
        if (!list_folder(input, names)) {
            items.push_back({ input, system_failure(FailedStep::read, input, errno) });
            continue;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::string path = join_path(input, name);
            if (has_recording_ending(name) && !identify_path(path).folder)
                items.push_back({ path, std::nullopt });
        }
    }
    return items;
}

// What tells two paths apart as files: the file itself where it exists, else the place it would be
// created at, so that two spellings, a link, or a file and its folder count once.
std::string file_key(const std::string& path)
{
    FileIdentity identity = identify_path(path);
    if (identity.exists)
        return "file " + std::to_string(identity.device) + ":" + std::to_string(identity.index);
    if (!identity.resolved_path.empty())
        return "place " + identity.resolved_path;
    return "path " + path;
}

// The same file named twice is converted once, where it first appears.
std::vector<BatchItem> without_repeats(std::vector<BatchItem> items)
{
    std::set<std::string> seen;
    std::vector<BatchItem> kept;
    for (BatchItem& item : items) {
        if (seen.insert(file_key(item.path)).second)
            kept.push_back(std::move(item));
    }
    return kept;
}

}

std::string transport_stream_name(std::string_view recording_name)
{
    if (has_recording_ending(recording_name))
        recording_name.remove_suffix(recording_ending.size());
    return std::string(recording_name) + ".ts";
}

std::string transport_stream_path(const std::string& recording_path, const std::string* output_folder)
{
    if (output_folder)
        return join_path(*output_folder, transport_stream_name(split_path(recording_path).name));
    return transport_stream_name(recording_path);
}

int run_batch(const RunOptions& options, Console& console)
{
    ConsoleReporter reporter(console);
    const std::string* output_folder = options.output_path_given ? &options.output_path : nullptr;
    if (output_folder && !identify_path(*output_folder).folder) {
        reporter.failed(refusal(FailedStep::write, *output_folder, FixedReason::is_not_a_folder));
        return exit_status_failure;
    }

    std::vector<BatchItem> items = without_repeats(recordings_named(options.batch_inputs));
    // Each .ts file is claimed by the first recording that would write it, judged before anything is
    // written: a later one would destroy it.
    std::map<std::string, std::string> output_claims;
    std::vector<std::string> claimed_by(items.size());
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (items[index].unreadable_folder || options.skip_extraction)
            continue;
        auto [claim, first] = output_claims.emplace(file_key(transport_stream_path(items[index].path, output_folder)), items[index].path);
        if (!first)
            claimed_by[index] = claim->second;
    }
    // Read once, before the first recording: what the catalogue holds is skipped. Starting afresh
    // skips nothing.
    std::optional<CatalogueHoldings> holdings;
    if (options.append)
        holdings = read_catalogue_holdings(options.catalogue_path);

    BatchSummary summary { items.size(), 0, 0, {} };
    // What every recording's conversion is given, but for its own paths; without the list of inputs,
    // which would otherwise be copied once for every recording.
    RunOptions each = options;
    each.batch_inputs.clear();
    // -a empties the catalogue once: for the first recording whose line is written.
    bool start_afresh = !options.append;
    for (std::size_t index = 0; index < items.size(); ++index) {
        const BatchItem& item = items[index];
        ConversionResult result { ConversionOutcome::failed, item.unreadable_folder, false };
        if (!item.unreadable_folder) {
            RunOptions recording = each;
            recording.input_path = item.path;
            recording.output_path = transport_stream_path(item.path, output_folder);
            recording.append = !start_afresh;
            result = convert_recording(recording, reporter, { holdings ? &*holdings : nullptr, claimed_by[index] });
        }
        start_afresh = start_afresh && !result.catalogued;
        if (result.outcome == ConversionOutcome::converted)
            ++summary.converted;
        else if (result.outcome == ConversionOutcome::skipped)
            ++summary.skipped;
        else
            summary.failed.push_back(item.path);
        if (result.failure)
            reporter.failed(*result.failure);
        // Written out after each recording, so that a batch stopped part way has said what it did.
        static_cast<void>(console.flush());
    }

    reporter.batch_done(summary);
    if (!summary.failed.empty())
        return exit_status_failure;
    reporter.all_done();
    return exit_status_success;
}
