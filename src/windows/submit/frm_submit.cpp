#include "windows/submit/frm_submit.h"

#include "core/submit/ftp_account.h"
#include "core/submit/submission.h"
#include "windows/ui/form_layout.h"
#include "windows/ui/message_box.h"
#include "windows/ui/session.h"

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

} // namespace

frmSubmit::frmSubmit(Session& session, QWidget* parent)
    : QDialog(parent)
    , m_session(session)
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

    // Longer texts are more than a record may hold on the results host.
    for (QLineEdit* box : { txtName, txtEmail, txtProcessor })
        box->setMaxLength(static_cast<int>(kMaxRecordText));
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
        emit m_session.tickerRequested();
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
    // The console refuses such a score without --force; here the user decides, No by default.
    if (!m_session.disturbance.isEmpty()
        && !askQuestion(this,
            QStringLiteral("Other programs were running during the run (%1). Submit this score anyway?")
                .arg(m_session.disturbance),
            windowTitle()))
        return;

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
    m_stop.request_stop();
}

void frmSubmit::fail(const QString& why)
{
    lblStatus->setText(QStringLiteral("Results not submitted."));
    showMessage(
        this, QStringLiteral("Your results were not submitted: %1").arg(why), QStringLiteral("Error"));
}

void frmSubmit::showStage(SubmitStage stage)
{
    switch (stage) {
    case SubmitStage::Contacting:
        lblStatus->setText(QStringLiteral("Contacting Vantrel website..."));
        break;
    case SubmitStage::Waiting:
        lblStatus->setText(QStringLiteral("Waiting for another submission to finish..."));
        break;
    case SubmitStage::Uploading:
        lblStatus->setText(QStringLiteral("Uploading data..."));
        break;
    case SubmitStage::Verifying:
        lblStatus->setText(QStringLiteral("Checking the results on the host..."));
        break;
    }
}

bool frmSubmit::submitResults()
{
    const ResultRecord record { txtName->text().toStdString(), txtEmail->text().toStdString(),
        cboOS->currentText().toStdString(), txtProcessor->text().toStdString(), m_session.Score };
    SubmitOptions options;
    options.host = m_session.resultsHost();
    options.localCopyPath = QFile::encodeName(m_session.localCopyPath()).toStdString();
    options.progress = [this](SubmitStage stage) { showStage(stage); };
    options.yield = yieldOnce;
    m_stop = std::stop_source();
    const SubmitResult result = submitResult(record, options, m_stop.get_token());

    switch (result.status) {
    case SubmitStatus::Submitted:
        lblStatus->setText(QStringLiteral("Results submitted."));
        showMessage(this,
            QStringLiteral("Your results have been submitted, other users\r\n"
                           "may now compare them to thier results."),
            QStringLiteral("Thanks"));
        return true;
    case SubmitStatus::Failed:
        if (result.uncertain) {
            // Sent, but not read back: submitting again could list the result twice.
            lblStatus->setText(QStringLiteral("Results sent; not confirmed."));
            showMessage(this,
                QStringLiteral(
                    "Your results were sent, but %1. Compare your results before you submit them again.")
                    .arg(QString::fromStdString(result.cause)),
                QStringLiteral("Error"));
        } else if (result.cause.find("could not be reached") != std::string::npos) {
            // Nobody answers there: say where the program looked and how to point it elsewhere.
            fail(QString::fromStdString(result.cause)
                + QStringLiteral(
                    " Check that the results host runs there, or name another one (vantrel3 --help "
                    "tells how)."));
        } else {
            fail(QString::fromStdString(result.cause));
        }
        return false;
    case SubmitStatus::Cancelled:
        break;
    }
    // A cancel once the data had gone: a later retry must know whether it would add the record twice.
    if (result.dataSent && result.onHost) {
        lblStatus->setText(QStringLiteral("Results submitted."));
        showMessage(this,
            QStringLiteral("Your results had already reached the host when you cancelled: "
                           "they are submitted."),
            QStringLiteral("Thanks"));
    } else if (result.dataSent) {
        lblStatus->setText(QStringLiteral("Results not submitted."));
        showMessage(this,
            QStringLiteral("Submission cancelled: %1.").arg(QString::fromStdString(result.cause)),
            QStringLiteral("Cancelled"));
    }
    return false;
}

} // namespace vantrel
