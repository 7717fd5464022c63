#include "windows/ui/message_box.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

namespace vantrel {

namespace {
MessageHandler& handler()
{
    static MessageHandler h;
    return h;
}

QuestionHandler& questionHandler()
{
    static QuestionHandler h;
    return h;
}
} // namespace

void showMessage(QWidget* parent, const QString& text, const QString& title)
{
    if (handler()) {
        handler()(text, title);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    // Some styles put an icon on the button too; the box stays plain.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}

void setMessageHandler(MessageHandler h)
{
    handler() = std::move(h);
}

bool askQuestion(QWidget* parent, const QString& text, const QString& title)
{
    if (questionHandler())
        return questionHandler()(text, title);
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void setQuestionHandler(QuestionHandler h)
{
    questionHandler() = std::move(h);
}

} // namespace vantrel
