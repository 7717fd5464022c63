#pragma once

#include "core/remote/inet_control.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// Logs on to the results host's FTP account through an InetControl and runs
// file commands on the current remote file, one at a time, waiting for each.
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

    // Why the last operation that returned false failed. sDownloadWithData, which
    // returns its text whatever happened, leaves it empty only when all went well.
    const std::string& errorString() const;
    // The private scratch folder, ending in the native separator.
    const std::string& tempPath() const;

private:
    bool runCommand(const std::string& command);
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
};

} // namespace vantrel
