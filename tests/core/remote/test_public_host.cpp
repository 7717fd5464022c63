// The public host's recipe, proved: Debian's own vsftpd and Apache run from the shipped
// configuration files (docs/host), with only ports, folders and the account's home
// changed, and the program submits to and reads from them.
//
// Needs root (vsftpd logs local accounts on through PAM and locks them into a chroot).
// The account lives only in a private mount namespace that sees copies of passwd,
// shadow, group and shells; nothing under /etc is changed.
#include "build_config.h"
#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "core/remote/transfer_cause.h"
#include "core/submit/ftp_account.h"
#include "core/results/results_file.h"
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
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <pwd.h>
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

// Binds (free) or connects to (a server listens) a loopback port.
bool tryPort(int port, bool connectTo)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const auto* raw = reinterpret_cast<sockaddr*>(&address);
    const bool ok = (connectTo ? ::connect(fd, raw, sizeof address) : ::bind(fd, raw, sizeof address)) == 0;
    ::close(fd);
    return ok;
}

// The first of count free loopback ports in a row, below the range the system hands
// out to other sockets meanwhile.
int freePorts(int count)
{
    for (int base = 10000 + static_cast<int>(::getpid() % 200) * 100; base + count < 32768; base += count) {
        bool all = true;
        for (int port = base; all && port < base + count; ++port)
            all = tryPort(port, false);
        if (all)
            return base;
    }
    throw std::runtime_error("no free loopback ports");
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

// vsftpd and Apache as the recipe sets them up, in a temporary folder on free ports.
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
                 "apache/sites-enabled", "apache/run", "apache/lock", "apache/log" })
            fs::create_directories(m_dir.file(folder));

        // FTP, HTTP and twenty passive data ports in one free run.
        m_ftpPort = freePorts(22);
        m_httpPort = m_ftpPort + 1;
        startVsftpd(m_ftpPort + 2);
        startApache();
        for (int i = 0; i < 500 && !(tryPort(m_ftpPort, true) && tryPort(m_httpPort, true)); ++i)
            std::this_thread::sleep_for(10ms);
        if (!tryPort(m_ftpPort, true) || !tryPort(m_httpPort, true)) {
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

    ResultsHost host() const
    {
        return { "127.0.0.1:" + std::to_string(m_httpPort), "127.0.0.1:" + std::to_string(m_ftpPort) };
    }
    std::string jail() const { return m_dir.file("jail"); }
    std::string results() const { return m_dir.file("jail/results"); }
    uid_t uid() const { return m_uid; }

private:
    void startVsftpd(int passive)
    {
        std::string conf = readFile(sourceDir() + "/docs/host/vsftpd.conf");
        setOption(conf, "listen_address", "127.0.0.1");
        setOption(conf, "listen_port", std::to_string(m_ftpPort));
        setOption(conf, "pasv_min_port", std::to_string(passive));
        setOption(conf, "pasv_max_port", std::to_string(passive + 19));
        setOption(conf, "userlist_file", m_dir.file("etc/vsftpd.user_list"));
        setOption(conf, "xferlog_file", m_dir.file("xferlog"));
        // Made at boot on a Debian host; a fresh container may lack it.
        if (!fs::is_directory("/var/run/vsftpd/empty")) {
            fs::create_directories(m_dir.file("empty"));
            setOption(conf, "secure_chroot_dir", m_dir.file("empty"));
        }
        writeFile(m_dir.file("etc/vsftpd.conf"), conf);
        writeFile(m_dir.file("etc/vsftpd.user_list"), "vantrel\n");

        // The recipe's account, as useradd and chpasswd would write it.
        const std::string id = std::to_string(m_uid);
        crypt_data data {};
        const char* hash = ::crypt_r(accountPassword().c_str(), "$6$vantreltest$", &data);
        ASSERT_TRUE(hash && hash[0] == '$');
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

        std::string script = "set -e\n";
        for (const char* name : { "passwd", "shadow", "group", "shells" })
            script += std::string("mount --bind ") + m_dir.file("etc/") + name + " /etc/" + name + "\n";
        script += "exec /usr/sbin/vsftpd " + m_dir.file("etc/vsftpd.conf") + "\n";
        m_vsftpd
            = spawn({ "/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script },
                {}, m_dir.file("vsftpd.out"));
    }

    // Debian's own apache2.conf and enabled modules and configuration, plus what the
    // recipe enables (mod_headers, vantrel-results.conf); only Listen is the test's.
    void startApache()
    {
        const std::string root = m_dir.file("apache/");
        fs::create_symlink("/etc/apache2/apache2.conf", root + "apache2.conf");
        writeFile(root + "ports.conf", "Listen 127.0.0.1:" + std::to_string(m_httpPort) + "\n");
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
            replaceAll(readFile(sourceDir() + "/docs/host/vantrel-results.conf"), "/srv/vantrel", jail()));
        m_apache = spawn({ "/usr/sbin/apache2", "-d", root, "-f", root + "apache2.conf", "-DFOREGROUND" },
            { "APACHE_RUN_USER=www-data", "APACHE_RUN_GROUP=www-data",
                "APACHE_PID_FILE=" + root + "run/apache2.pid", "APACHE_RUN_DIR=" + root + "run",
                "APACHE_LOCK_DIR=" + root + "lock", "APACHE_LOG_DIR=" + root + "log", "LANG=C" },
            m_dir.file("apache.out"));
    }

    TempDir m_dir;
    uid_t m_uid = 0;
    int m_ftpPort = 0;
    int m_httpPort = 0;
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
    const int ftpPort = std::stoi(s_host->host().ftp.substr(s_host->host().ftp.rfind(':') + 1));
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
        FtpControlProxy proxy(ftpPort);
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
