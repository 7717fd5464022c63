#include "windows/ui/frm_about.h"

#include "windows/ui/form_layout.h"

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
    setFixedSize(px(4095), px(1245));
    setFormBackground(this);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Button, formGrey());
    setPalette(palette);
    setFont(formFont());

    Label1 = makeLabel(this, QStringLiteral("Label1"),
        QStringLiteral("Vantrel 3 by the Vantrel 3 developers  This version contains an Easter Egg!!"),
        twipRect(120, 120, 3735, 495), Qt::AlignLeft | Qt::AlignTop);
    Label1->setWordWrap(true);

    Command1
        = makeButton(this, QStringLiteral("Command1"), QStringLiteral("OK"), twipRect(1200, 720, 1695, 375));
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
    // OK is neither default nor cancel button, yet Enter and Escape close the box as it does.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        Command1_Click();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

} // namespace vantrel
