#include "windows/ui/command_line.h"

#include "build_config.h"
#include "core/remote/host_choice.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <cstdio>

namespace vantrel {

std::optional<int> parseQtCommandLine(const QString& program, const QString& description,
    const QStringList& arguments, HostFlags& flags, const QString& footer)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Print this help and exit."));
    parser.addOption(help);
    const QCommandLineOption version(
        QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    parser.addOption(version);
    const QCommandLineOption web(
        QStringLiteral("web"), QStringLiteral("Results host's web address."), QStringLiteral("HOST:PORT"));
    parser.addOption(web);
    const QCommandLineOption ftp(
        QStringLiteral("ftp"), QStringLiteral("Results host's FTP server."), QStringLiteral("HOST:PORT"));
    parser.addOption(ftp);
    // Qt's own options (-platform offscreen, -style fusion, ...) are the application object's
    // to take later; they pass here unseen.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name : { "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
             "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style", "stylesheet" }) {
        QCommandLineOption option(QString::fromLatin1(name), {}, QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : { "reverse", "widgetcount", "nograb", "dograb", "sync" }) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    QString error;
    if (!parser.parse(arguments))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    for (const QCommandLineOption* option : { &web, &ftp }) {
        if (error.isEmpty() && parser.isSet(*option)) {
            const std::string value = parser.value(*option).toStdString();
            if (!isHostAndPort(value))
                error = QStringLiteral("--%1 expects HOST:PORT, not %2.")
                            .arg(option->names().first(), QString::fromStdString(value));
            (option == &web ? flags.web : flags.ftp) = value;
        }
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", qPrintable(program),
            qPrintable(error), qPrintable(program));
        return 2;
    }
    if (parser.isSet(help)) {
        // The parser's own usage line names the path it was started by; name the program.
        QString text = parser.helpText();
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")), QStringLiteral("Usage: ") + program);
        if (!footer.isEmpty())
            text += QLatin1Char('\n') + footer + QLatin1Char('\n');
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(program), VANTREL_VERSION);
        return 0;
    }
    return std::nullopt;
}

} // namespace vantrel
