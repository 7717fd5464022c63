#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vantrel {

class frmMain;
class clsFTPEngine;
class CurlInet;

// "Submit Results": collects name, e-mail, OS and processor description, then
// downloads the shared results file, appends one record with the main window's
// score and uploads the whole file again. Opened modally with exec().
class frmSubmit : public QDialog {
    Q_OBJECT
public:
    explicit frmSubmit(frmMain& main, QWidget* parent = nullptr);
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
    // Reads the shared file into the local copy; sets missing when the host has none.
    bool downloadSharedFile(const QString& path, bool& missing);
    void fail(const QString& why);
    QString engineCause() const;
    // Cancel or close pressed while busy: ends the transfer; the handler closes the form.
    void requestClose();

    frmMain& m_main;
    std::shared_ptr<CurlInet> Inet1;
    std::unique_ptr<clsFTPEngine> m_engine;
    bool m_busy = false;
    bool m_closeRequested = false;
};

} // namespace vantrel
