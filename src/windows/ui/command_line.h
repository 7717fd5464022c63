#pragma once

#include <QStringList>
#include <optional>
#include <string>

namespace vantrel {

// Where the command line says the results host is: --web and --ftp, each HOST:PORT.
struct HostFlags {
    std::optional<std::string> web;
    std::optional<std::string> ftp;
};

// The command line of the Qt program: --web and --ftp (into flags), --help (with footer
// after the options) and --version on standard output (exit code 0); anything else one line
// on standard error naming it, a hint at --help, exit code 2. Returns the exit code when the
// program should stop here. Needs no application object, so it can run before the window
// system is touched.
std::optional<int> parseQtCommandLine(const QString& program, const QString& description,
    const QStringList& arguments, HostFlags& flags, const QString& footer = {});

} // namespace vantrel
