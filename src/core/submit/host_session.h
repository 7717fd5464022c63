#pragma once

#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "core/submit/submission.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace vantrel {

using Duration = std::chrono::nanoseconds;

// A submission's FTP session on the results host, and the clock it keeps time with. Every
// command waits with the owner's tick running (the window's events, the heartbeat); a host
// that cannot be reached is tried again for a while, since a restart takes seconds.
class HostSession {
public:
    HostSession(const SubmitOptions& options, std::stop_token stop);
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Runs while every command waits; the owner's tick.
    void setTick(std::function<void()> tick) { m_tick = std::move(tick); }
    // Sets the account up; why not, when it cannot be.
    std::optional<std::string> logOn();

    // The submission's clock; by default one that also counts a suspend.
    Duration now() const;
    // The user asked to stop, and stopping is honoured now (not in a clean-up).
    bool stopRequested() const { return m_honourStop && m_stop.stop_requested(); }
    bool stopAsked() const { return m_stop.stop_requested(); }
    void honourStop(bool honour) { m_honourStop = honour; }
    // Waits, ticking, until length has passed or the user stops.
    void pause(Duration length);
    // The window's events once (nothing else of the tick).
    void yield() const
    {
        if (m_options.yield)
            m_options.yield();
    }
    const SubmitTiming& timing() const { return m_timing; }

    // Runs a request of the engine to its end (anew while the host is unreachable); its outcome.
    TransferOutcome run(const std::function<bool()>& start);
    // Every command is sent, even after a refusal; the outcome is the first refusal.
    TransferOutcome commands(const std::vector<std::string>& commands);
    TransferOutcome rename(const std::string& from, const std::string& to);
    // FEAT, and with it the logon, started without waiting: it runs beside other work (the
    // copy's update over HTTP) until features() takes its answer.
    void startFeatures();
    TransferOutcome features();
    TransferOutcome list(const std::string& folder, std::vector<std::string>& names);
    TransferOutcome store(const std::string& remote, const UploadSource& source, std::uint64_t restAt = 0);
    TransferOutcome append(const std::string& remote, const UploadSource& source);
    // The shared file's size on the host: 0 with missing set when there is none, nullopt when unknown.
    std::optional<std::uint64_t> sharedFileSize(bool& missing);
    const std::vector<std::string>& replies() const { return m_engine.Replies(); }
    const TransferOutcome& outcome() const { return m_engine.Outcome(); }
    // Ends the command under way (from a tick).
    void cancel() { m_ftp->Cancel(); }
    // The FTP session is done with for now: it ends without anyone waiting for its QUIT.
    void disconnect() { m_ftp->disconnect(); }
    // Transfers that may run long (a whole file), bounded by the stall limit instead.
    void allowLongTransfers(bool allow);
    // Removes a folder and what it holds, one level of folders deep; bounded and best effort.
    void removeFolder(const std::string& name);

    // A second session on the same account, for the heartbeat; its requests do not wait.
    std::unique_ptr<clsFTPEngine> openSecondSession() const;

    // "the results host HOST <what> (<the host's words or the cause>)."
    std::string failure(const std::string& what, const TransferOutcome& outcome) const;
    const ResultsHost& host() const { return m_options.host; }

    // While one lives, a stop is not honoured and commands get short time-outs: a clean-up runs
    // to its end, briefly, whatever came before it.
    class CleanUp {
    public:
        explicit CleanUp(HostSession& session);
        ~CleanUp();
        CleanUp(const CleanUp&) = delete;
        CleanUp& operator=(const CleanUp&) = delete;

    private:
        HostSession& m_session;
        bool m_honoured;
    };

private:
    bool logOn(clsFTPEngine& engine, std::shared_ptr<InetControl> inet) const;
    void tick()
    {
        if (m_tick)
            m_tick();
    }

    const SubmitOptions& m_options;
    const SubmitTiming& m_timing;
    std::stop_token m_stop;
    bool m_honourStop = true;
    std::function<void()> m_tick;
    std::shared_ptr<CurlInet> m_ftp;
    bool m_featuresStarted = false;
    clsFTPEngine m_engine;
};

// The host could not be reached at all (or said it is too busy to take a session).
bool unreachable(const TransferOutcome& outcome);
// The host refused a command (a 5xx reply).
bool refused(const TransferOutcome& outcome);

} // namespace vantrel
