// The transfer control against the real results host on loopback.
#include "build_config.h"
#include "core/remote/curl_inet.h"
#include "core/remote/transfer_cause.h"
#include "shared_results_host.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vantrel;
using namespace vantrel::test;
using namespace std::chrono_literals;

namespace {

const std::string kRecords("one\0two\r\nthree\n\xfe\xff", 18);
// Whole-file transfers of any content go to a file of their own: the host lets the shared file only grow by
// whole records.
const std::string kFile = "results.bin";

void logOn(CurlInet& inet, const ResultsHostProcess& host, const std::string& password = accountPassword())
{
    inet.setProtocol(kProtocolFtp);
    inet.setURL(host.host().ftp);
    inet.setUserName("vantrel");
    inet.setPassword(password);
}

// Runs one command to its end, as the engine does.
TransferOutcome run(CurlInet& inet, const std::string& operation)
{
    if (!inet.Execute({}, operation))
        return inet.outcome();
    while (inet.StillExecuting()) { }
    return inet.outcome();
}

} // namespace

using CurlInetHost = SharedResultsHost;

TEST_F(CurlInetHost, OpenUrlReturnsTheBodyByteForByte)
{
    writeFile(s_host->sharedFile(), kRecords);
    CurlInet inet;
    EXPECT_EQ(inet.OpenURL(s_host->host().web + "/vantrel/COMPARE.ZIP", kByteArray), kRecords);
    EXPECT_TRUE(inet.outcome().ok()) << inet.outcome().text;
    EXPECT_EQ(inet.outcome().httpStatus, 200);
    EXPECT_FALSE(inet.StillExecuting());
    EXPECT_EQ(inet.OpenURL("http://" + s_host->host().web + "/vantrel/compare.zip"), kRecords);
    // Some firewalls turn away requests without one.
    EXPECT_NE(s_host->requestLog().find(" 200 Vantrel3/" VANTREL_VERSION "\n"), std::string::npos)
        << s_host->requestLog();
}

TEST_F(CurlInetHost, OpenUrlOfAMissingFileGivesTheErrorPageAnd404)
{
    CurlInet inet;
    std::string body = inet.OpenURL(s_host->host().web + "/vantrel/COMPARE.ZIP");
    EXPECT_EQ(inet.outcome().status, TransferStatus::HttpError);
    EXPECT_EQ(inet.outcome().httpStatus, 404);
    EXPECT_FALSE(inet.outcome().text.empty());
    EXPECT_EQ(body.rfind("<HTML><HEAD><TITLE>", 0), 0u);
}

TEST_F(CurlInetHost, PutGetAndDeleteAFile)
{
    CurlInet inet;
    logOn(inet, *s_host);
    const std::string local = m_local.file("my results.bin");
    writeFile(local, kRecords);

    TransferOutcome put = run(inet, "PUT " + local + " " + kFile);
    ASSERT_TRUE(put.ok()) << put.text;
    EXPECT_EQ(readFile(s_host->root() + kFile), kRecords);
    EXPECT_EQ(filesIn(s_host->root()), std::vector<std::string> { kFile });

    const std::string back = m_local.file("sub folder with spaces/copy of it");
    std::filesystem::create_directory(m_local.file("sub folder with spaces"));
    // The copy gets the mode of any new file under the umask, not a private one.
    const mode_t umaskBefore = ::umask(027);
    TransferOutcome get = run(inet, "GET " + kFile + " " + back);
    ::umask(umaskBefore);
    ASSERT_TRUE(get.ok()) << get.text;
    EXPECT_EQ(readFile(back), kRecords);
    EXPECT_EQ(std::filesystem::status(back).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(filesIn(m_local.file("sub folder with spaces")), std::vector<std::string> { "copy of it" });

    TransferOutcome del = run(inet, "DELETE " + kFile);
    ASSERT_TRUE(del.ok()) << del.text;
    EXPECT_FALSE(std::filesystem::exists(s_host->root() + kFile));
}

TEST_F(CurlInetHost, PutReplacesALongerFileWhole)
{
    CurlInet inet;
    logOn(inet, *s_host);
    writeFile(s_host->root() + kFile, std::string(5000, 'x'));
    writeFile(m_local.file("short"), "ab");
    ASSERT_TRUE(run(inet, "PUT " + m_local.file("short") + " " + kFile).ok());
    EXPECT_EQ(readFile(s_host->root() + kFile), "ab");
    // Sent under another name and renamed over the target in the end.
    const std::string log = s_host->requestLog();
    EXPECT_NE(log.find("FTP STOR .results.bin.part-"), std::string::npos) << log;
    EXPECT_NE(log.find("FTP RNTO results.bin"), std::string::npos) << log;
}

TEST_F(CurlInetHost, MissingRemoteFilesFailAndLeaveLocalFilesAlone)
{
    CurlInet inet;
    logOn(inet, *s_host);
    const std::string local = m_local.file("copy");
    writeFile(local, "kept");

    TransferOutcome get = run(inet, "GET compare.zip " + local);
    EXPECT_EQ(get.status, TransferStatus::CommandFailed);
    EXPECT_EQ(get.ftpReply, 550);
    EXPECT_EQ(readFile(local), "kept");
    EXPECT_EQ(filesIn(m_local.path()), std::vector<std::string> { "copy" });

    TransferOutcome del = run(inet, "DELETE compare.zip");
    EXPECT_EQ(del.status, TransferStatus::CommandFailed);
    EXPECT_EQ(del.ftpReply, 550);
}

TEST_F(CurlInetHost, ALocalFileThatCannotBeReadOrWrittenIsALocalError)
{
    CurlInet inet;
    logOn(inet, *s_host);
    writeFile(s_host->sharedFile(), kRecords);
    EXPECT_FALSE(inet.Execute({}, "PUT " + m_local.file("absent") + " compare.zip"));
    EXPECT_EQ(inet.outcome().status, TransferStatus::LocalFileError);
    EXPECT_FALSE(inet.Execute({}, "GET compare.zip " + m_local.file("no folder/copy")));
    EXPECT_EQ(inet.outcome().status, TransferStatus::LocalFileError);
    EXPECT_EQ(readFile(s_host->sharedFile()), kRecords);
}

TEST_F(CurlInetHost, OneTransferAtATime)
{
    CurlInet inet;
    logOn(inet, *s_host);
    writeFile(m_local.file("a"), "a");
    ASSERT_TRUE(inet.Execute({}, "PUT " + m_local.file("a") + " " + kFile));
    EXPECT_FALSE(inet.Execute({}, "DELETE " + kFile));
    EXPECT_EQ(inet.OpenURL(s_host->host().web + "/vantrel/RESULTS.BIN"), "");
    EXPECT_EQ(inet.outcome().status, TransferStatus::Busy);
    while (inet.StillExecuting()) { }
    EXPECT_TRUE(inet.outcome().ok()) << inet.outcome().text;
    EXPECT_EQ(readFile(s_host->root() + kFile), "a");
}

class CurlInetMalformed : public ::testing::TestWithParam<const char*> { };

TEST_P(CurlInetMalformed, IsRefusedBeforeAnythingIsSent)
{
    CurlInet inet;
    inet.setProtocol(kProtocolFtp);
    inet.setURL("127.0.0.1:1");
    EXPECT_FALSE(inet.Execute({}, GetParam()));
    EXPECT_EQ(inet.outcome().status, TransferStatus::CommandFailed);
    EXPECT_FALSE(inet.StillExecuting());
}

INSTANTIATE_TEST_SUITE_P(Operations, CurlInetMalformed,
    ::testing::Values("", "PUT", "PUT local", "GET compare.zip", "DELETE", "DELETE ", "LIST compare.zip",
        "DELETE compare.zip\r\nDELE other", "GET a\rb local"));

TEST(CurlInet, CommandsNeedTheFtpProtocol)
{
    CurlInet inet;
    EXPECT_EQ(inet.Protocol(), kProtocolHttp);
    EXPECT_FALSE(inet.Execute({}, "DELETE compare.zip"));
    EXPECT_FALSE(inet.outcome().ok());
}

TEST(CurlInetOutcome, AWrongPasswordIsARefusedLogon)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), kRecords);
    CurlInet inet;
    logOn(inet, host, "wrong");
    TransferOutcome outcome = run(inet, "DELETE compare.zip");
    EXPECT_EQ(outcome.status, TransferStatus::LogonRefused) << outcome.text;
    EXPECT_EQ(outcome.ftpReply, 530);
    // The server's own words reach the user, not a guess at them.
    EXPECT_EQ(outcome.serverReply.rfind("530 ", 0), 0u) << outcome.serverReply;
    EXPECT_NE(describeTransferFailure(outcome).find(outcome.serverReply), std::string::npos);
    EXPECT_EQ(readFile(host.sharedFile()), kRecords);
}

TEST(CurlInetOutcome, AStoppedHostIsUnreachable)
{
    ResultsHostProcess host;
    host.stop();
    CurlInet web;
    EXPECT_EQ(web.OpenURL(host.host().web + "/vantrel/COMPARE.ZIP"), "");
    EXPECT_EQ(web.outcome().status, TransferStatus::Unreachable) << web.outcome().text;
    CurlInet inet;
    logOn(inet, host);
    EXPECT_EQ(run(inet, "DELETE compare.zip").status, TransferStatus::Unreachable);
}

TEST(CurlInetOutcome, ARefusedWriteIsAFailedCommand)
{
    ResultsHostProcess host({ .readOnly = true });
    writeFile(host.sharedFile(), kRecords);
    TempDir local;
    writeFile(local.file("new"), "new");
    CurlInet inet;
    logOn(inet, host);
    TransferOutcome outcome = run(inet, "PUT " + local.file("new") + " compare.zip");
    EXPECT_EQ(outcome.status, TransferStatus::CommandFailed) << outcome.text;
    EXPECT_EQ(readFile(host.sharedFile()), kRecords);
    EXPECT_EQ(filesIn(host.root()), std::vector<std::string> { "compare.zip" });
}

struct HttpFaultCase {
    const char* fault;
    TransferStatus status;
    long httpStatus;
};

class CurlInetHttpFault : public ::testing::TestWithParam<HttpFaultCase> { };

TEST_P(CurlInetHttpFault, IsReported)
{
    ResultsHostProcess host({ .fault = GetParam().fault });
    writeFile(host.sharedFile(), std::string(20000, 'r'));
    CurlInet inet;
    std::string body = inet.OpenURL(host.host().web + "/vantrel/COMPARE.ZIP");
    EXPECT_EQ(inet.outcome().status, GetParam().status) << inet.outcome().text;
    EXPECT_EQ(inet.outcome().httpStatus, GetParam().httpStatus);
    EXPECT_FALSE(inet.outcome().text.empty());
    if (GetParam().status == TransferStatus::HttpError) {
        EXPECT_NE(describeTransferFailure(inet.outcome()).find(std::to_string(GetParam().httpStatus)),
            std::string::npos);
    }
    EXPECT_LT(body.size(), 20000u);
}

INSTANTIATE_TEST_SUITE_P(Faults, CurlInetHttpFault,
    ::testing::Values(HttpFaultCase { "http-500", TransferStatus::HttpError, 500 },
        // A page that is neither the file nor its absence (a case-correcting server's choice of names).
        HttpFaultCase { "http-300", TransferStatus::HttpError, 300 },
        HttpFaultCase { "http-cut", TransferStatus::CutShort, 200 }));

// An upload that ends half way, by time-out or by the user, must leave the shared
// file exactly as it was: never a truncated copy.
class CurlInetCutUpload : public ::testing::TestWithParam<bool> { };

TEST_P(CurlInetCutUpload, LeavesTheRemoteFileAsItWas)
{
    const bool cancel = GetParam();
    ResultsHostProcess host({ .throttle = 64 * 1024 });
    writeFile(host.sharedFile(), kRecords);
    TempDir local;
    writeFile(local.file("big"), std::string(1024 * 1024, 'n'));
    {
        CurlInet inet;
        logOn(inet, host);
        if (!cancel)
            inet.setTimeouts(15s, 1500ms);

        ASSERT_TRUE(inet.Execute({}, "PUT " + local.file("big") + " compare.zip"));
        const auto started = std::chrono::steady_clock::now();
        while (inet.StillExecuting()) {
            if (cancel && std::chrono::steady_clock::now() - started > 1s)
                inet.Cancel();
        }
        EXPECT_EQ(inet.outcome().status, cancel ? TransferStatus::Cancelled : TransferStatus::TimedOut)
            << inet.outcome().text;
        EXPECT_EQ(readFile(host.sharedFile()), kRecords);
    }
    // Once the control is gone, the partial upload under its temporary name has been
    // cleared away too.
    EXPECT_EQ(filesIn(host.root()), std::vector<std::string> { "compare.zip" });
    CurlInet web;
    EXPECT_EQ(web.OpenURL(host.host().web + "/vantrel/COMPARE.ZIP"), kRecords);
}

INSTANTIATE_TEST_SUITE_P(Endings, CurlInetCutUpload, ::testing::Values(false, true),
    [](const auto& info) { return info.param ? "Cancelled" : "TimedOut"; });

TEST(CurlInetWaiting, OpenUrlKeepsYieldingWhileASlowBodyArrives)
{
    ResultsHostProcess host({ .throttle = 20000 });
    writeFile(host.sharedFile(), std::string(10000, 's'));
    int yields = 0;
    CurlInet inet([&] { ++yields; });
    EXPECT_EQ(inet.OpenURL(host.host().web + "/vantrel/COMPARE.ZIP").size(), 10000u);
    EXPECT_GT(yields, 5);
}

// A host refusing for a reason of its own, here too many sessions from one address: its
// words reach the user, a 4xx reply as much as a 5xx one.
TEST(CurlInetOutcome, ATemporaryRefusalIsQuoted)
{
    ResultsHostProcess host({ .extraArgs = { "--max-per-address", "1" } });
    const int held = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port
        = htons(static_cast<uint16_t>(std::stoi(host.host().ftp.substr(host.host().ftp.rfind(':') + 1))));
    ASSERT_EQ(::connect(held, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    char banner[256];
    ASSERT_GT(::recv(held, banner, sizeof banner, 0), 0);
    CurlInet inet;
    logOn(inet, host);
    const TransferOutcome outcome = run(inet, "DELETE compare.zip");
    ::close(held);
    EXPECT_FALSE(outcome.ok());
    EXPECT_NE(describeTransferFailure(outcome).find("421 "), std::string::npos)
        << describeTransferFailure(outcome);
}

// What a broken or hostile host sends is bounded, and the transfer ends with the cause: a
// body larger than the caller takes, a listing without end, a redirect to another server.
TEST(CurlInetBounds, EndTheTransferWithACause)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), std::string(200000, 'r'));
    TempDir local;
    const int fd = ::open(local.file("copy").c_str(), O_WRONLY | O_CREAT, 0600);
    CurlInet web;
    ASSERT_TRUE(
        web.fetch({ .address = host.host().web + "/vantrel/COMPARE.ZIP", .fd = fd, .maxBytes = 1000 }));
    while (web.StillExecuting()) { }
    ::close(fd);
    EXPECT_NE(web.outcome().text.find("larger than 1000 bytes"), std::string::npos) << web.outcome().text;
    EXPECT_LE(readFile(local.file("copy")).size(), 1000u);

    std::filesystem::create_directory(host.root() + "many");
    for (int i = 0; i < 12000; ++i)
        writeFile(host.root() + "many/a-rather-long-file-name-" + std::to_string(i), "");
    CurlInet ftp;
    logOn(ftp, host);
    ASSERT_TRUE(ftp.list("many"));
    while (ftp.StillExecuting()) { }
    EXPECT_NE(ftp.outcome().text.find("longer than 256 KiB"), std::string::npos) << ftp.outcome().text;

    // A server of our own that sends every request on elsewhere.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::listen(listener, 4);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string self = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    std::thread redirects([&] {
        // First to another path here (followed), then to another host (not followed).
        for (const std::string& target :
            { "http://" + self + "/vantrel/moved", std::string("http://127.0.0.2/x") }) {
            const int client = ::accept(listener, nullptr, nullptr);
            char request[1024];
            ::recv(client, request, sizeof request, 0);
            const std::string answer = "HTTP/1.1 302 Found\r\nLocation: " + target
                + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    });
    CurlInet moved;
    EXPECT_EQ(moved.OpenURL(self + "/vantrel/COMPARE.ZIP"), "");
    redirects.join();
    ::close(listener);
    EXPECT_NE(
        moved.outcome().text.find("http://127.0.0.2/x, which is not the results host"), std::string::npos)
        << moved.outcome().text;
}
