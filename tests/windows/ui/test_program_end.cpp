// The real program, started offscreen and ended from outside, keeps its score.
#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vantrel::test::readFile;
using vantrel::test::TempDir;

// The score file wherever the program keeps it below root (beside itself or in the user's data folder).
std::optional<fs::path> findScoreFile(const fs::path& root)
{
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() == "Vantrel3.ini")
            return it->path();
    }
    return std::nullopt;
}

class ProgramEnd : public testing::TestWithParam<int> { };

TEST_P(ProgramEnd, SavesTheScoreAndExitsCleanly)
{
    TempDir dir;
    const fs::path root(dir.path());
    const fs::path program = root / "bin" / "vantrel3";
    fs::create_directories(program.parent_path());
    fs::copy_file(VANTREL3_PROGRAM, program);
    // Home and data folders inside the test folder, so that nothing of the user's is touched.
    ::setenv("HOME", (root / "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root / "home/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root / "home/.config").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    std::string path = program.string();
    char* argv[] = { path.data(), nullptr };
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);

    // Loading creates the file empty; with no run the score is 0, saved as eight zero bytes.
    std::optional<fs::path> scoreFile;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(scoreFile = findScoreFile(root)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(scoreFile) << "the program did not load its score";
    ::kill(pid, GetParam());

    // A program that ignores the signal is stopped here rather than by the test's time-out.
    int status = 0;
    const auto given = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > given) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            FAIL() << "the program did not end";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(readFile(scoreFile->string()), std::string(8, '\0'));
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramEnd, testing::Values(SIGTERM, SIGHUP),
    [](const testing::TestParamInfo<int>& info) { return info.param == SIGTERM ? "SIGTERM" : "SIGHUP"; });

} // namespace
