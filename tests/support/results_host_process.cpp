#include "results_host_process.h"

#include "build_config.h"
#include "core/remote/string_cipher.h"
#include "core/submit/ftp_account.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vantrel::test {

namespace {

using namespace std::chrono_literals;

std::string sourceDir()
{
    const char* fromEnv = std::getenv("VANTREL_SOURCE_DIR");
    return fromEnv && *fromEnv ? fromEnv : VANTREL_SOURCE_DIR;
}

// The port after "key=host:" in the ready line, or 0.
int portAfter(const std::string& line, const std::string& key)
{
    auto at = line.find(key + "=");
    if (at == std::string::npos)
        return 0;
    auto end = line.find_first_of(" \n", at);
    auto colon = line.rfind(':', end);
    if (colon == std::string::npos || colon < at)
        return 0;
    return std::atoi(line.substr(colon + 1, end - colon - 1).c_str());
}

bool waitForExit(pid_t pid, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

} // namespace

ResultsHostProcess::ResultsHostProcess(ResultsHostOptions options)
    : m_options(std::move(options))
{
    std::string data = m_dir.file("data");
    if (mkdir(data.c_str(), 0700) != 0)
        throw std::runtime_error("cannot create " + data);
    start();
}

ResultsHostProcess::~ResultsHostProcess()
{
    stop();
    releasePorts();
}

void ResultsHostProcess::start()
{
    if (running())
        return;
    std::vector<std::string> args = {
        "/usr/bin/python3",
        sourceDir() + "/tools/results-host",
        "--ftp-port",
        "0",
        "--http-port",
        "0",
        "--root",
        root(),
        "--log",
        m_dir.file("requests.log"),
        "--exit-with-parent",
    };
    if (!m_options.password.empty())
        args.insert(args.end(), { "--password", m_options.password });
    if (!m_options.fault.empty())
        args.insert(args.end(), { "--fault", m_options.fault });
    if (m_options.throttle > 0)
        args.insert(args.end(), { "--throttle", std::to_string(m_options.throttle) });
    if (m_options.readOnly)
        args.emplace_back("--read-only");
    if (!m_options.page.empty())
        args.insert(args.end(), { "--page", m_options.page });
    args.insert(args.end(), m_options.extraArgs.begin(), m_options.extraArgs.end());

    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const std::string out = m_dir.file("host.out");
    const std::string err = m_dir.file("host.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start the results host: posix_spawn failed");
    m_pid = pid;

    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string line = readFile(out);
        if (line.find("ready") != std::string::npos && line.find('\n') != std::string::npos) {
            m_ftpPort = portAfter(line, "ftp");
            m_httpPort = portAfter(line, "http");
            if (m_ftpPort > 0 && m_httpPort > 0) {
                releasePorts();
                return;
            }
            break;
        }
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("the results host ended at start:\n" + readFile(err));
        }
        std::this_thread::sleep_for(20ms);
    }
    stop();
    throw std::runtime_error("the results host did not get ready:\n" + readFile(out) + readFile(err));
}

void ResultsHostProcess::stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    if (!waitForExit(m_pid, 10s)) {
        kill(m_pid, SIGKILL);
        waitForExit(m_pid, 10s);
    }
    m_pid = -1;
    holdPorts();
}

// A bound socket that never listens: a connection to its port is refused, and the system
// hands the port to no one else (a port-0 bind skips it).
void ResultsHostProcess::holdPorts()
{
    releasePorts();
    for (int port : { m_ftpPort, m_httpPort }) {
        if (port <= 0)
            continue;
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on); // past the old sessions' TIME_WAIT
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            m_heldPorts.push_back(fd);
        else
            close(fd); // still refused, only not kept from others
    }
}

void ResultsHostProcess::releasePorts()
{
    for (int fd : m_heldPorts)
        close(fd);
    m_heldPorts.clear();
}

bool ResultsHostProcess::running() const
{
    return m_pid > 0;
}

ResultsHost ResultsHostProcess::host() const
{
    return { "127.0.0.1:" + std::to_string(m_httpPort), "127.0.0.1:" + std::to_string(m_ftpPort) };
}

std::string ResultsHostProcess::root() const
{
    return m_dir.file("data/");
}

std::string ResultsHostProcess::sharedFile() const
{
    return root() + "compare.zip";
}

std::string ResultsHostProcess::historyDir() const
{
    return m_dir.file("data-history/");
}

std::string ResultsHostProcess::requestLog() const
{
    return readFile(m_dir.file("requests.log"));
}

void ResultsHostProcess::clearRequestLog()
{
    writeFile(m_dir.file("requests.log"), {});
}

std::string accountPassword()
{
    return DecryptString(kEncryptionKey, kFtpEncryptedPassword).value();
}

} // namespace vantrel::test
