#include "ui/frm_main.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    vantrel::frmMain w;
    w.Form_Load();
    return app.exec();
}
