#pragma once

#include <QDialog>
#include <QString>
#include <stop_token>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vantrel {

class Session;
enum class SubmitStage;

// "Submit Results": collects name, e-mail, OS and processor description, then adds
// one record with the main window's score to the shared results file through
// submitResult, showing its stages on the status line. Opened modally with exec().
class frmSubmit : public QDialog {
    Q_OBJECT
public:
    explicit frmSubmit(Session& session, QWidget* parent = nullptr);
    ~frmSubmit() override;

    void cmdSubmit_Click();
    void cmdCancel_Click();

    // True while a submission waits on the network.
    bool isBusy() const { return m_busy; }

    QLabel* Label1 = nullptr;
    QLineEdit* txtName = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtEmail = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* cboOS = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtProcessor = nullptr;
    QPushButton* cmdSubmit = nullptr;
    QPushButton* cmdCancel = nullptr;
    QLabel* lblStatus = nullptr;

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load();
    // The network part of a submission; false after a failure was shown or a
    // close request ended it.
    bool submitResults();
    void showStage(SubmitStage stage);
    void fail(const QString& why);
    // Cancel or close pressed while busy: stops the submission; the handler closes the form.
    void requestClose();

    Session& m_session;
    std::stop_source m_stop;
    bool m_busy = false;
    bool m_closeRequested = false;
};

} // namespace vantrel
