#include "core/submit/commit_strategy.h"

#include "core/remote/transfer_cause.h"
#include "core/submit/ftp_account.h"
#include "core/submit/protocol_names.h"

#include <algorithm>

namespace vantrel {

namespace {

class AppendCommit final : public CommitStrategy {
public:
    AppendCommit(HostSession& session, const std::string& record)
        : m_session(session)
        , m_record(record)
    {
    }
    TransferOutcome stage(const std::string&) override { return {}; }
    Fit fit(std::uint64_t) override { return Fit::Ready; }
    TransferOutcome commit(std::uint64_t hostSize, std::optional<std::uint64_t>& at) override
    {
        const TransferOutcome appended = m_session.append(kSharedFileName, { .tail = m_record });
        if (appended.ok())
            at = protocol::appendedAt(m_session.replies()).value_or(hostSize);
        return appended;
    }
    bool leavesStage() const override { return false; }

private:
    HostSession& m_session;
    const std::string& m_record;
};

class RenameCommit final : public CommitStrategy {
public:
    RenameCommit(
        HostSession& session, CopySnapshot& copy, const std::string& record, const std::string& token)
        : m_session(session)
        , m_copy(copy)
        , m_record(record)
        , m_token(token)
    {
    }

    // The long transfer, made before the queue so no one waits for it.
    TransferOutcome stage(const std::string& folder) override
    {
        m_stagedSize = m_copy.size();
        const std::uint64_t overlap = std::min<std::uint64_t>(m_stagedSize, 512);
        m_stagedTail = m_copy.read(m_stagedSize - overlap, overlap);
        m_session.allowLongTransfers(true); // the stall limit bounds it
        const TransferOutcome staged = m_session.store(folder + "/" + m_token + "/next",
            { .fd = m_copy.fd(), .length = m_stagedSize, .tail = m_record });
        m_session.allowLongTransfers(false);
        m_left = staged.ok();
        return staged;
    }

    // Judged only by what was staged: other programs of this user may have moved the shared copy
    // on meanwhile.
    Fit fit(std::uint64_t hostSize) override
    {
        if (hostSize == m_stagedSize)
            return Fit::Ready;
        if (hostSize > m_copy.size() && !m_copy.update()) {
            m_cause = m_copy.cause();
            return Fit::Stop;
        }
        const std::uint64_t overlap = m_stagedTail.size();
        if (hostSize < m_stagedSize || m_copy.size() != hostSize
            || m_copy.read(m_stagedSize - overlap, overlap) != m_stagedTail) {
            // Put back to an earlier state, or the web side does not show yet what FTP holds.
            m_cause = "the results file on the host " + m_session.host().ftp
                + " changed under every attempt to add your record.";
            return Fit::Restage;
        }
        // REST and STOR write what came meanwhile and the record over the staged record.
        const TransferOutcome patched = m_session.store(protocol::stagedPath(m_token),
            { .fd = m_copy.fd(),
                .offset = m_stagedSize,
                .length = hostSize - m_stagedSize,
                .tail = m_record },
            m_stagedSize);
        if (patched.ok())
            return Fit::Ready;
        if (refused(patched))
            return Fit::Restage; // the stage is gone with the turn
        m_cause = "the upload to the results host " + m_session.host().ftp + " failed ("
            + describeTransferFailure(patched) + ").";
        return Fit::Stop;
    }

    TransferOutcome commit(std::uint64_t hostSize, std::optional<std::uint64_t>& at) override
    {
        const TransferOutcome renamed = m_session.rename(protocol::stagedPath(m_token), kSharedFileName);
        m_left = !renamed.ok();
        if (renamed.ok())
            at = hostSize; // the staged file is the host's, then the record
        return renamed;
    }

    bool leavesStage() const override { return m_left; }

private:
    HostSession& m_session;
    CopySnapshot& m_copy;
    const std::string& m_record;
    const std::string& m_token;
    std::uint64_t m_stagedSize = 0;
    std::string m_stagedTail;
    bool m_left = false;
};

} // namespace

std::unique_ptr<CommitStrategy> commitByAppend(HostSession& session, const std::string& record)
{
    return std::make_unique<AppendCommit>(session, record);
}

std::unique_ptr<CommitStrategy> commitByRename(
    HostSession& session, CopySnapshot& copy, const std::string& record, const std::string& token)
{
    return std::make_unique<RenameCommit>(session, copy, record, token);
}

} // namespace vantrel
