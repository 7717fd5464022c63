// The public host's recipe, proved: Debian's own vsftpd and Apache run from the shipped
// configuration files (docs/host), with only addresses, ports, folders and the account's
// home changed, and the program submits to and reads from them.
//
// Needs root (vsftpd logs local accounts on through PAM and locks them into a chroot).
// The account lives only in a private mount namespace that sees copies of passwd,
// shadow, group and shells; nothing under /etc is changed.
#include "build_config.h"
#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "core/remote/transfer_cause.h"
#include "core/results/results_file.h"
#include "core/submit/ftp_account.h"
#include "core/submit/submission.h"
#include "ftp_control_proxy.h"
#include "results_host_process.h"
#include "worker_process.h"

#include <arpa/inet.h>
#include <chrono>
#include <crypt.h>
#include <csignal>
#include <cstdlib>
#include <curl/curl.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <pwd.h>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vantrel;
using namespace vantrel::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string sourceDir()
{
    const char* fromEnv = std::getenv("VANTREL_SOURCE_DIR");
    return fromEnv && *fromEnv ? fromEnv : VANTREL_SOURCE_DIR;
}

sockaddr_in socketAddress(const std::string& ip, int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// A loopback address no other program listens on (Linux routes all of 127/8 to lo), new for
// each server this process starts.
std::string freshLoopbackAddress()
{
    static std::mt19937 random { std::random_device {}() };
    static std::set<std::string> given;
    std::uniform_int_distribution<int> part(1, 254);
    std::string ip;
    do
        ip = "127." + std::to_string(part(random)) + "." + std::to_string(part(random)) + "."
            + std::to_string(part(random));
    while (!given.insert(ip).second);
    return ip;
}

// A port the kernel picks on ip, free again once this returns, for a server to bind.
int kernelPort(const std::string& ip)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = socketAddress(ip, 0);
    socklen_t length = sizeof address;
    const auto* raw = reinterpret_cast<sockaddr*>(&address);
    const bool ok = ::bind(fd, raw, sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    if (!ok)
        throw std::runtime_error("no port on " + ip);
    return ntohs(address.sin_port);
}

// The first bytes a server at ip:port answers request with (FTP servers speak first: send
// nothing); empty when nothing listens there.
std::string answer(const std::string& ip, int port, const std::string& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval wait { 5, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const sockaddr_in address = socketAddress(ip, port);
    std::string said;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        said.assign(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    }
    ::close(fd);
    return said;
}

// Sets "key=value" in a vsftpd configuration, replacing the key's line or adding one.
void setOption(std::string& conf, const std::string& key, const std::string& value)
{
    std::istringstream in(conf);
    std::string line;
    std::string out;
    bool set = false;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            line = key + "=" + value;
            set = true;
        }
        out += line + "\n";
    }
    if (!set)
        out += key + "=" + value + "\n";
    conf = out;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

pid_t spawn(
    const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, const std::string& output)
{
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env = extraEnv;
    env.push_back("PATH=/usr/sbin:/usr/bin:/sbin:/bin");
    std::vector<char*> envp;
    for (const auto& entry : env)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::setpgid(0, 0);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    return pid;
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) != 0)
            return;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// vsftpd and Apache as the recipe sets them up, in a temporary folder, each on a loopback
// address of its own and a port the kernel picked there.
class RecipeHost {
public:
    RecipeHost()
    {
        fs::permissions(m_dir.path(), fs::perms(0755));
        m_uid = 64000;
        while (::getpwuid(m_uid))
            ++m_uid;
        // The jail is root's; only the results folder inside it belongs to the account.
        fs::create_directories(jail() + "/results");
        fs::permissions(jail(), fs::perms(0755));
        fs::permissions(results(), fs::perms(0755));
        if (::chown(results().c_str(), m_uid, m_uid) != 0)
            throw std::runtime_error("cannot hand the results folder to the account");
        for (const char* folder : { "etc", "apache/mods-enabled", "apache/conf-enabled",
                 "apache/sites-enabled", "apache/run", "apache/lock", "apache/log", "page" })
            fs::create_directories(m_dir.file(folder));

        prepareVsftpd();
        prepareApache();
        m_ftp = startServer([this](const std::string& ip, int port) { return startVsftpd(ip, port); }, "",
            "vsFTPd", m_vsftpd);
        m_web = startServer([this](const std::string& ip, int port) { return startApache(ip, port); },
            "HEAD / HTTP/1.0\r\n\r\n", "Apache", m_apache);
        if (m_ftp.empty() || m_web.empty()) {
            stop(m_apache);
            stop(m_vsftpd);
            throw std::runtime_error("vsftpd or Apache did not start:\n" + readFile(m_dir.file("vsftpd.out"))
                + readFile(m_dir.file("apache.out")) + readFile(m_dir.file("apache/log/error.log")));
        }
    }
    ~RecipeHost()
    {
        stop(m_apache);
        stop(m_vsftpd);
    }

    ResultsHost host() const { return { m_web, m_ftp }; }
    std::string jail() const { return m_dir.file("jail"); }
    std::string results() const { return m_dir.file("jail/results"); }
    uid_t uid() const { return m_uid; }

private:
    // Runs start(ip, port) until the server answers request there with sign in its words; "ip:port",
    // or empty when it never does. Another program may take the port between the kernel's pick and
    // the server's bind: the server then ends, and the next try takes a new address and port.
    std::string startServer(const std::function<pid_t(const std::string&, int)>& start,
        const std::string& request, const std::string& sign, pid_t& pid)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const std::string ip = freshLoopbackAddress();
            const int port = kernelPort(ip);
            pid = start(ip, port);
            for (auto until = std::chrono::steady_clock::now() + 20s;
                 std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(10ms)) {
                if (::waitpid(pid, nullptr, WNOHANG) != 0) {
                    pid = -1; // ended, and reaped: never signal its number again
                    break;
                }
                if (answer(ip, port, request).find(sign) != std::string::npos)
                    return ip + ":" + std::to_string(port);
            }
            stop(pid);
            pid = -1;
        }
        return {};
    }

    // The recipe's account, as useradd and chpasswd would write it, seen only by vsftpd.
    void prepareVsftpd()
    {
        writeFile(m_dir.file("etc/vsftpd.user_list"), "vantrel\n");
        const std::string id = std::to_string(m_uid);
        crypt_data data {};
        const char* hash = ::crypt_r(accountPassword().c_str(), "$6$vantreltest$", &data);
        if (!hash || hash[0] != '$')
            throw std::runtime_error("crypt_r cannot hash the account's password");
        writeFile(m_dir.file("etc/passwd"),
            readFile("/etc/passwd") + "vantrel:x:" + id + ":" + id + "::" + jail()
                + "/./results:/usr/sbin/nologin\n");
        writeFile(
            m_dir.file("etc/shadow"), readFile("/etc/shadow") + "vantrel:" + hash + ":20000:0:99999:7:::\n");
        writeFile(m_dir.file("etc/group"), readFile("/etc/group") + "vantrel:x:" + id + ":\n");
        std::string shells = readFile("/etc/shells");
        if (shells.find("\n/usr/sbin/nologin\n") == std::string::npos)
            shells += "/usr/sbin/nologin\n";
        writeFile(m_dir.file("etc/shells"), shells);
        fs::permissions(m_dir.file("etc/shadow"), fs::perms(0640));
    }

    pid_t startVsftpd(const std::string& ip, int port)
    {
        std::string conf = readFile(sourceDir() + "/docs/host/vsftpd.conf");
        setOption(conf, "listen_address", ip);
        setOption(conf, "listen_port", std::to_string(port));
        // Data ports anywhere: vsftpd picks them on this address and tries another when one is taken.
        setOption(conf, "pasv_min_port", "0");
        setOption(conf, "pasv_max_port", "0");
        setOption(conf, "userlist_file", m_dir.file("etc/vsftpd.user_list"));
        setOption(conf, "xferlog_file", m_dir.file("xferlog"));
        // Made at boot on a Debian host; a fresh container may lack it.
        if (!fs::is_directory("/var/run/vsftpd/empty")) {
            fs::create_directories(m_dir.file("empty"));
            setOption(conf, "secure_chroot_dir", m_dir.file("empty"));
        }
        writeFile(m_dir.file("etc/vsftpd.conf"), conf);

        std::string script = "set -e\n";
        for (const char* name : { "passwd", "shadow", "group", "shells" })
            script += std::string("mount --bind ") + m_dir.file("etc/") + name + " /etc/" + name + "\n";
        script += "exec /usr/sbin/vsftpd " + m_dir.file("etc/vsftpd.conf") + "\n";
        return spawn({ "/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script },
            {}, m_dir.file("vsftpd.out"));
    }

    // Debian's own apache2.conf and enabled modules and configuration, plus what the recipe
    // enables (mod_headers, vantrel-results.conf); only Listen and the page's folder are the
    // test's. That one is empty: the package's page, on the machine whenever the package is
    // installed (the packaging test installs it as root for a while), would answer /vantrel/.
    void prepareApache()
    {
        const std::string root = m_dir.file("apache/");
        fs::create_symlink("/etc/apache2/apache2.conf", root + "apache2.conf");
        for (const char* kind : { "mods", "conf" }) {
            const fs::path enabled = fs::path("/etc/apache2") / (std::string(kind) + "-enabled");
            for (const auto& entry : fs::directory_iterator(enabled))
                fs::create_symlink(fs::canonical(entry.path()),
                    root + kind + "-enabled/" + entry.path().filename().string());
        }
        if (!fs::exists(root + "mods-enabled/headers.load"))
            fs::create_symlink(
                "/etc/apache2/mods-available/headers.load", root + "mods-enabled/headers.load");
        writeFile(root + "conf-enabled/vantrel-results.conf",
            replaceAll(
                replaceAll(readFile(sourceDir() + "/docs/host/vantrel-results.conf"), "/srv/vantrel", jail()),
                "/usr/share/vantrel3-results-host/web", m_dir.file("page")));
    }

    pid_t startApache(const std::string& ip, int port)
    {
        const std::string root = m_dir.file("apache/");
        writeFile(root + "ports.conf", "Listen " + ip + ":" + std::to_string(port) + "\n");
        return spawn({ "/usr/sbin/apache2", "-d", root, "-f", root + "apache2.conf", "-DFOREGROUND" },
            { "APACHE_RUN_USER=www-data", "APACHE_RUN_GROUP=www-data",
                "APACHE_PID_FILE=" + root + "run/apache2.pid", "APACHE_RUN_DIR=" + root + "run",
                "APACHE_LOCK_DIR=" + root + "lock", "APACHE_LOG_DIR=" + root + "log", "LANG=C" },
            m_dir.file("apache.out"));
    }

    TempDir m_dir;
    uid_t m_uid = 0;
    std::string m_ftp; // "ip:port"
    std::string m_web;
    pid_t m_vsftpd = -1;
    pid_t m_apache = -1;
};

struct HttpAnswer {
    long status = 0;
    std::string body;
    std::string headers;
};

// A plain GET that asks for compression, to see what the web server sends anyone.
HttpAnswer httpGet(const std::string& url)
{
    HttpAnswer answer;
    CURL* easy = curl_easy_init();
    auto append = +[](char* data, size_t size, size_t count, void* target) {
        static_cast<std::string*>(target)->append(data, size * count);
        return size * count;
    };
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, append);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &answer.headers);
    if (curl_easy_perform(easy) == CURLE_OK)
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(easy);
    return answer;
}

ResultRecord record(const std::string& name, double score)
{
    return { name, name + "@example.org", "Win XP", "Pentium III 800 MHz", score };
}

} // namespace

class PublicHost : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (::geteuid() == 0)
            s_host = new RecipeHost();
    }
    static void TearDownTestSuite()
    {
        delete s_host;
        s_host = nullptr;
    }
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "not root: vsftpd needs root to log the account on and lock it into its folder";
        ASSERT_NE(s_host, nullptr);
        for (const auto& name : filesIn(s_host->results() + "/"))
            fs::remove_all(s_host->results() + "/" + name);
    }

    std::string sharedFile() const { return s_host->results() + "/compare.zip"; }
    std::string webUrl(const std::string& name) const
    {
        return "http://" + s_host->host().web + "/vantrel/" + name;
    }

    SubmitResult submit(const ResultRecord& what)
    {
        SubmitOptions options;
        options.host = s_host->host();
        options.localCopyPath = m_local.file("compare.zip");
        return submitResult(what, options);
    }

    static inline RecipeHost* s_host = nullptr;
    TempDir m_local;
};

TEST_F(PublicHost, SubmissionsCreateTheFileAndAppendByteForByte)
{
    SubmitResult first = submit(record("first", 1000));
    ASSERT_EQ(first.status, SubmitStatus::Submitted) << first.cause;
    EXPECT_EQ(readFile(sharedFile()), EncodeResultRecord(record("first", 1000)));

    SubmitResult second = submit(record("second", 2000));
    ASSERT_EQ(second.status, SubmitStatus::Submitted) << second.cause;
    const std::string both
        = EncodeResultRecord(record("first", 1000)) + EncodeResultRecord(record("second", 2000));
    EXPECT_EQ(readFile(sharedFile()), both);
    EXPECT_EQ(readFile(m_local.file("compare.zip")), both);

    // A program of the older kind uploads the whole file under a name of its own and renames
    // it over compare.zip; the next submission follows on from it.
    auto inet = std::make_shared<CurlInet>();
    clsFTPEngine engine;
    engine.SetEncryptionPassword(kEncryptionKey);
    engine.SetInetObject(inet);
    engine.SetFTPServer(s_host->host().ftp);
    engine.SetFTPUsername(kFtpUserName);
    engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
    engine.SetCurFTPFile(kSharedFileName);
    ASSERT_TRUE(engine.LogonInet());
    ASSERT_TRUE(engine.CreateWithData(both + EncodeResultRecord(record("older", 3000))));
    ASSERT_EQ(submit(record("third", 4000)).status, SubmitStatus::Submitted);

    // The list as the comparison reads it, through the upper-case address.
    CurlInet web;
    const std::string body = web.OpenURL(s_host->host().web + kSharedFileWebPath);
    ASSERT_TRUE(web.outcome().ok()) << web.outcome().text;
    const std::vector<ResultRecord> list = DecodeResultRecords(body);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[2].name, "older");
    EXPECT_EQ(list[3].name, "third");
    EXPECT_EQ(list[3].score, 4000);
}

TEST_F(PublicHost, OnlyTheSharedFileIsServedAsPlainBytes)
{
    // What else may lie in the folder: another upload, a name differing only in case,
    // the submitters' lock folder.
    writeFile(s_host->results() + "/evil.html", "<script>alert(1)</script>");
    writeFile(s_host->results() + "/Compare.zip", "other");
    fs::create_directory(s_host->results() + "/compare.lock");
    EXPECT_EQ(httpGet(webUrl("COMPARE.ZIP")).status, 404);

    writeFile(sharedFile(), std::string(5000, 'r'));
    for (const char* name : { "COMPARE.ZIP", "compare.zip", "Compare.Zip" }) {
        HttpAnswer answer = httpGet(webUrl(name));
        EXPECT_EQ(answer.status, 200) << name;
        EXPECT_EQ(answer.body, std::string(5000, 'r')) << name;
        EXPECT_NE(answer.headers.find("Content-Length: 5000"), std::string::npos) << answer.headers;
        EXPECT_NE(answer.headers.find("Content-Type: application/octet-stream"), std::string::npos)
            << answer.headers;
        EXPECT_EQ(answer.headers.find("Content-Encoding"), std::string::npos) << answer.headers;
    }
    for (const char* name : { "evil.html", "compare.lock/", "", "Compare.zip.part-1" })
        EXPECT_EQ(httpGet(webUrl(name)).status / 100, 4) << name;
}

TEST_F(PublicHost, AFtpRefusalNamesTheServersOwnReply)
{
    // A jail the account may write in is what vsftpd refuses outright.
    ASSERT_EQ(::chown(s_host->jail().c_str(), s_host->uid(), s_host->uid()), 0);
    CurlInet inet;
    inet.setProtocol(kProtocolFtp);
    inet.setURL(s_host->host().ftp);
    inet.setUserName("vantrel");
    inet.setPassword(accountPassword());
    if (inet.Execute({}, "DELETE compare.zip")) {
        while (inet.StillExecuting()) { }
    }
    ASSERT_EQ(::chown(s_host->jail().c_str(), 0, 0), 0);
    EXPECT_NE(
        describeTransferFailure(inet.outcome()).find("500 OOPS: vsftpd: refusing to run with writable root"),
        std::string::npos)
        << describeTransferFailure(inet.outcome());
}

// Eight submitters at once against the real servers: every record must be in the shared file.
TEST_F(PublicHost, EightSubmittersAtOnceLoseNoRecord)
{
    constexpr int kSubmitters = 8;
    std::vector<SubmitResult> outcomes(kSubmitters);
    std::vector<std::unique_ptr<TempDir>> folders;
    std::vector<std::thread> threads;
    for (int i = 0; i < kSubmitters; ++i)
        folders.push_back(std::make_unique<TempDir>());
    for (int i = 0; i < kSubmitters; ++i) {
        threads.emplace_back([&, i] {
            SubmitOptions options;
            options.host = s_host->host();
            options.localCopyPath = folders[i]->file("compare.zip");
            outcomes[i] = submitResult(record("submitter " + std::to_string(i), 100 + i), options);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (const auto& outcome : outcomes)
        EXPECT_EQ(outcome.status, SubmitStatus::Submitted) << outcome.cause;
    EXPECT_EQ(DecodeResultRecords(readFile(sharedFile())).size(), static_cast<std::size_t>(kSubmitters));
}

// A holder paused while its rename over compare.zip is on the way (its clock sees the
// pause), or earlier in its turn with a clock that does not: the next holder takes the turn
// over and appends; the first one's late commit must fail on the plain server too, and no
// one is told "Thanks" for a record the file does not hold. Also a submitter paused once its
// file is staged, while another program of the same user, sharing its local copy, submits.
TEST_F(PublicHost, APausedHolderCannotCommitOverTheNextTurn)
{
    const std::string ftp = s_host->host().ftp;
    const std::size_t colon = ftp.rfind(':');
    struct Case {
        const char* held;
        bool skewed;
        bool sharedCopy;
    };
    for (const auto& [held, skewed, sharedCopy] : { Case { "^RNTO compare\\.zip", false, false },
             Case { "^SIZE compare\\.zip", true, false }, Case { "^NLST", false, true } }) {
        SCOPED_TRACE(held);
        writeFile(sharedFile(), EncodeResultRecord(record("earlier", 1)));
        std::filesystem::remove(m_local.file("compare.zip"));
        FtpControlProxy proxy(std::stoi(ftp.substr(colon + 1)), ftp.substr(0, colon));
        proxy.holdOnce(held);
        std::vector<std::string> flags { "--stale-ms", "1500" };
        if (skewed)
            flags.push_back("--skewed-clock");
        if (sharedCopy)
            flags.insert(flags.end(), { "--copy", m_local.file("compare.zip") });
        const pid_t paused = startWorker(
            SUBMIT_WORKER, { s_host->host().web, proxy.address() }, "paused", 1, m_local.file("a"), flags);
        ASSERT_TRUE(proxy.waitHeld(20s)) << readFile(m_local.file("a"));
        ::kill(paused, SIGSTOP);
        const pid_t next = startWorker(SUBMIT_WORKER, s_host->host(), "next", 1, m_local.file("b"), flags);
        EXPECT_EQ(exitCode(next), 0) << readFile(m_local.file("b"));
        ::kill(paused, SIGCONT);
        proxy.release();
        // Its stale commit refused, the first starts again and gets its record in, once.
        EXPECT_EQ(exitCode(paused), 0) << readFile(m_local.file("a"));

        std::map<std::string, int> seen;
        for (const ResultRecord& entry : DecodeResultRecords(readFile(sharedFile())))
            ++seen[entry.name];
        EXPECT_EQ(seen["earlier"], 1);
        EXPECT_EQ(seen["next"], 1);
        EXPECT_EQ(seen["paused"], 1) << readFile(m_local.file("a"));
        EXPECT_EQ(filesIn(s_host->results() + "/"), std::vector<std::string> { "compare.zip" });
    }
}
