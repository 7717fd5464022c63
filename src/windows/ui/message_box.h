#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace vantrel {

// The program's only kind of message: a text, a short title, one OK button, no icon.
// Tests install a handler that answers in place of the modal box.
void showMessage(QWidget* parent, const QString& text, const QString& title);

using MessageHandler = std::function<void(const QString& text, const QString& title)>;
// Replaces the box by handler until reset with an empty handler.
void setMessageHandler(MessageHandler handler);

// A question with Yes and No, No the default (Enter or Escape says No): true for Yes.
bool askQuestion(QWidget* parent, const QString& text, const QString& title);

using QuestionHandler = std::function<bool(const QString& text, const QString& title)>;
// Answers every question in place of the modal box until reset with an empty handler.
void setQuestionHandler(QuestionHandler handler);

} // namespace vantrel
