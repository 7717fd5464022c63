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

} // namespace vantrel
