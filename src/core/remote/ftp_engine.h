#pragma once

#include "core/remote/inet_control.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// Logs on to the results host's FTP account through an InetControl and runs
// file commands on the current remote file, and the requests of the submission's
// protocol, one at a time, waiting for each (unless told not to wait).
// The account password is held enciphered and deciphered only at logon.
class clsFTPEngine {
public:
    // yield processes pending user-interface events once; it runs while waiting.
    explicit clsFTPEngine(std::function<void()> yield = {});
    ~clsFTPEngine();
    clsFTPEngine(const clsFTPEngine&) = delete;
    clsFTPEngine& operator=(const clsFTPEngine&) = delete;

    void SetEncryptionPassword(const std::string& sPassword);
    void SetFTPServer(const std::string& sServer);
    void SetFTPEncryptedPassword(const std::string& sEncPassword);
    void SetFTPUsername(const std::string& sUsername);
    void SetInetObject(std::shared_ptr<InetControl> objInetControl);
    void SetCurFTPFile(const std::string& sFile);
    bool LogonInet();
    std::optional<std::string> sEncrypt(const std::string& text) const;
    std::optional<std::string> sDecrypt(const std::string& text) const;
    bool CreateCurFile();
    bool DeleteCurFile();
    bool UploadCurFile(const std::string& sUploadPath);
    bool DownloadCurFile(const std::string& sDownloadPath);
    bool CreateWithData(const std::string& sData);
    std::string sDownloadWithData();
    bool AppendData(const std::vector<std::string>& sDataArray);
    bool WaitForInet();

    // The submission's protocol. Each request starts on the control and then waits like the
    // file commands do; false when it could not start or, when waiting, failed: Outcome() says why.
    // Without waiting the caller polls StillExecuting() and reads Outcome() once it is false.
    void SetWaitForCommands(bool bWait);
    bool StillExecuting();
    bool MakeFolder(const std::string& sName);
    bool RemoveFolder(const std::string& sName);
    bool DeleteFile(const std::string& sName);
    bool RenameFile(const std::string& sFrom, const std::string& sTo);
    // NLST ("" is the starting folder); the names in Listing().
    bool ListFolder(const std::string& sFolder);
    // The file's size, "213 n" in Replies(); a missing file is refused with 550.
    bool AskSize(const std::string& sName);
    // FEAT: the server's extensions, one a line in Replies().
    bool AskFeatures();
    // Every command is sent, even after a refusal; Outcome() is the first refusal.
    bool SendCommands(const std::vector<std::string>& sCommands);
    bool StoreFile(const std::string& sName, UploadSource source, std::uint64_t restAt = 0);
    bool AppendFile(const std::string& sName, UploadSource source);
    const TransferOutcome& Outcome() const;
    const std::vector<std::string>& Replies() const;
    const std::string& Listing() const;

    // Why the last operation that returned false failed. sDownloadWithData, which
    // returns its text whatever happened, leaves it empty only when all went well.
    const std::string& errorString() const;
    // The private scratch folder, ending in the native separator.
    const std::string& tempPath() const;

private:
    bool runCommand(const std::string& command);
    bool runRequest(const std::string& what, const std::function<bool(InetControl&)>& start);
    bool fail(std::string why) const;
    std::string scratchFile() const;

    std::string sFTPServer;
    std::string sFTPUsername;
    std::string sFTPEncPassword;
    std::shared_ptr<InetControl> objInet;
    std::string sEncryptionPassword;
    std::string sTempPath;
    std::string sCurFTPFile;
    std::function<void()> m_yield;
    mutable std::string m_errorString;
    bool m_bWaitForCommands = true;
};

} // namespace vantrel
