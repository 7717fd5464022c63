#include "ui/message_box.h"

#include <QMessageBox>

namespace vantrel {

namespace {
MessageHandler& handler()
{
    static MessageHandler h;
    return h;
}
}  // namespace

void showMessage(QWidget* parent, const QString& text, const QString& title)
{
    if (handler()) {
        handler()(text, title);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void setMessageHandler(MessageHandler h)
{
    handler() = std::move(h);
}

}  // namespace vantrel
