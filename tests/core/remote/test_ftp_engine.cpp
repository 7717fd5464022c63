// The FTP engine's command texts and local file work, against a recording stand-in
// for the transfer control.
#include "core/remote/ftp_engine.h"
#include "core/remote/string_cipher.h"
#include "results_host_process.h"
#include "core/submit/ftp_account.h"
#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::test;

namespace {

const std::string kKey = "QuietHarborLamps";

class RecordingInet : public InetControl {
public:
    std::vector<std::string> calls;
    std::vector<std::string> sentFiles; // the local file of each PUT, as it was when sent
    std::optional<std::string> remoteFile; // what a GET brings; nullopt: no such remote file
    TransferOutcome result; // how each command ends
    bool refuseToStart = false;
    int busyReadings = 0; // StillExecuting is true this often after each command
    int pendingReadings = 0;

    std::string OpenURL(const std::string&, int) override { return {}; }
    bool Execute(const std::string& url, const std::string& operation) override
    {
        calls.push_back("Execute(" + url + ", " + operation + ")");
        if (refuseToStart) {
            m_outcome = { TransferStatus::LocalFileError, 0, "refused", 0, {} };
            return false;
        }
        if (operation.rfind("PUT ", 0) == 0)
            sentFiles.push_back(readFile(operation.substr(4, operation.rfind(' ') - 4)));
        if (operation.rfind("GET ", 0) == 0 && remoteFile && result.ok())
            writeFile(operation.substr(operation.find(' ', 4) + 1), *remoteFile);
        m_outcome = result;
        if (operation.rfind("GET ", 0) == 0 && !remoteFile)
            m_outcome = { TransferStatus::CommandFailed, 0, "550 No such file", 550, {} };
        pendingReadings = busyReadings;
        return true;
    }
    bool StillExecuting() override
    {
        calls.emplace_back("StillExecuting");
        return pendingReadings-- > 0;
    }
    void Cancel() override { }
    void setProtocol(std::int32_t protocol) override
    {
        calls.push_back("Protocol=" + std::to_string(protocol));
    }
    void setURL(const std::string& url) override { calls.push_back("URL=" + url); }
    void setUserName(const std::string& userName) override { calls.push_back("UserName=" + userName); }
    void setPassword(const std::string& password) override { calls.push_back("Password=" + password); }
    std::int32_t Protocol() const override { return kProtocolFtp; }
    std::string URL() const override { return {}; }
    std::string UserName() const override { return {}; }
    std::string Password() const override { return {}; }
    bool quote(std::vector<std::string> commands) override
    {
        std::string joined;
        for (const std::string& command : commands)
            joined += (joined.empty() ? "" : ", ") + command;
        return request("quote(" + joined + ")");
    }
    bool list(const std::string& folder) override { return request("list(" + folder + ")"); }
    bool store(const std::string& remote, UploadSource source, UploadMode mode, std::uint64_t restAt) override
    {
        return request(std::string(mode == UploadMode::Append ? "append(" : "store(") + remote + ", "
            + source.tail + ", " + std::to_string(restAt) + ")");
    }
    const TransferOutcome& outcome() const override { return m_outcome; }
    const std::vector<std::string>& replies() const override { return m_replies; }
    const std::string& listing() const override { return m_listing; }

    std::vector<std::string> executed() const
    {
        std::vector<std::string> result;
        for (const auto& call : calls)
            if (call.rfind("Execute", 0) == 0)
                result.push_back(call);
        return result;
    }

private:
    bool request(const std::string& call)
    {
        calls.push_back(call);
        m_outcome = result;
        pendingReadings = busyReadings;
        return true;
    }

    TransferOutcome m_outcome;
    std::vector<std::string> m_replies;
    std::string m_listing;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_inet = std::make_shared<RecordingInet>();
        m_engine = std::make_unique<clsFTPEngine>([this] { ++m_yields; });
        m_engine->SetEncryptionPassword(kKey);
        m_engine->SetInetObject(m_inet);
        m_engine->SetFTPServer("results.example:21");
        m_engine->SetFTPUsername("vantrel");
        m_engine->SetFTPEncryptedPassword(kFtpEncryptedPassword);
        ASSERT_TRUE(m_engine->LogonInet());
        m_engine->SetCurFTPFile("compare.zip");
        m_inet->calls.clear();
    }
    std::string scratch() const { return m_engine->tempPath() + "compare.zip"; }

    std::shared_ptr<RecordingInet> m_inet;
    std::unique_ptr<clsFTPEngine> m_engine;
    int m_yields = 0;
    TempDir m_local;
};

} // namespace

TEST_F(EngineTest, CommandTextsCharacterForCharacter)
{
    const std::string local = m_local.file("my copy.zip");
    m_inet->remoteFile = "x";
    EXPECT_TRUE(m_engine->CreateCurFile());
    EXPECT_TRUE(m_engine->UploadCurFile(local));
    EXPECT_TRUE(m_engine->DeleteCurFile());
    EXPECT_TRUE(m_engine->DownloadCurFile(local));
    EXPECT_EQ(m_inet->executed(),
        (std::vector<std::string> {
            "Execute(, PUT " + scratch() + " compare.zip)",
            "Execute(, PUT " + local + " compare.zip)",
            "Execute(, DELETE compare.zip)",
            "Execute(, GET compare.zip " + local + ")",
        }));
}

// The protocol's requests, each waited for like a file command, or left running when asked.
TEST_F(EngineTest, ProtocolRequestsWaitUnlessToldNotTo)
{
    m_inet->busyReadings = 1;
    EXPECT_TRUE(m_engine->RenameFile("claim-a", "lock"));
    EXPECT_TRUE(m_engine->AskSize("compare.zip"));
    EXPECT_TRUE(m_engine->AppendFile("compare.zip", { .tail = "rec" }));
    EXPECT_TRUE(m_engine->StoreFile("q/t/next", { .tail = "x" }, 7));
    EXPECT_EQ(m_inet->calls,
        (std::vector<std::string> { "quote(RNFR claim-a, RNTO lock)", "StillExecuting", "StillExecuting",
            "quote(TYPE I, SIZE compare.zip)", "StillExecuting", "StillExecuting", "append(compare.zip, rec, 0)",
            "StillExecuting", "StillExecuting", "store(q/t/next, x, 7)", "StillExecuting", "StillExecuting" }));
    m_inet->calls.clear();
    m_engine->SetWaitForCommands(false);
    EXPECT_TRUE(m_engine->ListFolder("lock"));
    EXPECT_EQ(m_inet->calls, std::vector<std::string> { "list(lock)" });
    EXPECT_TRUE(m_engine->StillExecuting());
    EXPECT_FALSE(m_engine->StillExecuting());
    m_inet->result = { TransferStatus::CommandFailed, 0, "550 gone", 550, "550 gone" };
    m_engine->SetWaitForCommands(true);
    EXPECT_FALSE(m_engine->DeleteFile("lock/hb-a-1"));
    EXPECT_EQ(m_engine->Outcome().ftpReply, 550);
}

TEST_F(EngineTest, LogonSetsTheFourPropertiesInOrderEachTime)
{
    const std::vector<std::string> expected
        = { "Protocol=2", "URL=results.example:21", "UserName=vantrel", "Password=" + accountPassword() };
    EXPECT_TRUE(m_engine->LogonInet());
    EXPECT_EQ(m_inet->calls, expected);
    m_inet->calls.clear();
    m_engine->SetFTPServer("other:2121");
    EXPECT_TRUE(m_engine->LogonInet());
    EXPECT_EQ(m_inet->calls[1], "URL=other:2121");
}

TEST_F(EngineTest, LogonWithoutAKeyStopsBeforeThePassword)
{
    m_engine->SetEncryptionPassword("");
    EXPECT_FALSE(m_engine->LogonInet());
    EXPECT_EQ(m_inet->calls,
        (std::vector<std::string> { "Protocol=2", "URL=results.example:21", "UserName=vantrel" }));
    EXPECT_FALSE(m_engine->errorString().empty());
}

TEST_F(EngineTest, WaitingPollsAndYieldsUntilTheControlIsIdle)
{
    EXPECT_TRUE(m_engine->WaitForInet());
    EXPECT_EQ(m_inet->calls, std::vector<std::string> { "StillExecuting" });
    EXPECT_EQ(m_yields, 0);

    m_inet->busyReadings = 3;
    EXPECT_TRUE(m_engine->DeleteCurFile());
    EXPECT_EQ(m_yields, 3);
    EXPECT_EQ(std::count(m_inet->calls.begin(), m_inet->calls.end(), "StillExecuting"), 5);
}

TEST_F(EngineTest, CreateCurFileSendsAnEmptyFileAndRemovesIt)
{
    writeFile(scratch(), "stale content");
    EXPECT_TRUE(m_engine->CreateCurFile());
    EXPECT_EQ(m_inet->sentFiles, std::vector<std::string> { "" });
    EXPECT_FALSE(std::filesystem::exists(scratch()));
}

TEST_F(EngineTest, CreateWithDataSendsExactlyTheTextAndRemovesTheScratchFile)
{
    writeFile(scratch(), std::string(100, 'L'));
    const std::string data("ab\0c\r\n", 6);
    EXPECT_TRUE(m_engine->CreateWithData(data));
    EXPECT_TRUE(m_engine->CreateWithData(""));
    EXPECT_EQ(m_inet->sentFiles, (std::vector<std::string> { data, "" }));
    EXPECT_FALSE(std::filesystem::exists(scratch()));
}

TEST_F(EngineTest, DownloadWithDataReturnsTheBytesAndRemovesTheScratchFile)
{
    m_inet->remoteFile = std::string("\0\r\n\xff", 4);
    EXPECT_EQ(m_engine->sDownloadWithData(), *m_inet->remoteFile);
    EXPECT_TRUE(m_engine->errorString().empty());
    EXPECT_EQ(
        m_inet->executed(), std::vector<std::string> { "Execute(, GET compare.zip " + scratch() + ")" });
    EXPECT_FALSE(std::filesystem::exists(scratch()));
}

TEST_F(EngineTest, DownloadWithDataOfAMissingFileIsEmpty)
{
    writeFile(scratch(), "left from before");
    EXPECT_EQ(m_engine->sDownloadWithData(), "");
    EXPECT_FALSE(m_engine->errorString().empty());
    EXPECT_FALSE(std::filesystem::exists(scratch()));
}

struct AppendCase {
    const char* name;
    std::optional<std::string> remote;
    std::vector<std::string> lines;
    std::string sent;
};

class EngineAppend : public EngineTest, public ::testing::WithParamInterface<AppendCase> { };

TEST_P(EngineAppend, AppendsQuotedLinesAndKeepsTheScratchFile)
{
    m_inet->remoteFile = GetParam().remote;
    EXPECT_TRUE(m_engine->AppendData(GetParam().lines)) << m_engine->errorString();
    EXPECT_EQ(m_inet->sentFiles, std::vector<std::string> { GetParam().sent });
    EXPECT_EQ(readFile(scratch()), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Contents, EngineAppend,
    ::testing::Values(
        AppendCase { "AfterALineEnd", "x\r\n", { "a", "b", "" }, "x\r\n\"a\"\r\n\"b\"\r\n\"\"\r\n" },
        AppendCase { "WithoutALineEnd", "x", { "a", "b", "" }, "x\"a\"\r\n\"b\"\r\n\"\"\r\n" },
        AppendCase { "QuotesAsTheyStand", "", { "say \"hi\"" }, "\"say \"hi\"\"\r\n" },
        AppendCase { "NoElements", "kept\r\n", {}, "kept\r\n" },
        AppendCase { "MissingRemoteFile", std::nullopt, { "a" }, "\"a\"\r\n" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, AppendNeverUploadsAfterAFailedDownload)
{
    m_inet->remoteFile = "records";
    m_inet->result = { TransferStatus::Unreachable, 0, "Connection refused", 0, {} };
    EXPECT_FALSE(m_engine->AppendData({ "a" }));
    EXPECT_TRUE(m_inet->sentFiles.empty());
    EXPECT_EQ(m_engine->errorString(), "GET compare.zip " + scratch() + ": Connection refused");
}

// A command the control reports as failed fails the operation; the operations that
// go on past a failing step still do their remaining local work.
TEST_F(EngineTest, FailedCommandsAreReported)
{
    m_inet->result = { TransferStatus::LogonRefused, 0, "Access denied: 530", 530, {} };
    EXPECT_FALSE(m_engine->DeleteCurFile());
    EXPECT_EQ(m_engine->errorString(), "DELETE compare.zip: Access denied: 530");
    EXPECT_FALSE(m_engine->UploadCurFile(m_local.file("a")));
    EXPECT_FALSE(m_engine->DownloadCurFile(m_local.file("a")));
    EXPECT_FALSE(m_engine->CreateCurFile());
    EXPECT_FALSE(m_engine->CreateWithData("data"));
    EXPECT_FALSE(std::filesystem::exists(scratch()));
    EXPECT_FALSE(m_engine->errorString().empty());

    m_inet->result = {};
    m_inet->refuseToStart = true;
    EXPECT_FALSE(m_engine->DeleteCurFile());
    EXPECT_EQ(m_engine->errorString(), "DELETE compare.zip: refused");
}

TEST(Engine, WithoutAControlEveryCommandFails)
{
    clsFTPEngine engine;
    engine.SetCurFTPFile("compare.zip");
    EXPECT_FALSE(engine.LogonInet());
    EXPECT_FALSE(engine.WaitForInet());
    EXPECT_FALSE(engine.DeleteCurFile());
    EXPECT_FALSE(engine.CreateWithData("x"));
    EXPECT_EQ(engine.sDownloadWithData(), "");
    EXPECT_FALSE(engine.errorString().empty());
}

TEST(Engine, ScratchFolderIsPrivateAndGoesWithTheEngine)
{
    std::string folder;
    {
        clsFTPEngine engine;
        folder = engine.tempPath();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder.back(), '/');
        struct stat info { };
        ASSERT_EQ(stat(folder.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_NE(clsFTPEngine().tempPath(), folder);
        writeFile(folder + "compare.zip", "left behind");
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
}

// No scratch file may land in the working folder when the private folder can't be made.
TEST(Engine, WithoutAScratchFolderNothingTouchesTheWorkingFolder)
{
    TempDir work;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(work.path());
    const char* tmp = std::getenv("TMPDIR");
    const std::string savedTmp = tmp ? tmp : "";
    setenv("TMPDIR", "/proc", 1); // no folder can be made there, not even by root
    {
        auto inet = std::make_shared<RecordingInet>();
        clsFTPEngine engine;
        engine.SetInetObject(inet);
        engine.SetCurFTPFile("compare.zip");
        EXPECT_EQ(engine.tempPath(), "");
        EXPECT_FALSE(engine.CreateCurFile());
        EXPECT_FALSE(engine.CreateWithData("x"));
        EXPECT_FALSE(engine.AppendData({ "a" }));
        EXPECT_EQ(engine.sDownloadWithData(), "");
        EXPECT_FALSE(engine.errorString().empty());
        EXPECT_TRUE(inet->executed().empty());
    }
    tmp ? setenv("TMPDIR", savedTmp.c_str(), 1) : unsetenv("TMPDIR");
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::is_empty(work.path()));
}

TEST(Engine, CipherUsesTheKeyHeldAtTheCall)
{
    clsFTPEngine engine;
    EXPECT_EQ(engine.sEncrypt(""), std::optional<std::string>(""));
    EXPECT_EQ(engine.sDecrypt("00"), std::nullopt);
    engine.SetEncryptionPassword(kKey);
    const auto cipher = engine.sEncrypt("a password");
    ASSERT_TRUE(cipher);
    EXPECT_EQ(engine.sDecrypt(*cipher), std::optional<std::string>("a password"));
}
