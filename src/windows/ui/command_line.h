#pragma once

#include <QStringList>
#include <optional>

namespace vantrel {

// The command line of a Qt program that takes no flags of its own: --help and --version on
// standard output (exit code 0); anything else one line on standard error naming it, a
// hint at --help, exit code 2. Returns the exit code when the program should stop here.
// Needs no application object, so it can run before the window system is touched.
std::optional<int> parseQtCommandLine(
    const QString& program, const QString& description, const QStringList& arguments);

} // namespace vantrel
