#pragma once

#include "core/submit/copy_snapshot.h"
#include "core/submit/host_session.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

// How the record becomes part of the shared file, by a step the host carries out only while
// the turn is still this submitter's: an append the project's host checks against the lock,
// or, on a plain FTP host, a rename of a file staged inside the lock folder.
class CommitStrategy {
public:
    enum class Fit {
        Ready, // commit now
        Restage, // the host's file moved away from what was staged: another turn, from the start
        Stop, // the copy could not be brought up to date, or a transfer failed: cause()
    };

    virtual ~CommitStrategy() = default;
    // Before the queue, into the submitter's folder, which becomes the lock with all it holds.
    virtual TransferOutcome stage(const std::string& folder) = 0;
    // In the turn, given the shared file's size on the host.
    virtual Fit fit(std::uint64_t hostSize) = 0;
    // The commit; where the record landed, when the host says or it is known.
    virtual TransferOutcome commit(std::uint64_t hostSize, std::optional<std::uint64_t>& at) = 0;
    // Releasing the turn must also remove the staged file, when one is left.
    virtual bool leavesStage() const = 0;
    const std::string& cause() const { return m_cause; }

protected:
    std::string m_cause;
};

// The project's results host: one APPE of the record, judged by the host against the lock.
std::unique_ptr<CommitStrategy> commitByAppend(HostSession& session, const std::string& record);
// A plain FTP host: the copy and the record staged whole before the queue; in the turn only what
// the host gained since is written over the staged record, and the file is renamed into place.
std::unique_ptr<CommitStrategy> commitByRename(
    HostSession& session, CopySnapshot& copy, const std::string& record, const std::string& token);

} // namespace vantrel
