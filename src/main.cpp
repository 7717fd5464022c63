#include "ui/command_line.h"
#include "ui/form_layout.h"
#include "ui/frm_main.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // Read the flags before the window system is touched, so that --help and --version
    // answer on a machine without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto exitCode = vantrel::parseQtCommandLine(QStringLiteral("vantrel3"),
            QStringLiteral("Vantrel 3, a small desktop CPU benchmark."), arguments))
        return *exitCode;
    QApplication app(argc, argv);
    // Message boxes and anything else without a font of its own use the forms' face.
    QApplication::setFont(vantrel::formFont());
    vantrel::frmMain w;
    w.Form_Load();
    return app.exec();
}
