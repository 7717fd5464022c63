#include "windows/ui/command_line.h"
#include "windows/ui/end_signals.h"
#include "windows/ui/focus_style.h"
#include "windows/ui/form_layout.h"
#include "windows/ui/frm_main.h"
#include "windows/ui/session.h"

#include <QApplication>
#include <csignal>
#include <cstdlib>

int main(int argc, char** argv)
{
    // Read the flags before the window system is touched, so that --help and --version
    // answer on a machine without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // The results host: these flags, else VANTREL3_WEB and VANTREL3_FTP, else the settings files.
    const auto getenv = [](const char* name) -> const char* { return std::getenv(name); };
    const std::string userSettings = vantrel::userHostSettingsPath(getenv);
    const vantrel::ChosenHost settled
        = vantrel::chooseResultsHost(std::nullopt, std::nullopt, getenv, userSettings);
    const QString footer
        = QStringLiteral("Without --web and --ftp: %1.\nThey are looked for in VANTREL3_WEB and "
                         "VANTREL3_FTP, then %2, then %3.")
              .arg(QString::fromStdString(vantrel::describeChosenHost(settled)),
                  QString::fromStdString(userSettings),
                  QString::fromLatin1(vantrel::kSystemHostSettingsPath));
    vantrel::HostFlags flags;
    if (const auto exitCode = vantrel::parseQtCommandLine(QStringLiteral("vantrel3"),
            QStringLiteral("Vantrel 3, a small desktop CPU benchmark."), arguments, flags, footer))
        return *exitCode;
    QApplication app(argc, argv);
    // Lets Wayland desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vantrel3"));
    // The platform's look, with a keyboard focus that can be seen.
    QApplication::setStyle(new vantrel::FocusStyle);
    // Message boxes and anything else without a font of its own use the forms' face.
    QApplication::setFont(vantrel::formFont());
    // What the windows share: the score, its folder, the results host, the ticker's switch.
    vantrel::Session session(vantrel::chooseResultsHost(flags.web, flags.ftp, getenv, userSettings));
    vantrel::frmMain w(session);

    // Ended from outside (kill, logout, the session ending): the score is kept all the same.
    vantrel::EndSignals endSignals({ SIGTERM, SIGHUP });
    QObject::connect(&endSignals, &vantrel::EndSignals::received, &w, &vantrel::frmMain::endFromOutside);
#ifndef QT_NO_SESSIONMANAGER
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &w, [&w] { w.saveScoreFile(); });
#endif
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &w, [&w] { w.saveScoreFile(); });

    w.Form_Load();
    return app.exec();
}
