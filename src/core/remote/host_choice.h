#pragma once

#include "core/remote/results_host.h"

#include <functional>
#include <optional>
#include <string>

namespace vantrel {

// Where each of the results host's two addresses came from, in the order they are looked
// for: the command line, the environment (VANTREL3_WEB, VANTREL3_FTP), the user's settings
// file, the system's, and the address built in.
struct ChosenHost {
    ResultsHost host = {};
    std::string webFrom = "built in"; // "--web", "VANTREL3_WEB", a settings file's path, or "built in"
    std::string ftpFrom = "built in";
    std::string problem = {}; // a settings value that is no HOST:PORT, named with its file; empty when none
};

// The settings files: $XDG_CONFIG_HOME/vantrel3/results-host.conf (~/.config when unset)
// and the system's (/etc/vantrel3/results-host.conf for an installed package). Each holds lines "web =
// HOST:PORT" and "ftp = HOST:PORT"; "#" starts a comment.
std::string userHostSettingsPath(const std::function<const char*(const char*)>& getenv);
inline constexpr const char* kSystemHostSettingsPath = VANTREL_SYSTEM_HOST_SETTINGS;

// Chooses each address from the first place that names it. getenv is the process's
// environment (tests hand in their own); the flags are what the command line gave.
ChosenHost chooseResultsHost(const std::optional<std::string>& webFlag,
    const std::optional<std::string>& ftpFlag, const std::function<const char*(const char*)>& getenv,
    const std::string& userSettings, const std::string& systemSettings = kSystemHostSettingsPath);

// HOST:PORT with a port from 1 to 65535 and a host without spaces or a scheme.
bool isHostAndPort(const std::string& address);

// One line on where the addresses come from, for --help, --version and the About box.
std::string describeChosenHost(const ChosenHost& chosen);

} // namespace vantrel
