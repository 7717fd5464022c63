// Writes the program's icon into a hicolor theme tree (OUTDIR/<n>x<n>/apps/vantrel3.png
// and OUTDIR/scalable/apps/vantrel3.svg) from the drawing the window uses.
// Usage: vantrel3-export-icons OUTDIR SIZE...

#include "windows/ui/app_icon.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: vantrel3-export-icons OUTDIR SIZE...\n");
        return 2;
    }
    const QDir out(args[1]);
    for (qsizetype i = 2; i < args.size(); ++i) {
        bool ok = false;
        const int size = args[i].toInt(&ok);
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!ok || size <= 0 || !out.mkpath(folder)
            || !vantrel::drawAppIcon(size).save(out.filePath(folder + "/vantrel3.png"))) {
            std::fprintf(stderr, "vantrel3-export-icons: cannot write size %s\n", qPrintable(args[i]));
            return 1;
        }
    }
    QFile svg(out.filePath(QStringLiteral("scalable/apps/vantrel3.svg")));
    if (!out.mkpath(QStringLiteral("scalable/apps")) || !svg.open(QIODevice::WriteOnly)
        || svg.write(vantrel::appIconSvg().toUtf8()) < 0) {
        std::fprintf(stderr, "vantrel3-export-icons: cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }
    return 0;
}
