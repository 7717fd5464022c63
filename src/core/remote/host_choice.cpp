#include "core/remote/host_choice.h"

#include <charconv>
#include <fstream>

namespace vantrel {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// "key = value" of a settings file; nullopt when the file does not name key (or is missing).
std::optional<std::string> settingIn(const std::string& path, const std::string& key)
{
    std::ifstream in(path);
    std::string line;
    std::optional<std::string> value;
    while (std::getline(in, line)) {
        line = trimmed(line.substr(0, line.find('#')));
        const auto equals = line.find('=');
        if (equals != std::string::npos && trimmed(line.substr(0, equals)) == key)
            value = trimmed(line.substr(equals + 1));
    }
    return value;
}

} // namespace

bool isHostAndPort(const std::string& address)
{
    const auto colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0 || address.find_first_of(" \t/") != std::string::npos)
        return false;
    int port = 0;
    const char* begin = address.data() + colon + 1;
    const char* end = address.data() + address.size();
    const auto [stop, error] = std::from_chars(begin, end, port);
    return error == std::errc() && stop == end && port >= 1 && port <= 65535;
}

std::string userHostSettingsPath(const std::function<const char*(const char*)>& getenv)
{
    const char* config = getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return std::string(config) + "/vantrel3/results-host.conf";
    const char* home = getenv("HOME");
    return std::string(home ? home : "") + "/.config/vantrel3/results-host.conf";
}

ChosenHost chooseResultsHost(const std::optional<std::string>& webFlag,
    const std::optional<std::string>& ftpFlag, const std::function<const char*(const char*)>& getenv,
    const std::string& userSettings, const std::string& systemSettings)
{
    ChosenHost chosen;
    auto choose = [&](const std::optional<std::string>& flag, const char* flagName, const char* variable,
                      const char* key, std::string& address, std::string& from) {
        if (flag) {
            address = *flag;
            from = flagName;
            return;
        }
        if (const char* value = getenv(variable); value && *value) {
            address = value;
            from = variable;
            return;
        }
        for (const std::string& file : { userSettings, systemSettings }) {
            if (const std::optional<std::string> value = settingIn(file, key)) {
                if (!isHostAndPort(*value)) {
                    chosen.problem = file + ": " + key + " = " + *value + " is not HOST:PORT";
                    continue;
                }
                address = *value;
                from = file;
                return;
            }
        }
        from = "built in";
    };
    choose(webFlag, "--web", "VANTREL3_WEB", "web", chosen.host.web, chosen.webFrom);
    choose(ftpFlag, "--ftp", "VANTREL3_FTP", "ftp", chosen.host.ftp, chosen.ftpFrom);
    return chosen;
}

std::string describeChosenHost(const ChosenHost& chosen)
{
    if (chosen.webFrom == chosen.ftpFrom)
        return "results host: web " + chosen.host.web + ", FTP " + chosen.host.ftp + " (" + chosen.webFrom
            + ")";
    return "results host: web " + chosen.host.web + " (" + chosen.webFrom + "), FTP " + chosen.host.ftp + " ("
        + chosen.ftpFrom + ")";
}

} // namespace vantrel
