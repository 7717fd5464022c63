#include "build_config.h"
#include "ui/form_layout.h"
#include "ui/frm_main.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <optional>

namespace {

// The program takes no flags beyond --help and --version; anything else is refused with
// exit 2. Returns the exit code when the program should stop here.
std::optional<int> parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vantrel 3, a small desktop CPU benchmark."));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
        QStringLiteral("Print this help and exit."));
    parser.addOption(help);
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    parser.addOption(version);
    QString error;
    if (!parser.parse(arguments))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    if (!error.isEmpty()) {
        std::fprintf(stderr, "vantrel3: %s\nTry 'vantrel3 --help' for more information.\n", qPrintable(error));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::puts("vantrel3 " VANTREL_VERSION);
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    // Read the flags before the window system is touched, so that --help and --version
    // answer on a machine without a display.
    {
        const QCoreApplication console(argc, argv);
        if (const auto exitCode = parseCommandLine(QCoreApplication::arguments()))
            return *exitCode;
    }
    QApplication app(argc, argv);
    // Message boxes and anything else without a font of its own use the forms' face.
    QApplication::setFont(vantrel::formFont());
    vantrel::frmMain w;
    w.Form_Load();
    return app.exec();
}
