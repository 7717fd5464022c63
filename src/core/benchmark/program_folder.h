#pragma once

#include "build_config.h"

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
// anywhere keeps its files beside it), else the user's data folder, created here. An
// installed copy (in installFolder, or under any prefix: share/applications/vantrel3.desktop
// beside its bin/) always uses the user's data folder, even for root, who may write into /usr/bin. When the data folder cannot be made, the program's
// folder, where loading and saving fail softly.
std::filesystem::path chooseDataFolder(const std::filesystem::path& programFolder,
    const std::function<bool(const std::filesystem::path&)>& isWritable = folderIsWritable,
    const std::filesystem::path& installFolder = VANTREL_INSTALL_BINDIR);

} // namespace vantrel
