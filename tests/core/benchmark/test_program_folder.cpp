#include "core/benchmark/program_folder.h"
#include "temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// The tests run as root, who may write anywhere: the probe stands in for a folder the
// user may not write, such as an installed program's.
bool notWritable(const fs::path&)
{
    return false;
}

TEST(ProgramFolder, WritableProgramFolderKeepsTheFilesBesideTheProgram)
{
    test::TempDir program, data;
    const ScopedEnv xdg("XDG_DATA_HOME", data.path());
    EXPECT_EQ(chooseDataFolder(program.path()), fs::path(program.path()));
    EXPECT_FALSE(fs::exists(data.file("vantrel3")));
}

TEST(ProgramFolder, InstalledCopyUsesTheUserDataFolderEvenWhenItMayWriteBesideItself)
{
    test::TempDir bin, data;
    const ScopedEnv xdg("XDG_DATA_HOME", data.path());
    EXPECT_EQ(
        chooseDataFolder(bin.path(), folderIsWritable, bin.path() + "/."), fs::path(data.file("vantrel3")));
    // Installed under another prefix than the one built for (cmake --install --prefix ~/.local).
    test::TempDir prefix;
    fs::create_directories(prefix.file("bin"));
    fs::create_directories(prefix.file("share/applications"));
    test::writeFile(prefix.file("share/applications/vantrel3.desktop"), "");
    EXPECT_EQ(chooseDataFolder(prefix.file("bin")), fs::path(data.file("vantrel3")));
}

TEST(ProgramFolder, UnwritableProgramFolderUsesTheUserDataFolderCreatedOnFirstUse)
{
    test::TempDir program, data, home;
    {
        const ScopedEnv xdg("XDG_DATA_HOME", data.file("deeper"));
        EXPECT_EQ(chooseDataFolder(program.path(), notWritable), fs::path(data.file("deeper/vantrel3")));
        EXPECT_TRUE(fs::is_directory(data.file("deeper/vantrel3")));
    }
    // A relative XDG_DATA_HOME counts as unset.
    const ScopedEnv xdg("XDG_DATA_HOME", "relative/share");
    const ScopedEnv homeEnv("HOME", home.path());
    EXPECT_EQ(chooseDataFolder(program.path(), notWritable), fs::path(home.file(".local/share/vantrel3")));
    EXPECT_TRUE(fs::is_directory(home.file(".local/share/vantrel3")));
}

TEST(ProgramFolder, DataFolderThatCannotBeMadeFallsBackToTheProgramFolder)
{
    test::TempDir program, data;
    test::writeFile(data.file("a-file"), "x");
    const ScopedEnv xdg("XDG_DATA_HOME", data.file("a-file"));
    EXPECT_EQ(chooseDataFolder(program.path(), notWritable), fs::path(program.path()));
}

TEST(ProgramFolder, ProbeAnswersForRealFolders)
{
    test::TempDir folder;
    EXPECT_TRUE(folderIsWritable(folder.path()));
    EXPECT_FALSE(folderIsWritable(folder.file("missing")));
}

} // namespace
} // namespace vantrel
