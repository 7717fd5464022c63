#pragma once

#include <filesystem>
#include <functional>

namespace vantrel {

// Whether this process may create files in folder.
bool folderIsWritable(const std::filesystem::path& folder);

// $XDG_DATA_HOME/vantrel3, or ~/.local/share/vantrel3 when that is unset or not absolute;
// empty when neither is known.
std::filesystem::path userDataFolder();

// The folder for the score file and the local copy of the results file: the program's
// own folder while the program may write there (a copy in the build folder or unpacked
// anywhere keeps its files beside it), else the user's data folder, created here. When
// that cannot be made either, the program's folder, where loading and saving fail softly.
std::filesystem::path chooseDataFolder(const std::filesystem::path& programFolder,
    const std::function<bool(const std::filesystem::path&)>& isWritable = folderIsWritable);

} // namespace vantrel
