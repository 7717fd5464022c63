#pragma once

#include "core/remote/results_host.h"
#include "core/submit/results_file.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace vantrel {

// The operating systems a record may name, in the order the submission form lists them.
inline constexpr std::array<const char*, 7> kOsNames { "Win 95", "Win 98", "Win ME", "Win NT", "Win 2K",
    "Win XP", "Win Blackcomb" };

// A refused submission: the message and title the form shows for it.
struct SubmissionProblem {
    std::string message;
    std::string title;
};

// The form's checks in its order (name, OS, processor description); the first that
// fails, or nullopt. An OS outside kOsNames counts as none chosen.
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
    // After a cancel that came once the data had gone: whether the host holds the record.
    bool onHost = false;
    // The upload had begun before the submission ended, so the host may hold the record;
    // onHost tells whether it does, as read back from the host.
    bool dataSent = false;
};

// The pace of the exclusion between submitters. Every submitter must use the same
// heartbeatGiveUp and staleAfter (the second at least twice the first); tests and
// benchmarks shorten the others.
struct SubmitTiming {
    // A waiter tries to claim the host again after a random pause in this range.
    std::chrono::milliseconds claimRetryMin { 150 };
    std::chrono::milliseconds claimRetryMax { 300 };
    // How often a waiter looks at the holder's heartbeat.
    std::chrono::milliseconds lockListEvery { 5000 };
    // A heartbeat seen unchanged this long by a waiter's own clock marks a dead holder.
    std::chrono::milliseconds staleAfter { 60000 };
    std::chrono::milliseconds heartbeatEvery { 10000 };
    // The holder cancels its upload when no heartbeat has succeeded for this long.
    std::chrono::milliseconds heartbeatGiveUp { 30000 };
    // Uploads that did not read back whole before the submission counts as failed.
    int tries = 3;
};

struct SubmitOptions {
    ResultsHost host = {};
    // The local copy of the shared file ("compare.zip" in the program folder); empty keeps none.
    std::string localCopyPath = {};
    std::function<void(SubmitStage)> progress = {};
    // Runs while waiting on the network: the window processes its events there.
    std::function<void()> yield = {};
    SubmitTiming timing = {};
};

// Adds record to the shared results file on the host: claims the host against other
// submitters of this program, downloads the file, appends the record, uploads the whole
// file and reads it back. Submitted only once the host's file holds every earlier record
// with the new one right after them. Blocks until done; stop cancels within moments
// (safe from another thread); the claim is released in every case.
SubmitResult submitResult(
    const ResultRecord& record, const SubmitOptions& options, std::stop_token stop = {});

} // namespace vantrel
