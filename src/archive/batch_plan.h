// What a batch does with each of its recordings, decided from the facts gathered at its turn.
#pragma once

#include "archive/stream_holding.h"

#include <string>

// How opening the recording went at its turn.
enum class Opening {
    opened,           // opened, locked against other runs, and its header read
    missing,          // no file at its path
    locked_elsewhere, // another run holds its lock
    other_failure,    // anything else: it cannot be read, or it is no recording
};

// What a batch knows of one recording at its turn, after its lock and the catalogue's re-read.
struct RecordingFacts {
    Opening opening = Opening::opened;
    bool listed_from_folder = false;  // found in a folder, rather than named on the command line
    bool seen_before = false;         // there at an earlier look of this batch
    bool catalogued = false;  // the catalogue holds a line with the recording's key
    OutputHolding output = OutputHolding::nothing;  // what its .ts file holds; not looked at with -t
    std::string output_claimed_by;  // an earlier recording of the batch whose .ts file is this one's too
    bool output_locked_elsewhere = false;  // another run holds the .ts file's lock, looked for without waiting
};

// What the batch has done so far, and its flags, as far as they bear on the decision.
struct BatchState {
    bool skip_extraction = false;  // -t: no .ts file is written or claimed
    bool start_afresh = false;     // -a, and no line written yet: what the catalogue holds does not count
    bool delete_input = false;     // -k: a recording converted before is freed, once its .ts is compared in full
    bool check_stream = false;     // -s: with -t, a recording converted before is still checked
};

enum class BatchAction {
    fail,               // it cannot be opened or read: the failure is the opening's
    convert,            // write the .ts file and the line
    write_stream_only,  // the line is there already; the .ts file is not whole, or missing
    // The .ts file looks whole: compare it with the stream byte for byte, under the locks a conversion
    // takes; write it again only if it differs, and the line only if it is missing. With -k the
    // recording is then deleted, as after a complete run.
    compare_in_full,
    judge_again_later,  // another run is writing its .ts file: put it at the end of the batch
    skip,
    refuse,
};

enum class SkipReason { already_catalogued, gone, being_converted };

enum class BatchRefusal {
    output_claimed,          // an earlier recording of the batch writes that .ts file
    output_holds_something,  // the .ts file holds another recording's stream, or other data
};

struct BatchDecision {
    BatchAction action = BatchAction::convert;
    SkipReason skip = SkipReason::already_catalogued;        // for skip
    BatchRefusal refusal = BatchRefusal::output_claimed;     // for refuse
    bool start_afresh = false;  // for convert: empty the catalogue first
    bool check_stream = false;  // for skip: read the stream and check it all the same (-b -t -s)
};

// Decides for one recording, before its .ts file is locked and again once it is. One that is missing
// was converted by another run with -k when it was found in a folder or seen at an earlier look, and
// is skipped; one named on the command line is a failure, as for a single run. A recording the
// catalogue holds, with its whole stream in its .ts file (or with -t), is already converted: that is
// decided first, and only -k does anything more with it, after a full compare; with -t and -s its
// stream is still checked, since that is how a converted archive is checked. A .ts file another run
// is writing is judged again at the end of the batch. Otherwise a .ts file an earlier recording of the
// batch claims, or one that holds anything but nothing or this recording's stream, is never written
// over; what is missing is added, and nothing twice.
BatchDecision decide(const RecordingFacts& facts, const BatchState& state);

// The state for the next recording: -a empties the catalogue once, for the first recording whose line
// is written, and every later one appends.
BatchState after_turn(const BatchState& state, bool line_written);
