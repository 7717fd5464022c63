// Where the program looks for its results host, first place first: the command line, the
// environment, the user's settings file, the system's, the address built in.
#include "core/remote/host_choice.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <map>

using namespace vantrel;
using namespace vantrel::test;

struct ChoiceCase {
    const char* name;
    bool flag;
    const char* variable; // VANTREL3_WEB, or null for unset
    const char* user; // the user's settings file, or null for none
    const char* system;
    const char* web; // the address chosen
    const char* webFrom; // "user" and "system" stand for the files' paths
};

class HostChoice : public ::testing::TestWithParam<ChoiceCase> { };

TEST_P(HostChoice, TakesTheFirstPlaceThatNamesIt)
{
    const ChoiceCase& c = GetParam();
    TempDir dir;
    const std::string user = dir.file("user.conf");
    const std::string system = dir.file("system.conf");
    if (c.user)
        writeFile(user, c.user);
    if (c.system)
        writeFile(system, c.system);
    std::map<std::string, std::string> environment;
    if (c.variable)
        environment["VANTREL3_WEB"] = c.variable;
    const auto getenv = [&](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };
    const ChosenHost chosen = chooseResultsHost(
        c.flag ? std::optional<std::string>("flag:80") : std::nullopt, std::nullopt, getenv, user, system);
    EXPECT_EQ(chosen.host.web, c.web);
    const std::string from = c.webFrom;
    EXPECT_EQ(chosen.webFrom, from == "user" ? user : from == "system" ? system : from);
}

INSTANTIATE_TEST_SUITE_P(Places, HostChoice,
    ::testing::Values(ChoiceCase { "Flag", true, "variable:80", "web = user:80\n", "web = system:80\n",
                          "flag:80", "--web" },
        ChoiceCase {
            "Variable", false, "variable:80", "web = user:80\n", nullptr, "variable:80", "VANTREL3_WEB" },
        // As `VANTREL3_WEB= vantrel3` sets it: no address, so the next place decides.
        ChoiceCase { "EmptyVariableFallsThrough", false, "", "web = user:80\n", nullptr, "user:80", "user" },
        ChoiceCase { "UserFile", false, nullptr, "# mine\n web=user:80 # here\n", "web = system:80\n",
            "user:80", "user" },
        ChoiceCase { "SystemFile", false, nullptr, "ftp = other:21\n", "web = system:80\nftp = s:21\n",
            "system:80", "system" },
        ChoiceCase { "BadValueFallsThrough", false, nullptr, "web = not an address\n", "web = system:80\n",
            "system:80", "system" },
        ChoiceCase { "BuiltIn", false, nullptr, nullptr, nullptr, VANTREL_WEB_HOST, "built in" }),
    [](const auto& info) { return info.param.name; });

// Each address is chosen on its own: one from the command line, the other from a file.
TEST(HostChoiceEach, AddressOnItsOwn)
{
    TempDir dir;
    writeFile(dir.file("user.conf"), "ftp = ftp.example.org:2121\n");
    const ChosenHost chosen = chooseResultsHost(
        "web.example.org:80", std::nullopt, [](const char*) -> const char* { return nullptr; },
        dir.file("user.conf"), dir.file("none.conf"));
    EXPECT_EQ(chosen.host.ftp, "ftp.example.org:2121");
    EXPECT_EQ(chosen.ftpFrom, dir.file("user.conf"));
    EXPECT_EQ(describeChosenHost(chosen),
        "results host: web web.example.org:80 (--web), FTP ftp.example.org:2121 (" + dir.file("user.conf")
            + ")");
}

TEST(HostAndPort, Checks)
{
    for (const char* good : { "results.example.org:80", "127.0.0.1:28080", "[::1]:21" })
        EXPECT_TRUE(isHostAndPort(good)) << good;
    for (const char* bad :
        { "example.org", ":80", "host:0", "host:65536", "http://host:80", "host:8x", "a b:80" })
        EXPECT_FALSE(isHostAndPort(bad)) << bad;
}
