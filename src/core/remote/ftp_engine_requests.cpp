// The engine's requests for the submission's protocol: folders as names on the host, renames
// as its one atomic step, appends and stores of ranges of the local copy.
#include "core/remote/ftp_engine.h"

namespace vantrel {

namespace {

const TransferOutcome& noControl()
{
    static const TransferOutcome outcome { TransferStatus::OtherError, 0, "No transfer control is set", 0, {} };
    return outcome;
}

} // namespace

void clsFTPEngine::SetWaitForCommands(bool bWait)
{
    m_bWaitForCommands = bWait;
}

bool clsFTPEngine::StillExecuting()
{
    return objInet && objInet->StillExecuting();
}

bool clsFTPEngine::MakeFolder(const std::string& sName)
{
    return SendCommands({ "MKD " + sName });
}

bool clsFTPEngine::RemoveFolder(const std::string& sName)
{
    return SendCommands({ "RMD " + sName });
}

bool clsFTPEngine::DeleteFile(const std::string& sName)
{
    return SendCommands({ "DELE " + sName });
}

bool clsFTPEngine::RenameFile(const std::string& sFrom, const std::string& sTo)
{
    return SendCommands({ "RNFR " + sFrom, "RNTO " + sTo });
}

bool clsFTPEngine::ListFolder(const std::string& sFolder)
{
    return runRequest("NLST " + sFolder, [&](InetControl& inet) { return inet.list(sFolder); });
}

bool clsFTPEngine::AskSize(const std::string& sName)
{
    return SendCommands({ "TYPE I", "SIZE " + sName });
}

bool clsFTPEngine::AskFeatures()
{
    return SendCommands({ "FEAT" });
}

bool clsFTPEngine::SendCommands(const std::vector<std::string>& sCommands)
{
    return runRequest(sCommands.empty() ? std::string() : sCommands.front(),
        [&](InetControl& inet) { return inet.quote(sCommands); });
}

bool clsFTPEngine::StoreFile(const std::string& sName, UploadSource source, std::uint64_t restAt)
{
    return runRequest("STOR " + sName,
        [&](InetControl& inet) { return inet.store(sName, std::move(source), UploadMode::Store, restAt); });
}

bool clsFTPEngine::AppendFile(const std::string& sName, UploadSource source)
{
    return runRequest(
        "APPE " + sName, [&](InetControl& inet) { return inet.store(sName, std::move(source), UploadMode::Append); });
}

const TransferOutcome& clsFTPEngine::Outcome() const
{
    return objInet ? objInet->outcome() : noControl();
}

const std::vector<std::string>& clsFTPEngine::Replies() const
{
    static const std::vector<std::string> none;
    return objInet ? objInet->replies() : none;
}

const std::string& clsFTPEngine::Listing() const
{
    static const std::string none;
    return objInet ? objInet->listing() : none;
}

} // namespace vantrel
