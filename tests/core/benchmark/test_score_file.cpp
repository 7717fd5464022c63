#include "core/benchmark/score_file.h"
#include "temp_dir.h"

#include <clocale>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Every fsync of the process while a test watches: the file synced, and what the score file
// held at that moment. Only the order of syncs and rename shows whether a power cut could
// leave a renamed but empty file, and nothing but the calls themselves can show that order.
struct Sync {
    std::string path;
    std::string scoreFileThen;
};
std::vector<Sync>* watchedSyncs = nullptr;
std::string watchedScoreFile;

void recordSync(int fd)
{
    if (!watchedSyncs)
        return;
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    watchedSyncs->push_back({ path.string(), vantrel::test::readFile(watchedScoreFile) });
}

} // namespace

// Stand in for the C library's, for this program only.
extern "C" int fsync(int fd)
{
    recordSync(fd);
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

extern "C" int fdatasync(int fd)
{
    recordSync(fd);
    return static_cast<int>(::syscall(SYS_fdatasync, fd));
}

namespace vantrel {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

std::string bytes(std::initializer_list<unsigned char> values)
{
    return std::string(values.begin(), values.end());
}

struct LayoutCase {
    double score;
    std::string bytes;
};

class ScoreLayoutTest : public testing::TestWithParam<LayoutCase> { };

TEST_P(ScoreLayoutTest, WritesLittleEndianDoubleAndReadsItBack)
{
    TempDir dir;
    const std::string path = dir.file(kScoreFileName);
    ASSERT_TRUE(SaveScore(path, GetParam().score));
    EXPECT_EQ(readFile(path), GetParam().bytes);
    EXPECT_EQ(LoadScore(path), GetParam().score);
}

INSTANTIATE_TEST_SUITE_P(Values, ScoreLayoutTest,
    testing::Values(LayoutCase { 1, bytes({ 0, 0, 0, 0, 0, 0, 0xF0, 0x3F }) },
        LayoutCase { 1234567, bytes({ 0, 0, 0, 0, 0x87, 0xD6, 0x32, 0x41 }) },
        LayoutCase { -2.5, bytes({ 0, 0, 0, 0, 0, 0, 0x04, 0xC0 }) },
        LayoutCase { 0.1, bytes({ 0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F }) }));

TEST(ScoreFile, MissingFileIsCreatedEmptyAndExitWritesEightZeroBytes)
{
    TempDir dir;
    const std::string path = dir.file(kScoreFileName);
    EXPECT_EQ(LoadScore(path), 0);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_TRUE(SaveScore(path, 0));
    EXPECT_EQ(readFile(path), std::string(8, '\0'));
}

TEST(ScoreFile, BytesAfterTheFirstEightAreKept)
{
    TempDir dir;
    const std::string path = dir.file(kScoreFileName);
    const std::string tail = bytes({ 0xDE, 0xAD, 0xBE, 0xEF });
    writeFile(path, bytes({ 0, 0, 0, 0, 0, 0, 0x59, 0x40 }) + tail); // 100
    EXPECT_EQ(LoadScore(path), 100);
    EXPECT_EQ(readFile(path).size(), 12u);
    ASSERT_TRUE(SaveScore(path, 1));
    EXPECT_EQ(readFile(path), bytes({ 0, 0, 0, 0, 0, 0, 0xF0, 0x3F }) + tail);
}

class ShortFileTest : public testing::TestWithParam<int> { };

TEST_P(ShortFileTest, ReadsAsZeroAndIsLeftAsItIs)
{
    TempDir dir;
    const std::string path = dir.file(kScoreFileName);
    const std::string content(static_cast<std::size_t>(GetParam()), '\x40');
    writeFile(path, content);
    EXPECT_EQ(LoadScore(path), 0);
    EXPECT_EQ(readFile(path), content);
}

INSTANTIATE_TEST_SUITE_P(OneToSevenBytes, ShortFileTest, testing::Values(1, 7));

TEST(ScoreFile, UnusablePlacesGiveZeroAndAFailedSave)
{
    TempDir dir;
    const std::string inMissingFolder = dir.file("no-such-folder/") + kScoreFileName;
    EXPECT_EQ(LoadScore(inMissingFolder), 0);
    EXPECT_FALSE(SaveScore(inMissingFolder, 5));

    // A folder where the file should be.
    const std::string folder = dir.file(kScoreFileName);
    std::filesystem::create_directory(folder);
    EXPECT_EQ(LoadScore(folder), 0);
    EXPECT_FALSE(SaveScore(folder, 5));
}

// A disk that fills up half-way through the write (a file size limit stands in for it, since
// permissions do not bind the superuser the tests run as): the old file stays whole.
TEST(ScoreFile, FailedWriteLeavesTheOldFileWhole)
{
    TempDir dir;
    const std::string path = dir.file(kScoreFileName);
    const std::string old = bytes({ 0, 0, 0, 0, 0, 0, 0x59, 0x40 }) + "tail";
    writeFile(path, old);

    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved7 = SaveScore(path, 7);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saved7);
    EXPECT_EQ(readFile(path), old);
    // No half-written file is left beside it either.
    EXPECT_EQ(test::filesIn(dir.path()), std::vector<std::string> { kScoreFileName });
}

TEST(ScoreFile, ReadOnlyFileIsStillReadAndFolderWithoutWriteAccessIsSurvived)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    TempDir dir;
    const std::string path = dir.file(kScoreFileName);
    writeFile(path, bytes({ 0, 0, 0, 0, 0, 0, 0x59, 0x40 }));
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(LoadScore(path), 100);
    EXPECT_FALSE(SaveScore(path, 7));

    TempDir locked;
    ::chmod(locked.path().c_str(), 0555);
    EXPECT_EQ(LoadScore(locked.file(kScoreFileName)), 0);
    EXPECT_FALSE(SaveScore(locked.file(kScoreFileName), 7));
    ::chmod(locked.path().c_str(), 0755);
}

// The new file's data reaches the disk before its name replaces the old file's, and the
// rename itself before the save reports success.
TEST(ScoreFile, SyncsTheNewFileBeforeTheRenameAndTheFolderAfterIt)
{
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string path = dir.file(kScoreFileName);
    const std::string old = bytes({ 0, 0, 0, 0, 0, 0, 0x59, 0x40 }) + "tail";
    writeFile(path, old);
    const std::string saved = bytes({ 0, 0, 0, 0, 0, 0, 0xF0, 0x3F }) + "tail";

    std::vector<Sync> syncs;
    watchedScoreFile = path;
    watchedSyncs = &syncs;
    const bool ok = SaveScore(path, 1);
    watchedSyncs = nullptr;
    ASSERT_TRUE(ok);
    ASSERT_EQ(readFile(path), saved);

    const fs::path folder = fs::canonical(dir.path());
    bool fileBeforeRename = false;
    bool folderAfterRename = false;
    for (const Sync& sync : syncs) {
        const fs::path synced(sync.path);
        if (synced.parent_path() == folder && synced.filename() != kScoreFileName)
            fileBeforeRename = fileBeforeRename || sync.scoreFileThen == old;
        if (synced == folder)
            folderAfterRename = folderAfterRename || sync.scoreFileThen == saved;
    }
    EXPECT_TRUE(fileBeforeRename) << "the new file was not synced before the rename: "
                                     "a power cut could leave an empty score file";
    EXPECT_TRUE(folderAfterRename) << "the folder was not synced after the rename";
}

// The saved file keeps the old one's permissions, whatever the umask makes of a new file.
class KeptModeTest : public testing::TestWithParam<mode_t> { };

TEST_P(KeptModeTest, SaveKeepsTheOldFilesMode)
{
    TempDir dir;
    const std::string path = dir.file(kScoreFileName);
    writeFile(path, std::string(8, '\0'));
    ASSERT_EQ(::chmod(path.c_str(), GetParam()), 0);
    ASSERT_TRUE(SaveScore(path, 3));
    struct stat after { };
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, GetParam()) << std::oct << "mode 0" << GetParam() << " not kept";
}

// A private file, and one that no common umask gives a new file.
INSTANTIATE_TEST_SUITE_P(Modes, KeptModeTest, testing::Values(mode_t { 0600 }, mode_t { 0664 }));

struct FormatCase {
    double value;
    std::string text;
};

class GeneralNumberTest : public testing::TestWithParam<FormatCase> { };

TEST_P(GeneralNumberTest, Formats)
{
    EXPECT_EQ(FormatGeneralNumber(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, GeneralNumberTest,
    testing::Values(FormatCase { 0, "0" }, FormatCase { -0.0, "0" }, FormatCase { 7, "7" },
        FormatCase { 4779102, "4779102" }, FormatCase { -3, "-3" }, FormatCase { 4294967296, "4294967296" },
        FormatCase { 999999999999999, "999999999999999" }, // the largest plain whole number
        FormatCase { 1e15, "1E+15" }, FormatCase { 1.5e20, "1.5E+20" }, FormatCase { 2.5, "2.5" },
        FormatCase { -1234.5, "-1234.5" }, FormatCase { 0.1 + 0.2, "0.3" },
        FormatCase { 1.0 / 3, "0.333333333333333" }, FormatCase { 2.0 / 3 * 1000, "666.666666666667" },
        FormatCase { 0.0001, "0.0001" }, FormatCase { 0.00001, "1E-05" },
        FormatCase { std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324" },
        FormatCase { std::numeric_limits<double>::quiet_NaN(), "NaN" },
        FormatCase { std::numeric_limits<double>::infinity(), "Infinity" },
        FormatCase { -std::numeric_limits<double>::infinity(), "-Infinity" }));

TEST(GeneralNumber, IgnoresTheProcessLocale)
{
    // The windows' toolkit takes LC_NUMERIC from the environment; scores keep their ".".
    const char* chosen = nullptr;
    for (const char* name : { "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8" }) {
        if (std::setlocale(LC_NUMERIC, name)) {
            chosen = name;
            break;
        }
    }
    if (!chosen)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(FormatGeneralNumber(2.5), "2.5");
    std::setlocale(LC_NUMERIC, "C");
}

struct CaptionCase {
    double score;
    std::string loaded;
    std::string afterRun;
};

class CaptionTest : public testing::TestWithParam<CaptionCase> { };

TEST_P(CaptionTest, OnlyExactZeroReadsAsNotRun)
{
    EXPECT_EQ(LoadedScoreCaption(GetParam().score), GetParam().loaded);
    EXPECT_EQ(ScoreCaption(GetParam().score), GetParam().afterRun);
}

INSTANTIATE_TEST_SUITE_P(Scores, CaptionTest,
    testing::Values(CaptionCase { 0, "Benchmark not run.", "0 Vantrels" },
        CaptionCase { -0.0, "Benchmark not run.", "0 Vantrels" },
        CaptionCase { 4779102, "4779102 Vantrels", "4779102 Vantrels" },
        CaptionCase { -3, "-3 Vantrels", "-3 Vantrels" },
        CaptionCase { 12.75, "12.75 Vantrels", "12.75 Vantrels" }));

} // namespace
} // namespace vantrel
