#include "submit/frm_submit.h"

#include "remote/curl_inet.h"
#include "remote/ftp_engine.h"
#include "remote/transfer_cause.h"
#include "submit/ftp_account.h"
#include "submit/results_file.h"
#include "ui/form_layout.h"
#include "ui/frm_main.h"
#include "ui/message_box.h"

#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace vantrel {

namespace {

QLineEdit* makeTextBox(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(geometry);
    return box;
}

QString causeOf(const TransferOutcome& outcome)
{
    return QString::fromStdString(describeTransferFailure(outcome));
}

} // namespace

frmSubmit::frmSubmit(frmMain& main, QWidget* parent)
    : QDialog(parent)
    , m_main(main)
    , Inet1(std::make_shared<CurlInet>(yieldOnce))
{
    setObjectName(QStringLiteral("frmSubmit"));
    setWindowTitle(QStringLiteral("Submit Results"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(px(3810), px(3780));
    setFormBackground(this);
    setFont(formFont());

    // Created in tab order, so focus moves through them as listed.
    Label1 = makeLabel(this, QStringLiteral("Label1"), QStringLiteral("Your Name (required):"),
        twipRect(120, 120, 2295, 255));
    txtName = makeTextBox(this, QStringLiteral("txtName"), twipRect(120, 360, 3135, 285));
    Label2 = makeLabel(
        this, QStringLiteral("Label2"), QStringLiteral("Email Address:"), twipRect(120, 840, 1935, 255));
    txtEmail = makeTextBox(this, QStringLiteral("txtEmail"), twipRect(120, 1080, 3135, 285));
    txtEmail->setToolTip(QStringLiteral("This address is shown to everyone who compares results."));
    Label3 = makeLabel(this, QStringLiteral("Label3"), QStringLiteral("Your OS (required):"),
        twipRect(120, 1560, 1695, 255));
    cboOS = new QComboBox(this);
    cboOS->setObjectName(QStringLiteral("cboOS"));
    cboOS->setEditable(false);
    cboOS->setGeometry(twipRect(120, 1800, 2055, 315));
    Label4 = makeLabel(this, QStringLiteral("Label4"),
        QStringLiteral("Processor Description (type, speed, etc, requred):"), twipRect(120, 2280, 3615, 255));
    txtProcessor = makeTextBox(this, QStringLiteral("txtProcessor"), twipRect(120, 2520, 3495, 285));
    cmdSubmit = makeButton(
        this, QStringLiteral("cmdSubmit"), QStringLiteral("Submit"), twipRect(120, 3000, 1575, 375));
    cmdCancel = makeButton(
        this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), twipRect(2040, 3000, 1575, 375));
    lblStatus = makeLabel(this, QStringLiteral("lblStatus"), QString(), twipRect(120, 3480, 3615, 255));

    setTabOrder(txtName, txtEmail);
    setTabOrder(txtEmail, cboOS);
    setTabOrder(cboOS, txtProcessor);
    setTabOrder(txtProcessor, cmdSubmit);
    setTabOrder(cmdSubmit, cmdCancel);

    connect(cmdSubmit, &QPushButton::clicked, this, &frmSubmit::cmdSubmit_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSubmit::cmdCancel_Click);

    if (QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());

    Form_Load();
}

frmSubmit::~frmSubmit() = default;

void frmSubmit::Form_Load()
{
    cboOS->addItems({ QStringLiteral("Win 95"), QStringLiteral("Win 98"), QStringLiteral("Win ME"),
        QStringLiteral("Win NT"), QStringLiteral("Win 2K"), QStringLiteral("Win XP"),
        QStringLiteral("Win Blackcomb") });
    cboOS->setCurrentIndex(-1);
    lblStatus->setText(QStringLiteral("Ready."));
}

void frmSubmit::cmdSubmit_Click()
{
    // A press while a submission waits would start a second one inside the first.
    if (m_busy)
        return;

    if (txtName->text() == QLatin1String("easter egg")) {
        // Switching on a ticker that already runs must not restart its two seconds.
        if (!m_main.Timer1->isActive())
            m_main.Timer1->start();
        done(QDialog::Accepted);
        return;
    }
    if (txtName->text().isEmpty()) {
        showMessage(
            this, QStringLiteral("You must specify your name (or nickname)."), QStringLiteral("Blah"));
        return;
    }
    if (cboOS->currentText().isEmpty()) {
        showMessage(this, QStringLiteral("You must specify your OS."), QStringLiteral("w00t"));
        return;
    }
    if (txtProcessor->text().isEmpty()) {
        showMessage(this, QStringLiteral("You must give your processor's description."),
            QStringLiteral("All your base are belong to us"));
        return;
    }

    m_busy = true;
    m_closeRequested = false;
    const bool submitted = submitResults();
    m_busy = false;

    if (submitted)
        done(QDialog::Accepted);
    else if (m_closeRequested)
        done(QDialog::Rejected);
}

void frmSubmit::cmdCancel_Click()
{
    reject();
}

void frmSubmit::reject()
{
    // Closing now would pull the form from under the waiting handler; it closes
    // the form itself once the transfer has ended.
    if (m_busy) {
        requestClose();
        return;
    }
    QDialog::reject();
}

void frmSubmit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmSubmit::requestClose()
{
    m_closeRequested = true;
    // Safe at any step: an upload goes to a temporary name and replaces the shared
    // file only once complete, so a cancelled one leaves the old file whole.
    Inet1->Cancel();
}

void frmSubmit::fail(const QString& why)
{
    lblStatus->setText(QStringLiteral("Results not submitted."));
    showMessage(
        this, QStringLiteral("Your results were not submitted: %1").arg(why), QStringLiteral("Error"));
}

QString frmSubmit::engineCause() const
{
    // A failure before any command ran (the scratch file, say) leaves the control's
    // last outcome as it was; the engine then knows better.
    const TransferOutcome& outcome = Inet1->outcome();
    if (outcome.ok())
        return QString::fromStdString(m_engine->errorString());
    return causeOf(outcome);
}

bool frmSubmit::downloadSharedFile(const QString& path, bool& missing)
{
    const ResultsHost& host = m_main.resultsHost();
    const std::string body = Inet1->OpenURL(host.web + kSharedFileWebPath, kByteArray);
    while (Inet1->StillExecuting())
        yieldOnce();
    if (m_closeRequested)
        return false;

    // Only a real answer counts as the shared file: uploading after a failed
    // download would replace it with one that lacks the earlier records.
    const TransferOutcome& outcome = Inet1->outcome();
    if (outcome.ok()) {
        missing = IsHostErrorPage(body);
    } else if (outcome.status == TransferStatus::HttpError && outcome.httpStatus == 404) {
        missing = true;
    } else {
        fail(QStringLiteral("the results file could not be downloaded (%1).").arg(causeOf(outcome)));
        return false;
    }

    // Anything but whole records (a page some proxy put in its place, a file cut short)
    // would swallow the new record or drop the old ones on upload.
    if (!missing && !IsWholeRecordRun(body)) {
        fail(QStringLiteral("the results file on the host is damaged or is not a results file."));
        return false;
    }

    if (QFile::exists(path) && !QFile::remove(path)) {
        fail(QStringLiteral("the local copy %1 could not be replaced.").arg(path));
        return false;
    }
    if (missing)
        return true;

    QFile file(path);
    const qint64 size = static_cast<qint64>(body.size());
    if (!file.open(QIODevice::WriteOnly) || file.write(body.data(), size) != size || !file.flush()) {
        fail(QStringLiteral("the local copy %1 could not be written (%2).").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool frmSubmit::submitResults()
{
    lblStatus->setText(QStringLiteral("Contacting Vantrel website..."));
    const QString localPath = m_main.MyPath + QLatin1String(kSharedFileName);

    bool missing = false;
    if (!downloadSharedFile(localPath, missing))
        return false;

    if (!m_engine)
        m_engine = std::make_unique<clsFTPEngine>(yieldOnce);
    clsFTPEngine& engine = *m_engine;
    engine.SetEncryptionPassword(kEncryptionKey);
    engine.SetInetObject(Inet1);
    engine.SetFTPServer(m_main.resultsHost().ftp);
    engine.SetFTPUsername(kFtpUserName);
    engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
    if (!engine.LogonInet()) {
        fail(QStringLiteral("the logon to the results host failed (%1).")
                 .arg(QString::fromStdString(engine.errorString())));
        return false;
    }
    engine.SetCurFTPFile(kSharedFileName);

    if (missing) {
        const bool created = engine.CreateCurFile();
        if (m_closeRequested)
            return false;
        if (!created) {
            fail(
                QStringLiteral("the results file could not be created on the host (%1).").arg(engineCause()));
            return false;
        }
    }

    const ResultRecord record { txtName->text().toStdString(), txtEmail->text().toStdString(),
        cboOS->currentText().toStdString(), txtProcessor->text().toStdString(), m_main.Score };
    std::string error;
    const std::optional<std::string> whole
        = AppendRecordToFile(QFile::encodeName(localPath).toStdString(), record, &error);
    if (!whole) {
        fail(QStringLiteral("the local copy could not be updated (%1).").arg(QString::fromStdString(error)));
        return false;
    }

    // Nothing may go to the host once the user asked to close.
    if (m_closeRequested)
        return false;
    lblStatus->setText(QStringLiteral("Uploading data..."));
    engine.SetCurFTPFile(kSharedFileName);
    if (!engine.CreateWithData(*whole)) {
        if (m_closeRequested)
            return false;
        fail(QStringLiteral("the upload to the results host failed (%1).").arg(engineCause()));
        return false;
    }

    lblStatus->setText(QStringLiteral("Results submitted."));
    showMessage(this,
        QStringLiteral("Your results have been submitted, other users\r\n"
                       "may now compare them to thier results."),
        QStringLiteral("Thanks"));
    return true;
}

} // namespace vantrel
