#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::test {

// Stands between FTP clients and a server on loopback and passes the control connection's
// lines on, except that it can hold one command back until told, or delay commands, as a
// stalled network or a slow answer would. Data connections go straight to the server (the
// client connects to the port EPSV names, on the same loopback address, where the proxy listens).
class FtpControlProxy {
public:
    explicit FtpControlProxy(int serverPort, std::string serverIp = "127.0.0.1");
    ~FtpControlProxy();
    FtpControlProxy(const FtpControlProxy&) = delete;
    FtpControlProxy& operator=(const FtpControlProxy&) = delete;

    // "ip:port" on the server's address, for the client's FTP address.
    std::string address() const;
    // The first command matching pattern waits until release(); it still reaches the server
    // afterwards, even when its client has given up meanwhile.
    void holdOnce(const std::string& pattern);
    // Waits until a command is held; false after limit.
    bool waitHeld(std::chrono::milliseconds limit);
    void release();
    // Every command matching pattern reaches the server `by` late (also after its client left).
    void delay(const std::string& pattern, std::chrono::milliseconds by);

private:
    void accept();
    void relay(int client);

    int m_serverPort;
    std::string m_ip;
    int m_listener = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::regex> m_hold;
    bool m_held = false;
    bool m_released = false;
    std::vector<std::pair<std::regex, std::chrono::milliseconds>> m_delays;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
    std::vector<int> m_sockets;
};

} // namespace vantrel::test
