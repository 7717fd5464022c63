#pragma once

#include "core/remote/results_host.h"
#include "core/results/results_file.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace vantrel {

// The operating systems a record may name, in the order the submission form lists them.
// The longest text a record may hold in one field, in bytes of the file (characters).
inline constexpr std::size_t kMaxRecordText = 300;

inline constexpr std::array<const char*, 7> kOsNames { "Win 95", "Win 98", "Win ME", "Win NT", "Win 2K",
    "Win XP", "Win Blackcomb" };

// A refused submission: the message and title the form shows for it.
struct SubmissionProblem {
    std::string message;
    std::string title;
};

// The form's checks in its order (name, OS, processor description), then the length the
// results host takes; the first that fails, or nullopt. An OS outside kOsNames counts as
// none chosen.
std::optional<SubmissionProblem> checkSubmission(const ResultRecord& record);

// Where a submission is; the form shows each as its status line.
enum class SubmitStage {
    Contacting, // downloading the shared file
    Waiting, // another submitter holds the host
    Uploading,
    Verifying, // reading the shared file back
};

enum class SubmitStatus { Submitted, Failed, Cancelled };

struct SubmitResult {
    SubmitStatus status = SubmitStatus::Failed;
    // A few words on why, when not Submitted ("the results host could not be reached").
    std::string cause;
    // The host holds the record, as read back from it (also after a cancel).
    bool onHost = false;
    // The record was sent to become part of the shared file before the submission ended.
    bool dataSent = false;
    // The record may be on the host, but reading it back failed: submitting again could add it twice.
    bool uncertain = false;
    // How long the submission waited in the queue, and held the turn (for measuring).
    std::chrono::nanoseconds waited {};
    std::chrono::nanoseconds held {};
};

// The pace of the turns submitters take. Safety does not rest on any of these: a holder
// whose turn was taken over cannot commit, whatever its clock says. They only decide how
// soon a dead or stuck holder is passed by; tests shorten them.
struct SubmitTiming {
    // How soon a waiter looks again: at the front of the queue it tries to claim the turn
    // this often; further back it lists the queue less often (the further back and the longer
    // a listing takes), up to pollMax.
    std::chrono::milliseconds pollMin { 15 };
    std::chrono::milliseconds pollMax { 5000 };
    // How often the waiter at the front looks into a held lock.
    std::chrono::milliseconds lockListEvery { 5000 };
    // How often a submitter renames its heartbeat while it prepares, waits or holds.
    std::chrono::milliseconds beatEvery { 10000 };
    // A name that has not changed this long belongs to a dead submitter.
    std::chrono::milliseconds staleAfter { 60000 };
    // A lock that is not one heartbeat with its stage folder this long is taken over.
    std::chrono::milliseconds invalidAfter { 15000 };
    // No honest turn lasts this long: a lock held longer by one token is taken over.
    std::chrono::milliseconds maxHold { 90000 };
    // A holder gives its turn up after this long.
    std::chrono::milliseconds turnLimit { 45000 };
    // A ticket seen ahead this long no longer holds the queue up.
    std::chrono::milliseconds skipAfter { 90000 };
    // A waiter that has not had its turn after this long gives up.
    std::chrono::milliseconds maxWait { 180000 };
    // A transfer moving less than 1 KiB a second for this long is cut off.
    std::chrono::seconds stallAfter { 15 };
    // A command unanswered this long is judged by what the host holds.
    std::chrono::milliseconds commandTimeout { 15000 };
    // A host that cannot be reached is tried again for this long (a restart).
    std::chrono::milliseconds outageGrace { 30000 };
    // Turns lost (taken over, given up) before the submission fails.
    int tries = 3;
    // What the intervals are measured with; by default a clock that also counts a suspend.
    std::function<std::chrono::nanoseconds()> clock = {};
};

struct SubmitOptions {
    ResultsHost host = {};
    // The local copy of the shared file ("compare.zip" in the program's data folder); kept
    // up to date and used to move only what changed. Empty: a private one, thrown away after.
    std::string localCopyPath = {};
    std::function<void(SubmitStage)> progress = {};
    // Runs while waiting on the network: the window processes its events there.
    std::function<void()> yield = {};
    SubmitTiming timing = {};
    // Stage the whole file and rename it into place, as on a plain FTP host, even where the
    // host offers appends within the turn.
    bool plainHost = false;
};

// Adds record to the shared results file on the host, taking turns with the other
// submitters (docs/submission-protocol.md): brings the local copy up to date, waits for its
// turn, adds the record with a step the host refuses once the turn has passed to another,
// and reads it back. Submitted only once the host's file holds the record. Blocks until
// done; stop cancels within moments (safe from another thread); the turn is released in
// every case.
SubmitResult submitResult(
    const ResultRecord& record, const SubmitOptions& options, std::stop_token stop = {});

} // namespace vantrel
