#include "core/benchmark/program_folder.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace vantrel {

bool folderIsWritable(const std::filesystem::path& folder)
{
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::filesystem::path userDataFolder()
{
    // A relative XDG_DATA_HOME is to be ignored, as the base directory rules say.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return std::filesystem::path(dataHome) / "vantrel3";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::filesystem::path(home) / ".local" / "share" / "vantrel3";
    return {};
}

namespace {

bool sameFolder(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

} // namespace

std::filesystem::path chooseDataFolder(const std::filesystem::path& programFolder,
    const std::function<bool(const std::filesystem::path&)>& isWritable,
    const std::filesystem::path& installFolder)
{
    // Installed under any prefix: the menu entry lies in share/ beside bin/.
    std::error_code probe;
    const bool installed = sameFolder(programFolder, installFolder)
        || std::filesystem::exists(
            programFolder / ".." / "share" / "applications" / "vantrel3.desktop", probe);
    if (isWritable(programFolder) && !installed)
        return programFolder;
    const std::filesystem::path userFolder = userDataFolder();
    if (userFolder.empty())
        return programFolder;
    std::error_code error;
    std::filesystem::create_directories(userFolder, error);
    if (error || !std::filesystem::is_directory(userFolder, error))
        return programFolder;
    return userFolder;
}

} // namespace vantrel
