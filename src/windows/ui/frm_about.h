#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vantrel {

// Names the program and its author, and hints at the easter egg.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    void Command1_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr;
};

} // namespace vantrel
