#pragma once

#include "core/remote/results_host.h"
#include "temp_dir.h"

#include <string>
#include <sys/types.h>

namespace vantrel::test {

struct ResultsHostOptions {
    std::string password = {}; // empty: the real account password
    std::string fault = {}; // "", "none", "http-500", "http-300", "http-cut" or "lose-upload"
    long throttle = 0; // bytes per second for FTP data and HTTP bodies; 0 = full speed
    bool readOnly = false; // the FTP account may read but not write
};

// The real tools/results-host, run on free loopback ports with a fresh data folder.
// The constructor starts it and returns once both servers accept connections; the
// destructor stops it. Throws std::runtime_error when it cannot be started.
class ResultsHostProcess {
public:
    explicit ResultsHostProcess(ResultsHostOptions options = {});
    ~ResultsHostProcess();
    ResultsHostProcess(const ResultsHostProcess&) = delete;
    ResultsHostProcess& operator=(const ResultsHostProcess&) = delete;

    // start() after stop() reuses the same ports and data folder.
    void start();
    // After stop(), host() keeps the old ports, so clients see a refused connection.
    void stop();
    bool running() const;

    ResultsHost host() const;
    // The data folder, ending in "/": FTP's starting folder and the web's /vantrel/.
    std::string root() const;
    // root() + "compare.zip"
    std::string sharedFile() const;
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
};

// The account password as the program deciphers it, so tests log on with exactly
// what the program carries.
std::string accountPassword();

} // namespace vantrel::test
