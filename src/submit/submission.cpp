#include "submit/submission.h"

#include "remote/curl_inet.h"
#include "remote/ftp_engine.h"
#include "remote/transfer_cause.h"
#include "submit/ftp_account.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace vantrel {

std::optional<SubmissionProblem> checkSubmission(const ResultRecord& record)
{
    if (record.name.empty())
        return SubmissionProblem { "You must specify your name (or nickname).", "Blah" };
    if (std::find(kOsNames.begin(), kOsNames.end(), record.os) == kOsNames.end())
        return SubmissionProblem { "You must specify your OS.", "w00t" };
    if (record.processor.empty())
        return SubmissionProblem { "You must give your processor's description.",
            "All your base are belong to us" };
    return std::nullopt;
}

namespace {

SubmitResult failed(std::string cause)
{
    return { SubmitStatus::Failed, std::move(cause), false };
}

SubmitResult cancelled()
{
    return { SubmitStatus::Cancelled, "the submission was cancelled", false };
}

bool writeWhole(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

} // namespace

// Download, append, upload: one pass without any exclusion of other submitters yet.
SubmitResult submitResult(const ResultRecord& record, const SubmitOptions& options, std::stop_token stop)
{
    auto report = [&](SubmitStage stage) {
        if (options.progress)
            options.progress(stage);
    };
    auto yield = [&] {
        if (options.yield)
            options.yield();
    };

    auto inet = std::make_shared<CurlInet>(options.yield);
    std::stop_callback cancelOnStop(stop, [&inet] { inet->Cancel(); });

    report(SubmitStage::Contacting);
    const std::string body = inet->OpenURL(options.host.web + kSharedFileWebPath, kByteArray);
    while (inet->StillExecuting())
        yield();
    if (stop.stop_requested())
        return cancelled();

    bool missing = false;
    const TransferOutcome& outcome = inet->outcome();
    if (outcome.ok())
        missing = IsHostErrorPage(body);
    else if (outcome.status == TransferStatus::HttpError && outcome.httpStatus == 404)
        missing = true;
    else
        return failed("the results file could not be downloaded (" + describeTransferFailure(outcome) + ").");
    // Anything but whole records would swallow the new record or drop the old ones on upload.
    if (!missing && !IsWholeRecordRun(body))
        return failed("the results file on the host is damaged or is not a results file.");

    const std::string whole = (missing ? std::string() : body) + EncodeResultRecord(record);
    if (!options.localCopyPath.empty() && !writeWhole(options.localCopyPath, whole))
        return failed("the local copy " + options.localCopyPath + " could not be written.");

    clsFTPEngine engine(options.yield);
    engine.SetEncryptionPassword(kEncryptionKey);
    engine.SetInetObject(inet);
    engine.SetFTPServer(options.host.ftp);
    engine.SetFTPUsername(kFtpUserName);
    engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
    if (!engine.LogonInet())
        return failed("the logon to the results host failed (" + engine.errorString() + ").");
    engine.SetCurFTPFile(kSharedFileName);
    if (stop.stop_requested())
        return cancelled();

    report(SubmitStage::Uploading);
    if (!engine.CreateWithData(whole)) {
        if (stop.stop_requested())
            return cancelled();
        const TransferOutcome& last = inet->outcome();
        return failed("the upload to the results host failed ("
            + (last.ok() ? engine.errorString() : describeTransferFailure(last)) + ").");
    }
    return { SubmitStatus::Submitted, {}, true };
}

} // namespace vantrel
