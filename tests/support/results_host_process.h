#pragma once

#include "core/remote/results_host.h"
#include "temp_dir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vantrel::test {

struct ResultsHostOptions {
    std::string password = {}; // empty: the real account password
    // "", "none", "http-500", "http-300", "http-cut" or "lose-upload" (each change to the shared
    // file is acknowledged, then undone)
    std::string fault = {};
    long throttle = 0; // bytes per second for FTP data and HTTP bodies; 0 = full speed
    bool readOnly = false; // the FTP account may read but not write
    std::string page = {}; // the results page's folder served at /vantrel/; empty: the host's default
    std::vector<std::string> extraArgs = {}; // further flags, e.g. { "--quota", "4K" }
};

// The real tools/results-host, run on free loopback ports with a fresh data folder.
// The constructor starts it and returns once both servers accept connections; the
// destructor stops it. Throws std::runtime_error when it cannot be started. Every start
// takes ports the system picks, so a host never waits for a port it had before.
class ResultsHostProcess {
public:
    explicit ResultsHostProcess(ResultsHostOptions options = {});
    ~ResultsHostProcess();
    ResultsHostProcess(const ResultsHostProcess&) = delete;
    ResultsHostProcess& operator=(const ResultsHostProcess&) = delete;

    // start() after stop() keeps the data folder and takes new ports: read host() again.
    void start();
    // After stop(), host() keeps the old ports, held closed until the next start, so
    // clients see a refused connection and no other server can take them meanwhile.
    void stop();
    bool running() const;

    ResultsHost host() const;
    // The data folder, ending in "/": FTP's starting folder and the web's /vantrel/.
    std::string root() const;
    // root() + "compare.zip"
    std::string sharedFile() const;
    // Where the host logs the shared file's lengths and keeps what a restore cuts off, ending in "/".
    std::string historyDir() const;
    // One line per HTTP request, ending with its User-Agent ("HTTP GET /vantrel/COMPARE.ZIP
    // 200 Vantrel3/3.0.0"), and per FTP command received ("FTP STOR compare.zip";
    // passwords shown as "PASS ****").
    std::string requestLog() const;
    void clearRequestLog();

private:
    ResultsHostOptions m_options;
    TempDir m_dir;
    pid_t m_pid = -1;
    int m_ftpPort = 0;
    int m_httpPort = 0;
    std::vector<int> m_heldPorts; // sockets bound to a stopped host's ports, never listening

    void holdPorts();
    void releasePorts();
};

// The account password as the program deciphers it, so tests log on with exactly
// what the program carries.
std::string accountPassword();

} // namespace vantrel::test
