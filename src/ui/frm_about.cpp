#include "ui/frm_about.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace vantrel {

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Vantrel 3"));
    setFixedSize(4095 / 15, 1245 / 15);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(224, 224, 224));
    palette.setColor(QPalette::Button, QColor(224, 224, 224));
    setPalette(palette);

    QFont font;
    font.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") });
    font.setPointSizeF(8.25);
    setFont(font);

    Label1 = new QLabel(
        QStringLiteral("Vantrel 3 by Tobias Wrenfield (t0bi)  This version contains an Easter Egg!!"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(120 / 15, 120 / 15, 3735 / 15, 495 / 15);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setWordWrap(true);

    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(1200 / 15, 720 / 15, 1695 / 15, 375 / 15);
    // Enter presses OK only while it has the focus; Escape does nothing.
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);

    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmAbout::Command1_Click()
{
    accept();
}

void frmAbout::keyPressEvent(QKeyEvent* event)
{
    // No cancel button: Escape must not close the box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace vantrel
