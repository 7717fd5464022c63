#include "ftp_control_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::test {

namespace {

sockaddr_in socketAddress(const std::string& ip, int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

int connectTo(const std::string& ip, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = socketAddress(ip, port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

FtpControlProxy::FtpControlProxy(int serverPort, std::string serverIp)
    : m_serverPort(serverPort)
    , m_ip(std::move(serverIp))
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = socketAddress(m_ip, 0);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(m_listener, 64) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the FTP proxy cannot listen");
    m_port = ntohs(address.sin_port);
    m_threads.emplace_back([this] { accept(); });
}

FtpControlProxy::~FtpControlProxy()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_released = true;
        for (int fd : m_sockets)
            ::shutdown(fd, SHUT_RDWR);
    }
    m_changed.notify_all();
    ::shutdown(m_listener, SHUT_RDWR);
    for (std::thread& thread : m_threads)
        thread.join();
    ::close(m_listener);
}

std::string FtpControlProxy::address() const
{
    return m_ip + ":" + std::to_string(m_port);
}

void FtpControlProxy::holdOnce(const std::string& pattern)
{
    std::lock_guard lock(m_mutex);
    m_hold.emplace(pattern);
    m_held = false;
    m_released = false;
}

bool FtpControlProxy::waitHeld(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [this] { return m_held; });
}

void FtpControlProxy::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
    }
    m_changed.notify_all();
}

void FtpControlProxy::delay(const std::string& pattern, std::chrono::milliseconds by)
{
    std::lock_guard lock(m_mutex);
    m_delays.emplace_back(std::regex(pattern), by);
}

void FtpControlProxy::accept()
{
    while (true) {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(m_mutex);
        if (client < 0 || m_stopping) {
            if (client >= 0)
                ::close(client);
            return;
        }
        m_sockets.push_back(client);
        m_threads.emplace_back([this, client] { relay(client); });
    }
}

// One client: the server's replies go straight back on a thread of their own; the
// client's lines go on here, one by one, held or delayed as set.
void FtpControlProxy::relay(int client)
{
    const int server = connectTo(m_ip, m_serverPort);
    if (server < 0)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_sockets.push_back(server);
    }
    std::thread replies([client, server] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(server, buffer, sizeof buffer, 0)) > 0) {
            if (!sendAll(client, std::string(buffer, static_cast<std::size_t>(n))))
                break;
        }
        ::shutdown(client, SHUT_RDWR);
    });
    std::string pending;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(client, buffer, sizeof buffer, 0)) > 0) {
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find("\r\n")) != std::string::npos) {
            const std::string line = pending.substr(0, end + 2);
            pending.erase(0, end + 2);
            const std::string command = line.substr(0, line.size() - 2);
            std::unique_lock lock(m_mutex);
            if (m_hold && !m_held && std::regex_search(command, *m_hold)) {
                m_held = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_released; });
            }
            std::chrono::milliseconds late {};
            for (const auto& [pattern, by] : m_delays) {
                if (std::regex_search(command, pattern))
                    late = by;
            }
            lock.unlock();
            std::this_thread::sleep_for(late);
            if (!sendAll(server, line))
                break;
        }
    }
    // Whatever the client sent last has reached the server; now let the server see it go.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::shutdown(server, SHUT_RDWR);
    replies.join();
    std::lock_guard lock(m_mutex);
    std::erase(m_sockets, client);
    std::erase(m_sockets, server);
    ::close(client);
    ::close(server);
}

} // namespace vantrel::test
