// The results host tool itself, spoken to with plain libcurl: what the program and
// the other tests take for granted about it.
#include "record_bytes.h"
#include "results_host_process.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using namespace vantrel::test;

namespace {

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    curl_off_t announced = -1;
};

size_t collect(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

Reply fetch(const std::string& url, const std::string& user = {})
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    Reply reply;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 30L);
    if (!user.empty())
        curl_easy_setopt(curl.get(), CURLOPT_USERPWD, user.c_str());
    reply.code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &reply.announced);
    return reply;
}

std::string web(const ResultsHostProcess& host, const std::string& path)
{
    return "http://" + host.host().web + path;
}

const std::string kContent("rec\0ord\r\n\xff", 10);

} // namespace

TEST(ResultsHost, ServesTheFolderUnderVantrelWithoutRegardToCase)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), kContent);
    for (const char* path : { "/vantrel/COMPARE.ZIP", "/vantrel/compare.zip", "/VANTREL/Compare.Zip" }) {
        Reply reply = fetch(web(host, path));
        EXPECT_EQ(reply.code, CURLE_OK) << path;
        EXPECT_EQ(reply.status, 200) << path;
        EXPECT_EQ(reply.body, kContent) << path;
        EXPECT_EQ(reply.announced, static_cast<curl_off_t>(kContent.size())) << path;
    }
    EXPECT_NE(host.requestLog().find("HTTP GET /vantrel/COMPARE.ZIP 200"), std::string::npos);
}

TEST(ResultsHost, AnswersMissingFilesWithTheErrorPage)
{
    TempDir emptyPage;
    ResultsHostProcess host({ .page = emptyPage.path() });
    // Of the data folder, only the shared file is served.
    writeFile(host.root() + "other", "x");
    for (const char* path :
        { "/vantrel/COMPARE.ZIP", "/vantrel/", "/vantrel/other", "/vantrel/../data/other", "/other" }) {
        Reply reply = fetch(web(host, path));
        EXPECT_EQ(reply.status, 404) << path;
        EXPECT_EQ(reply.body.rfind("<HTML><HEAD><TITLE>", 0), 0u) << path;
        EXPECT_EQ(reply.announced, static_cast<curl_off_t>(reply.body.size())) << path;
    }
}

TEST(ResultsHost, FtpAccountWritesWhatTheWebServes)
{
    ResultsHostProcess host;
    TempDir local;
    // Whole records: the host takes nothing else for the shared file.
    const std::string records = encodeRecords({ { "Ann", "", "Win 98", "K6", 1.5 } });
    writeFile(local.file("up"), records);
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    std::string url = "ftp://" + host.host().ftp + "/compare.zip";
    FILE* in = fopen(local.file("up").c_str(), "rb");
    ASSERT_NE(in, nullptr);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_USERPWD, ("vantrel:" + accountPassword()).c_str());
    curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_READDATA, in);
    EXPECT_EQ(curl_easy_perform(curl.get()), CURLE_OK);
    fclose(in);
    EXPECT_EQ(readFile(host.sharedFile()), records);
    EXPECT_EQ(fetch(web(host, "/vantrel/COMPARE.ZIP")).body, records);
    EXPECT_NE(host.requestLog().find("FTP STOR compare.zip"), std::string::npos);
    EXPECT_NE(host.requestLog().find("FTP PASS ****"), std::string::npos);
}

TEST(ResultsHost, RefusesAWrongPasswordAndHonoursAnother)
{
    ResultsHostProcess host({ .password = "other" });
    writeFile(host.sharedFile(), kContent);
    std::string url = "ftp://" + host.host().ftp + "/compare.zip";
    EXPECT_EQ(fetch(url, "vantrel:" + accountPassword()).code, CURLE_LOGIN_DENIED);
    Reply reply = fetch(url, "vantrel:other");
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.body, kContent);
}

TEST(ResultsHost, FaultsAreProvokedOnRequest)
{
    ResultsHostProcess failing({ .fault = "http-500" });
    writeFile(failing.sharedFile(), kContent);
    EXPECT_EQ(fetch(web(failing, "/vantrel/COMPARE.ZIP")).status, 500);

    ResultsHostProcess cutting({ .fault = "http-cut" });
    writeFile(cutting.sharedFile(), std::string(10000, 'x'));
    Reply reply = fetch(web(cutting, "/vantrel/COMPARE.ZIP"));
    EXPECT_EQ(reply.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(reply.announced, 10000);
    EXPECT_LT(reply.body.size(), 10000u);
}

TEST(ResultsHost, StopRefusesConnectionsAndStartServesTheSameFolderAgain)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), kContent);
    const auto before = host.host();
    host.stop();
    EXPECT_FALSE(host.running());
    EXPECT_EQ(host.host().web, before.web);
    EXPECT_EQ(fetch(web(host, "/vantrel/COMPARE.ZIP")).code, CURLE_COULDNT_CONNECT);
    // On ports of its own: a restart never waits for the old ones to be free.
    host.start();
    EXPECT_TRUE(host.running());
    EXPECT_EQ(fetch(web(host, "/vantrel/COMPARE.ZIP")).body, kContent);
}
