#include "core/remote/ftp_engine.h"

#include "core/remote/string_cipher.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

namespace vantrel {

namespace {

// Without its private folder the engine has nowhere safe for its scratch file; a bare
// name would land in whatever folder the program happens to run in.
const char* const kNoScratchFolder = "No private scratch folder could be made";

std::string privateScratchFolder()
{
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    // mkdtemp makes the folder with mode 0700: nobody else can plant a file or link in it.
    std::string pattern = (base / "vantrel3-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern + std::string(1, std::filesystem::path::preferred_separator);
}

bool writeBytes(const std::string& path, const std::string& bytes, std::ios::openmode mode)
{
    std::ofstream out(path, std::ios::binary | mode);
    if (!out)
        return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

std::string cannot(const std::string& what, const std::string& path)
{
    return "Cannot " + what + " " + path + ": " + std::strerror(errno);
}

// The remote file is missing (the server's "no such file" reply), as opposed to a
// download that failed for any other reason.
bool remoteFileMissing(const TransferOutcome& outcome)
{
    return outcome.status == TransferStatus::CommandFailed && outcome.ftpReply == 550;
}

} // namespace

clsFTPEngine::clsFTPEngine(std::function<void()> yield)
    : sTempPath(privateScratchFolder())
    , m_yield(std::move(yield))
{
}

clsFTPEngine::~clsFTPEngine()
{
    objInet.reset();
    if (!sTempPath.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(sTempPath, ec);
    }
}

void clsFTPEngine::SetEncryptionPassword(const std::string& sPassword)
{
    sEncryptionPassword = sPassword;
}

void clsFTPEngine::SetFTPServer(const std::string& sServer)
{
    sFTPServer = sServer;
}

void clsFTPEngine::SetFTPEncryptedPassword(const std::string& sEncPassword)
{
    sFTPEncPassword = sEncPassword;
}

void clsFTPEngine::SetFTPUsername(const std::string& sUsername)
{
    sFTPUsername = sUsername;
}

void clsFTPEngine::SetInetObject(std::shared_ptr<InetControl> objInetControl)
{
    objInet = std::move(objInetControl);
}

void clsFTPEngine::SetCurFTPFile(const std::string& sFile)
{
    sCurFTPFile = sFile;
}

bool clsFTPEngine::LogonInet()
{
    m_errorString.clear();
    if (!objInet)
        return fail("No transfer control is set");
    objInet->setProtocol(kProtocolFtp);
    objInet->setURL(sFTPServer);
    objInet->setUserName(sFTPUsername);
    const std::optional<std::string> password = sDecrypt(sFTPEncPassword);
    if (!password)
        return false;
    objInet->setPassword(*password);
    return true;
}

std::optional<std::string> clsFTPEngine::sEncrypt(const std::string& text) const
{
    std::optional<std::string> result = EncryptString(sEncryptionPassword, text);
    if (!result)
        fail("Cannot encipher: no key is set");
    return result;
}

std::optional<std::string> clsFTPEngine::sDecrypt(const std::string& text) const
{
    std::optional<std::string> result = DecryptString(sEncryptionPassword, text);
    if (!result)
        fail("Cannot decipher: no key is set");
    return result;
}

bool clsFTPEngine::CreateCurFile()
{
    m_errorString.clear();
    if (sTempPath.empty())
        return fail(kNoScratchFolder);
    const std::string scratch = scratchFile();
    if (!writeBytes(scratch, {}, std::ios::trunc))
        return fail(cannot("create", scratch));
    if (!runCommand("PUT " + scratch + " " + sCurFTPFile))
        return false;
    if (std::remove(scratch.c_str()) != 0)
        return fail(cannot("delete", scratch));
    return true;
}

bool clsFTPEngine::DeleteCurFile()
{
    m_errorString.clear();
    return runCommand("DELETE " + sCurFTPFile);
}

bool clsFTPEngine::UploadCurFile(const std::string& sUploadPath)
{
    m_errorString.clear();
    return runCommand("PUT " + sUploadPath + " " + sCurFTPFile);
}

bool clsFTPEngine::DownloadCurFile(const std::string& sDownloadPath)
{
    m_errorString.clear();
    return runCommand("GET " + sCurFTPFile + " " + sDownloadPath);
}

bool clsFTPEngine::CreateWithData(const std::string& sData)
{
    m_errorString.clear();
    if (sTempPath.empty())
        return fail(kNoScratchFolder);
    const std::string scratch = scratchFile();
    std::string firstError;
    // A scratch file that does not hold exactly sData is never sent: it would replace
    // the remote file with something else.
    if (!writeBytes(scratch, sData, std::ios::trunc))
        firstError = cannot("write", scratch);
    else if (!UploadCurFile(scratch))
        firstError = m_errorString;
    std::error_code ec;
    std::filesystem::remove(scratch, ec);
    m_errorString = firstError;
    return firstError.empty();
}

std::string clsFTPEngine::sDownloadWithData()
{
    m_errorString.clear();
    if (sTempPath.empty()) {
        fail(kNoScratchFolder);
        return {};
    }
    const std::string scratch = scratchFile();
    std::error_code ec;
    // A scratch file left by AppendData must not pass for a download that failed.
    std::filesystem::remove(scratch, ec);
    DownloadCurFile(scratch);
    const std::string firstError = m_errorString;
    std::string data = readBytes(scratch);
    std::filesystem::remove(scratch, ec);
    m_errorString = firstError;
    return data;
}

bool clsFTPEngine::AppendData(const std::vector<std::string>& sDataArray)
{
    m_errorString.clear();
    if (sTempPath.empty())
        return fail(kNoScratchFolder);
    const std::string scratch = scratchFile();
    std::error_code ec;
    std::filesystem::remove(scratch, ec);
    // A missing remote file is started afresh; any other failed download stops here,
    // as uploading the new lines alone would throw away the remote file's content.
    if (!DownloadCurFile(scratch) && !(objInet && remoteFileMissing(objInet->outcome())))
        return false;
    m_errorString.clear();

    std::string lines;
    for (const std::string& element : sDataArray)
        lines += "\"" + element + "\"\r\n";
    if (!writeBytes(scratch, lines, std::ios::app))
        return fail(cannot("write", scratch));
    return UploadCurFile(scratch);
}

bool clsFTPEngine::WaitForInet()
{
    if (!objInet)
        return fail("No transfer control is set");
    while (objInet->StillExecuting()) {
        if (m_yield)
            m_yield();
    }
    return true;
}

const std::string& clsFTPEngine::errorString() const
{
    return m_errorString;
}

const std::string& clsFTPEngine::tempPath() const
{
    return sTempPath;
}

// Starts one of the Part's file commands on the control and waits for it; a command
// the control reports as failed fails the operation.
bool clsFTPEngine::runCommand(const std::string& command)
{
    const bool wait = std::exchange(m_bWaitForCommands, true);
    const bool done = runRequest(command, [&](InetControl& inet) { return inet.Execute({}, command); });
    m_bWaitForCommands = wait;
    return done;
}

bool clsFTPEngine::runRequest(const std::string& what, const std::function<bool(InetControl&)>& start)
{
    m_errorString.clear();
    if (!objInet)
        return fail("No transfer control is set");
    if (!start(*objInet))
        return fail(what + ": " + objInet->outcome().text);
    if (!m_bWaitForCommands)
        return true;
    if (!WaitForInet())
        return false;
    const TransferOutcome& outcome = objInet->outcome();
    if (!outcome.ok())
        return fail(what + ": " + (outcome.text.empty() ? "failed" : outcome.text));
    return true;
}

bool clsFTPEngine::fail(std::string why) const
{
    m_errorString = std::move(why);
    return false;
}

// The scratch file is named after the remote file, inside the private folder.
std::string clsFTPEngine::scratchFile() const
{
    std::string name = sCurFTPFile.substr(sCurFTPFile.find_last_of('/') + 1);
    if (name.empty() || name == "." || name == "..")
        name = "scratch";
    return sTempPath + name;
}

} // namespace vantrel
