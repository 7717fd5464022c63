#include "ui/form_layout.h"
#include "ui/frm_main.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Message boxes and anything else without a font of its own use the forms' face.
    QApplication::setFont(vantrel::formFont());
    vantrel::frmMain w;
    w.Form_Load();
    return app.exec();
}
