// The FTP engine over the real transfer control, against the real results host.
#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "core/submit/ftp_account.h"
#include "shared_results_host.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace vantrel;
using namespace vantrel::test;

namespace {

// Set up as the submission window does it.
struct Client {
    explicit Client(const ResultsHostProcess& host,
        const std::string& encryptedPassword = kFtpEncryptedPassword,
        const std::string& file = kSharedFileName)
    {
        engine.SetEncryptionPassword(kEncryptionKey);
        engine.SetInetObject(inet);
        engine.SetFTPServer(host.host().ftp);
        engine.SetFTPUsername(kFtpUserName);
        engine.SetFTPEncryptedPassword(encryptedPassword);
        engine.LogonInet();
        engine.SetCurFTPFile(file);
    }
    std::shared_ptr<CurlInet> inet = std::make_shared<CurlInet>();
    clsFTPEngine engine;
};

const std::string kRecords("\x03\0\0\0abc\r\n\0\xff", 11);

// The engine's file operations on a file of its own: the host lets the shared file only grow by whole
// records.
const std::string kFile = "engine.bin";

class EngineHost : public SharedResultsHost {
protected:
    static std::string remote() { return s_host->root() + kFile; }
};

} // namespace

TEST_F(EngineHost, UploadDownloadAndDelete)
{
    Client client(*s_host, kFtpEncryptedPassword, kFile);
    writeFile(m_local.file("up load"), kRecords);
    ASSERT_TRUE(client.engine.UploadCurFile(m_local.file("up load"))) << client.engine.errorString();
    EXPECT_EQ(readFile(remote()), kRecords);

    ASSERT_TRUE(client.engine.DownloadCurFile(m_local.file("down load")));
    EXPECT_EQ(readFile(m_local.file("down load")), kRecords);

    ASSERT_TRUE(client.engine.DeleteCurFile());
    EXPECT_FALSE(std::filesystem::exists(remote()));
    EXPECT_FALSE(client.engine.DeleteCurFile());
}

// The requests the submitters exclude each other with, and the one rule they rest on: a
// folder renamed onto a folder that holds a file fails, onto an empty one succeeds.
TEST_F(EngineHost, FolderRequests)
{
    Client client(*s_host);
    clsFTPEngine& ftp = client.engine;
    const std::string root = s_host->root();
    auto listed = [&] {
        std::string names = ftp.Listing();
        std::erase(names, '\r');
        return names;
    };

    ASSERT_TRUE(ftp.MakeFolder("claim-a"));
    writeFile(root + "claim-a/hb-a-0", "a");
    ASSERT_TRUE(ftp.RenameFile("claim-a", "lock"));
    ASSERT_TRUE(ftp.ListFolder("lock"));
    EXPECT_EQ(listed(), "hb-a-0\n");

    ASSERT_TRUE(ftp.MakeFolder("claim-b"));
    writeFile(root + "claim-b/hb-b-0", "b");
    EXPECT_FALSE(ftp.RenameFile("claim-b", "lock"));
    EXPECT_EQ(ftp.Outcome().ftpReply, 550);
    ASSERT_TRUE(ftp.ListFolder("lock"));
    EXPECT_EQ(listed(), "hb-a-0\n");

    ASSERT_TRUE(ftp.RenameFile("lock/hb-a-0", "lock/hb-a-1"));
    EXPECT_FALSE(ftp.RenameFile("lock/hb-a-0", "lock/hb-a-2"));
    EXPECT_EQ(ftp.Outcome().ftpReply, 550);
    EXPECT_FALSE(ftp.RemoveFolder("lock"));
    ASSERT_TRUE(ftp.DeleteFile("lock/hb-a-1"));
    ASSERT_TRUE(ftp.ListFolder("lock"));
    EXPECT_EQ(listed(), "");
    ASSERT_TRUE(ftp.RenameFile("claim-b", "lock"));
    ASSERT_TRUE(ftp.ListFolder("lock"));
    EXPECT_EQ(listed(), "hb-b-0\n");

    ASSERT_TRUE(ftp.DeleteFile("lock/hb-b-0"));
    ASSERT_TRUE(ftp.RemoveFolder("lock"));
    EXPECT_FALSE(ftp.ListFolder("lock"));
    EXPECT_TRUE(std::filesystem::is_empty(root));
    EXPECT_FALSE(ftp.MakeFolder("a\r\nDELE x"));
}

TEST_F(EngineHost, CreateCurFileEmptiesTheRemoteFile)
{
    writeFile(remote(), kRecords);
    Client client(*s_host, kFtpEncryptedPassword, kFile);
    ASSERT_TRUE(client.engine.CreateCurFile()) << client.engine.errorString();
    EXPECT_EQ(readFile(remote()), "");
    EXPECT_TRUE(std::filesystem::is_empty(client.engine.tempPath()));
}

TEST_F(EngineHost, CreateWithDataReplacesTheWholeContent)
{
    Client client(*s_host, kFtpEncryptedPassword, kFile);
    ASSERT_TRUE(client.engine.CreateWithData(std::string(3000, 'L')));
    ASSERT_TRUE(client.engine.CreateWithData(kRecords));
    EXPECT_EQ(readFile(remote()), kRecords);
    ASSERT_TRUE(client.engine.CreateWithData(""));
    EXPECT_EQ(readFile(remote()), "");
    EXPECT_TRUE(std::filesystem::is_empty(client.engine.tempPath()));
}

TEST_F(EngineHost, DownloadWithDataKeepsEveryByte)
{
    writeFile(remote(), kRecords);
    Client client(*s_host, kFtpEncryptedPassword, kFile);
    EXPECT_EQ(client.engine.sDownloadWithData(), kRecords);
    EXPECT_TRUE(client.engine.errorString().empty());
    EXPECT_TRUE(std::filesystem::is_empty(client.engine.tempPath()));
}

TEST_F(EngineHost, AppendDataAddsQuotedLines)
{
    // Line-end variants of the earlier content are covered against the stand-in control.
    writeFile(remote(), "x");
    {
        Client client(*s_host, kFtpEncryptedPassword, kFile);
        ASSERT_TRUE(client.engine.AppendData({ "a", "b", "" })) << client.engine.errorString();
        EXPECT_EQ(readFile(remote()), "x\"a\"\r\n\"b\"\r\n\"\"\r\n");
    }
    std::filesystem::remove(remote());
    Client client(*s_host, kFtpEncryptedPassword, kFile);
    ASSERT_TRUE(client.engine.AppendData({ "first" }));
    EXPECT_EQ(readFile(remote()), "\"first\"\r\n");
}

TEST(EngineOutcome, AWrongPasswordFailsEveryCommand)
{
    ResultsHostProcess host({ .password = "not-the-one" });
    writeFile(host.sharedFile(), kRecords);
    Client client(host);
    EXPECT_FALSE(client.engine.CreateWithData("x"));
    EXPECT_EQ(client.inet->outcome().status, TransferStatus::LogonRefused);
    EXPECT_FALSE(client.engine.errorString().empty());
    EXPECT_EQ(readFile(host.sharedFile()), kRecords);
}

TEST(EngineOutcome, AStoppedHostFailsAndAppendUploadsNothing)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), kRecords);
    Client client(host);
    host.stop();
    EXPECT_FALSE(client.engine.AppendData({ "a" }));
    EXPECT_EQ(client.inet->outcome().status, TransferStatus::Unreachable);
    EXPECT_EQ(client.engine.sDownloadWithData(), "");
    EXPECT_FALSE(client.engine.errorString().empty());
    host.start();
    EXPECT_EQ(readFile(host.sharedFile()), kRecords);
}

TEST(EngineOutcome, ARefusedWriteLeavesTheSharedFileAlone)
{
    ResultsHostProcess host({ .readOnly = true });
    writeFile(host.sharedFile(), kRecords);
    Client client(host);
    EXPECT_FALSE(client.engine.CreateWithData("shorter"));
    EXPECT_EQ(client.inet->outcome().status, TransferStatus::CommandFailed);
    EXPECT_EQ(readFile(host.sharedFile()), kRecords);
    EXPECT_TRUE(std::filesystem::is_empty(client.engine.tempPath()));
}
