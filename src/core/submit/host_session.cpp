#include "core/submit/host_session.h"

#include "core/remote/transfer_cause.h"
#include "core/submit/ftp_account.h"
#include "core/submit/protocol_names.h"

#include <ctime>
#include <thread>
#include <utility>

namespace vantrel {

namespace {

using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 10s;
// Releasing the turn after a failure or a cancel must not hold the window for long.
constexpr auto kCleanupTimeout = 10s;
// A transfer slower than this for stallAfter is cut off.
constexpr long kStallBytesPerSecond = 1024;
// How many files a leftover folder may hold before its removal is left to the next waiter.
constexpr int kMaxRemovedEntries = 64;

// CLOCK_BOOTTIME: a holder that slept through a suspend sees the time it lost.
Duration bootTime()
{
    timespec now {};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace

bool unreachable(const TransferOutcome& outcome)
{
    return outcome.status == TransferStatus::Unreachable || outcome.serverReply.rfind("421", 0) == 0;
}

bool refused(const TransferOutcome& outcome)
{
    return outcome.status == TransferStatus::CommandFailed && outcome.ftpReply / 100 == 5;
}

HostSession::HostSession(const SubmitOptions& options, std::stop_token stop)
    : m_options(options)
    , m_timing(options.timing)
    , m_stop(std::move(stop))
    , m_ftp(std::make_shared<CurlInet>())
    , m_engine([this] { tick(); })
{
    m_ftp->setTimeouts(kConnectTimeout, m_timing.commandTimeout);
    m_ftp->setLowSpeedLimit(kStallBytesPerSecond, m_timing.stallAfter);
}

bool HostSession::logOn(clsFTPEngine& engine, std::shared_ptr<InetControl> inet) const
{
    engine.SetEncryptionPassword(kEncryptionKey);
    engine.SetInetObject(std::move(inet));
    engine.SetFTPServer(m_options.host.ftp);
    engine.SetFTPUsername(kFtpUserName);
    engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
    return engine.LogonInet();
}

std::optional<std::string> HostSession::logOn()
{
    if (!logOn(m_engine, m_ftp))
        return "the logon to the results host failed (" + m_engine.errorString() + ").";
    return std::nullopt;
}

Duration HostSession::now() const
{
    return m_timing.clock ? m_timing.clock() : bootTime();
}

void HostSession::pause(Duration length)
{
    const auto until = now() + length;
    while (!stopRequested()) {
        tick();
        const auto left = until - now();
        if (left <= 0s)
            return;
        std::this_thread::sleep_for(std::min<Duration>(left, 10ms));
    }
}

TransferOutcome HostSession::run(const std::function<bool()>& start)
{
    const Duration firstFailure = now();
    Duration backoff = 500ms;
    while (true) {
        start(); // the engine waits for the request, ticking
        const TransferOutcome outcome = m_engine.Outcome();
        if (!unreachable(outcome) || !m_honourStop || stopRequested()
            || now() - firstFailure + backoff > m_timing.outageGrace)
            return outcome;
        pause(backoff);
        backoff = std::min<Duration>(backoff * 2, 4s);
    }
}

TransferOutcome HostSession::commands(const std::vector<std::string>& commands)
{
    return run([&] { return m_engine.SendCommands(commands); });
}

TransferOutcome HostSession::rename(const std::string& from, const std::string& to)
{
    return run([&] { return m_engine.RenameFile(from, to); });
}

void HostSession::startFeatures()
{
    m_engine.SetWaitForCommands(false);
    m_featuresStarted = m_engine.AskFeatures();
    m_engine.SetWaitForCommands(true);
}

TransferOutcome HostSession::features()
{
    if (std::exchange(m_featuresStarted, false)) {
        while (m_engine.StillExecuting())
            tick();
        if (!unreachable(m_engine.Outcome()))
            return m_engine.Outcome();
    }
    return run([&] { return m_engine.AskFeatures(); });
}

TransferOutcome HostSession::list(const std::string& folder, std::vector<std::string>& names)
{
    const TransferOutcome outcome = run([&] { return m_engine.ListFolder(folder); });
    names = outcome.ok() ? protocol::listedNames(m_engine.Listing()) : std::vector<std::string>();
    return outcome;
}

TransferOutcome HostSession::store(
    const std::string& remote, const UploadSource& source, std::uint64_t restAt)
{
    return run([&] { return m_engine.StoreFile(remote, source, restAt); });
}

TransferOutcome HostSession::append(const std::string& remote, const UploadSource& source)
{
    return run([&] { return m_engine.AppendFile(remote, source); });
}

std::optional<std::uint64_t> HostSession::sharedFileSize(bool& missing)
{
    missing = false;
    const TransferOutcome outcome = run([&] { return m_engine.AskSize(kSharedFileName); });
    if (outcome.ok()) {
        if (const std::optional<std::string> text = replyText(m_engine.Replies(), 213))
            return protocol::number(*text);
        return std::nullopt;
    }
    missing = refused(outcome) && outcome.ftpReply == 550;
    return missing ? std::optional<std::uint64_t>(0) : std::nullopt;
}

void HostSession::allowLongTransfers(bool allow)
{
    m_ftp->setTimeouts(kConnectTimeout, allow ? std::chrono::hours(24) : m_timing.commandTimeout);
}

void HostSession::removeFolder(const std::string& name)
{
    const CleanUp scope(*this);
    int removed = 0;
    std::vector<std::string> entries;
    if (list(name, entries).ok()) {
        for (const std::string& entry : entries) {
            if (++removed > kMaxRemovedEntries)
                break;
            const std::string path = name + "/" + entry;
            if (run([&] { return m_engine.DeleteFile(path); }).ok())
                continue;
            std::vector<std::string> inner;
            if (list(path, inner).ok()) {
                for (const std::string& file : inner) {
                    if (++removed > kMaxRemovedEntries)
                        break;
                    run([&] { return m_engine.DeleteFile(path + "/" + file); });
                }
            }
            run([&] { return m_engine.RemoveFolder(path); });
        }
    }
    run([&] { return m_engine.RemoveFolder(name); });
}

std::unique_ptr<clsFTPEngine> HostSession::openSecondSession() const
{
    auto inet = std::make_shared<CurlInet>();
    inet->setTimeouts(kConnectTimeout, m_timing.commandTimeout);
    auto second = std::make_unique<clsFTPEngine>();
    logOn(*second, inet); // cannot fail: the key is set; a failure would show in every beat anyway
    second->SetWaitForCommands(false); // the heartbeat polls from the tick
    return second;
}

std::string HostSession::failure(const std::string& what, const TransferOutcome& outcome) const
{
    return "the results host " + m_options.host.ftp + " " + what + " (" + describeTransferFailure(outcome)
        + ").";
}

HostSession::CleanUp::CleanUp(HostSession& session)
    : m_session(session)
    , m_honoured(session.m_honourStop)
{
    session.m_honourStop = false;
    session.m_ftp->setTimeouts(kConnectTimeout, kCleanupTimeout);
}

HostSession::CleanUp::~CleanUp()
{
    m_session.m_ftp->setTimeouts(kConnectTimeout, m_session.m_timing.commandTimeout);
    m_session.m_honourStop = m_honoured;
}

} // namespace vantrel
