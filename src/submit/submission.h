#pragma once

#include "remote/results_host.h"
#include "submit/results_file.h"

#include <array>
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
};

struct SubmitOptions {
    ResultsHost host;
    // The local copy of the shared file ("compare.zip" in the program folder); empty keeps none.
    std::string localCopyPath;
    std::function<void(SubmitStage)> progress;
    // Runs while waiting on the network: the window processes its events there.
    std::function<void()> yield;
};

// Adds record to the shared results file on the host: downloads it, appends the record
// and uploads the whole file. Submitted only once the host's file holds the record.
// Blocks until done; stop cancels at the next wait.
SubmitResult submitResult(const ResultRecord& record, const SubmitOptions& options, std::stop_token stop = {});

} // namespace vantrel
