// The submission window against the real results host: layout, the checks, the
// append cycle and the faults that must leave the shared file as it was.
#include "core/results/results_file.h"
#include "record_bytes.h"
#include "results_host_process.h"
#include "temp_dir.h"
#include "windows/submit/frm_submit.h"
#include "windows/ui/frm_main.h"
#include "windows/ui/message_box.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <memory>

using namespace vantrel;
using vantrel::test::filesIn;
using vantrel::test::readFile;
using vantrel::test::ResultsHostOptions;
using vantrel::test::ResultsHostProcess;
using vantrel::test::TempDir;
using vantrel::test::writeFile;

namespace {

struct Message {
    QString text;
    QString title;
};

QByteArray bytes(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

const QString kThanks = QStringLiteral("Your results have been submitted, other users\r\n"
                                       "may now compare them to thier results.");

const std::string kTwoRecords
    = vantrel::test::encodeRecords({ { "Ann", "ann@example.org", "Win 98", "K6-2 350", 1234 },
        { "Bob", "", "Win XP", "P4 2.4 GHz", 98765 } });

} // namespace

class TestFrmSubmit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void layout_data();
    void layout();
    void formLook();
    void keysPressNothing();

    void checks_data();
    void checks();
    void easterEgg();

    void appendsOneRecord_data();
    void appendsOneRecord();
    void retryAfterFailure();

    void aFailureIsShownAndTheFormKept();
    void submitPressedTwice();
    void cancelDuringSlowTransfer_data();
    void cancelDuringSlowTransfer();
    void cancelBeforeSubmit();
    void waitsBehindAnotherSubmission();

    void openedFromMainWindow();
    void mainWindowClosedDuringTheWait();

private:
    // A shown, non-modal submission window whose handlers the tests call directly.
    std::unique_ptr<frmSubmit> openForm();
    // Points the main window (and hostFile()) at host, holding kTwoRecords.
    void useHost(ResultsHostProcess& host);
    // A host of its own for options the shared one doesn't have.
    std::unique_ptr<ResultsHostProcess> startHost(const ResultsHostOptions& options);
    // A throttled host holding some 40 records, made on first use.
    ResultsHostProcess& slowHost();
    void fill(frmSubmit& form, const QString& name, const QString& email, int os, const QString& processor);
    QByteArray hostFile() const { return bytes(readFile(m_active->sharedFile())); }
    bool hostSawNothing() const { return m_active->requestLog().empty(); }
    QByteArray localCopy() const
    {
        return QByteArray::fromStdString(readFile(m_folder->file("compare.zip")));
    }

    std::unique_ptr<ResultsHostProcess> m_host;
    std::unique_ptr<ResultsHostProcess> m_slowHost;
    ResultsHostProcess* m_active = nullptr;
    std::unique_ptr<TempDir> m_folder;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<frmMain> m_main;
    QList<Message> m_messages;
};

void TestFrmSubmit::initTestCase()
{
    m_host = std::make_unique<ResultsHostProcess>();
    QVERIFY(m_host->running());
}

void TestFrmSubmit::init()
{
    m_messages.clear();
    setMessageHandler([this](const QString& text, const QString& title) {
        m_messages.append({ text, title });
    });
    // Every question is answered No, as Enter or Escape would.
    setQuestionHandler([this](const QString& text, const QString& title) {
        m_messages.append({ text, title });
        return false;
    });
    m_folder = std::make_unique<TempDir>();
    useHost(*m_host);
}

void TestFrmSubmit::useHost(ResultsHostProcess& host)
{
    m_active = &host;
    m_session
        = std::make_unique<Session>(ChosenHost { host.host() }, QString::fromStdString(m_folder->path()));
    m_session->MyPath = QString::fromStdString(m_folder->path());
    m_session->Score = 4242;
    // Only to watch the ticker's switch and to open the form as the user does; forms need no main window.
    m_main = std::make_unique<frmMain>(*m_session);
    for (const std::string& name : filesIn(host.root()))
        std::filesystem::remove_all(host.root() + name);
    writeFile(host.sharedFile(), kTwoRecords);
    host.clearRequestLog();
}

std::unique_ptr<ResultsHostProcess> TestFrmSubmit::startHost(const ResultsHostOptions& options)
{
    auto host = std::make_unique<ResultsHostProcess>(options);
    useHost(*host);
    return host;
}

void TestFrmSubmit::cleanup()
{
    m_main.reset();
    m_folder.reset();
    m_active = m_host.get();
    setMessageHandler({});
    setQuestionHandler({});
}

void TestFrmSubmit::cleanupTestCase()
{
    m_slowHost.reset();
    m_host.reset();
}

std::unique_ptr<frmSubmit> TestFrmSubmit::openForm()
{
    auto form = std::make_unique<frmSubmit>(*m_session);
    form->setModal(false);
    form->show();
    return form;
}

void TestFrmSubmit::fill(
    frmSubmit& form, const QString& name, const QString& email, int os, const QString& processor)
{
    form.txtName->setText(name);
    form.txtEmail->setText(email);
    form.cboOS->setCurrentIndex(os);
    form.txtProcessor->setText(processor);
}

void TestFrmSubmit::layout_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("text");

    QTest::newRow("Label1") << "Label1" << QRect(120, 120, 2295, 255) << "Your Name (required):";
    QTest::newRow("txtName") << "txtName" << QRect(120, 360, 3135, 285) << "";
    QTest::newRow("Label2") << "Label2" << QRect(120, 840, 1935, 255) << "Email Address:";
    QTest::newRow("txtEmail") << "txtEmail" << QRect(120, 1080, 3135, 285) << "";
    QTest::newRow("Label3") << "Label3" << QRect(120, 1560, 1695, 255) << "Your OS (required):";
    QTest::newRow("cboOS") << "cboOS" << QRect(120, 1800, 2055, 315) << "";
    QTest::newRow("Label4") << "Label4" << QRect(120, 2280, 3615, 255)
                            << "Processor Description (type, speed, etc, requred):";
    QTest::newRow("txtProcessor") << "txtProcessor" << QRect(120, 2520, 3495, 285) << "";
    QTest::newRow("cmdSubmit") << "cmdSubmit" << QRect(120, 3000, 1575, 375) << "Submit";
    QTest::newRow("cmdCancel") << "cmdCancel" << QRect(2040, 3000, 1575, 375) << "Cancel";
    QTest::newRow("lblStatus") << "lblStatus" << QRect(120, 3480, 3615, 255) << "Ready.";
}

void TestFrmSubmit::layout()
{
    QFETCH(QString, control);
    QFETCH(QRect, twips);
    QFETCH(QString, text);

    frmSubmit form(*m_session);
    auto* widget = form.findChild<QWidget*>(control);
    QVERIFY(widget);
    QCOMPARE(
        widget->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    if (auto* label = qobject_cast<QLabel*>(widget))
        QCOMPARE(label->text(), text);
    else if (auto* box = qobject_cast<QLineEdit*>(widget))
        QCOMPARE(box->text(), text);
    else if (auto* button = qobject_cast<QPushButton*>(widget))
        QCOMPARE(button->text(), text);
}

void TestFrmSubmit::formLook()
{
    frmSubmit form(*m_session);
    QCOMPARE(form.windowTitle(), QStringLiteral("Submit Results"));
    QCOMPARE(form.windowType(), Qt::Tool);
    QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(form.minimumSize(), QSize(254, 252));
    QCOMPARE(form.maximumSize(), QSize(254, 252));
    QCOMPARE(form.palette().color(QPalette::Window), QColor(224, 224, 224));

    QCOMPARE(form.cboOS->isEditable(), false);
    QCOMPARE(form.cboOS->currentIndex(), -1);
    QStringList entries;
    for (int i = 0; i < form.cboOS->count(); ++i)
        entries << form.cboOS->itemText(i);
    QCOMPARE(entries,
        QStringList({ "Win 95", "Win 98", "Win ME", "Win NT", "Win 2K", "Win XP", "Win Blackcomb" }));

    for (QPushButton* button : { form.cmdSubmit, form.cmdCancel }) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }

    const QList<QWidget*> order { form.txtName, form.txtEmail, form.cboOS, form.txtProcessor, form.cmdSubmit,
        form.cmdCancel };
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, order[i + 1]);
    }
}

void TestFrmSubmit::keysPressNothing()
{
    auto form = openForm();
    fill(*form, "Ann", "", 1, "K6");
    for (Qt::Key key : { Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter }) {
        QTest::keyClick(form->txtProcessor, key);
        QTest::keyClick(form.get(), key);
    }
    QVERIFY(form->isVisible());
    QVERIFY(m_messages.isEmpty());
    QVERIFY(hostSawNothing());
}

void TestFrmSubmit::checks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("os");
    QTest::addColumn<QString>("processor");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("disturbance");

    const QString name = "You must specify your name (or nickname).";
    const QString os = "You must specify your OS.";
    const QString cpu = "You must give your processor's description.";
    QTest::newRow("all empty") << "" << -1 << "" << name << "Blah" << "";
    QTest::newRow("no OS, processor not looked at") << "Ann" << -1 << "" << os << "w00t" << "";
    QTest::newRow("no processor") << "Ann" << 0 << "" << cpu << "All your base are belong to us" << "";
    QTest::newRow("ordinary name Easter Egg") << "Easter Egg" << -1 << "x" << os << "w00t" << "";
    QTest::newRow("trailing space is ordinary")
        << "easter egg " << 6 << "" << cpu << "All your base are belong to us" << "";
    // A score other programs cut into is sent only on a Yes; the checks come first.
    QTest::newRow("disturbed score, No")
        << "Ann" << 0 << "K6"
        << "Other programs were running during the run (test 3 got 45 % of the processor). Submit this "
           "score anyway?"
        << "Submit Results" << "test 3 got 45 % of the processor";
    QTest::newRow("disturbed score, empty name") << "" << 0 << "K6" << name << "Blah"
                                                 << "test 3 got 45 % of the processor";
}

void TestFrmSubmit::checks()
{
    QFETCH(QString, name);
    QFETCH(int, os);
    QFETCH(QString, processor);
    QFETCH(QString, text);
    QFETCH(QString, title);
    QFETCH(QString, disturbance);

    m_session->disturbance = disturbance;
    auto form = openForm();
    fill(*form, name, "", os, processor);
    form->cmdSubmit->click();

    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].text, text);
    QCOMPARE(m_messages[0].title, title);
    QCOMPARE(form->lblStatus->text(), QStringLiteral("Ready."));
    QVERIFY(form->isVisible());
    QCOMPARE(form->txtName->text(), name);
    QVERIFY(!m_main->Timer1->isActive());
    QVERIFY(hostSawNothing());
}

void TestFrmSubmit::easterEgg()
{
    auto form = openForm();
    fill(*form, "easter egg", "", -1, "");
    form->cmdSubmit->click();

    QVERIFY(m_main->Timer1->isActive());
    QVERIFY(!form->isVisible());
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(m_messages.isEmpty());
    QVERIFY(hostSawNothing());
    QCOMPARE(hostFile(), bytes(kTwoRecords));
}

void TestFrmSubmit::appendsOneRecord_data()
{
    QTest::addColumn<QString>("shared");
    QTest::addColumn<QString>("email");

    QTest::newRow("two records") << "two"
                                 << "me@example.org";
    QTest::newRow("empty shared file") << "empty"
                                       << "me@example.org";
    QTest::newRow("missing shared file") << "missing"
                                         << "me@example.org";
    QTest::newRow("empty e-mail") << "two"
                                  << "";
}

void TestFrmSubmit::appendsOneRecord()
{
    QFETCH(QString, shared);
    QFETCH(QString, email);

    const std::string before = shared == "two" ? kTwoRecords : std::string();
    if (shared == "missing")
        std::filesystem::remove(m_active->sharedFile());
    else
        writeFile(m_active->sharedFile(), before);
    // A stale local copy must not leak into the upload.
    writeFile(m_folder->file("compare.zip"), "stale bytes from an earlier download");

    auto form = openForm();
    fill(*form, QStringLiteral("Zoë"), email, 6, "Athlon 1.4 GHz");
    QSignalSpy finished(form.get(), &QDialog::finished);
    form->cmdSubmit->click();

    const ResultRecord added { "Zoë", email.toStdString(), "Win Blackcomb", "Athlon 1.4 GHz", 4242 };
    const QByteArray expected = QByteArray::fromStdString(before + EncodeResultRecord(added));
    QCOMPARE(hostFile(), expected);
    QCOMPARE(localCopy(), expected);
    if (email.isEmpty()) {
        // Name "Zoë" is 3 bytes in the file; the e-mail length follows it.
        QCOMPARE(hostFile().mid(before.size() + 4 + 3, 4), QByteArray(4, '\0'));
    }

    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].title, QStringLiteral("Thanks"));
    QCOMPARE(m_messages[0].text, kThanks);
    QCOMPARE(form->lblStatus->text(), QStringLiteral("Results submitted."));
    QVERIFY(!form->isVisible());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(form->result(), int(QDialog::Accepted));
}

// A failed submission as the window shows it (the faults themselves: test_submission).
void TestFrmSubmit::aFailureIsShownAndTheFormKept()
{
    const std::string lookedAt = m_host->host().web; // a restarted host has other ports
    m_host->stop();
    auto form = openForm();
    fill(*form, "Ann", "ann@example.org", 1, "K6-2 350");
    form->cmdSubmit->click();
    m_host->start();

    QCOMPARE(hostFile(), bytes(kTwoRecords));
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].title, QStringLiteral("Error"));
    QVERIFY2(m_messages[0].text.startsWith(QStringLiteral("Your results were not submitted: ")),
        qPrintable(m_messages[0].text));
    // Nobody there: the user learns where the program looked, that the download failed, and what to do.
    for (const QString& part : { QString::fromStdString(lookedAt), QStringLiteral("could not be downloaded"),
             QStringLiteral("vantrel3 --help") })
        QVERIFY2(m_messages[0].text.contains(part), qPrintable(m_messages[0].text));
    QCOMPARE(form->lblStatus->text(), QStringLiteral("Results not submitted."));
    QVERIFY(form->isVisible());
    QCOMPARE(form->txtName->text(), QStringLiteral("Ann"));
    QCOMPARE(form->txtEmail->text(), QStringLiteral("ann@example.org"));
    QCOMPARE(form->cboOS->currentText(), QStringLiteral("Win 98"));
    QCOMPARE(form->txtProcessor->text(), QStringLiteral("K6-2 350"));
    form.reset();
    m_main.reset();
}

// The form stays usable after a failure: the same press works once the host is back.
void TestFrmSubmit::retryAfterFailure()
{
    m_host->stop();
    auto form = openForm();
    fill(*form, "Ann", "", 3, "PII 400");
    form->cmdSubmit->click();
    m_host->start();
    m_session->host.host = m_host->host(); // the host is back on new ports
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].title, QStringLiteral("Error"));
    QVERIFY(form->isVisible());

    form->cmdSubmit->click();
    QCOMPARE(m_messages.size(), 2);
    QCOMPARE(m_messages[1].title, QStringLiteral("Thanks"));
    QCOMPARE(hostFile(), bytes(kTwoRecords + EncodeResultRecord({ "Ann", "", "Win NT", "PII 400", 4242 })));
}

ResultsHostProcess& TestFrmSubmit::slowHost()
{
    if (!m_slowHost) {
        ResultsHostOptions options;
        options.throttle = 2000; // bytes per second
        m_slowHost = std::make_unique<ResultsHostProcess>(options);
    }
    useHost(*m_slowHost);
    // About 1.5 KB: each transfer takes most of a second.
    std::string many;
    for (int i = 0; i < 40; ++i)
        many += EncodeResultRecord({ "Runner " + std::to_string(i), "", "Win 2K", "Duron 800", 1000.0 + i });
    writeFile(m_slowHost->sharedFile(), many);
    return *m_slowHost;
}

void TestFrmSubmit::submitPressedTwice()
{
    slowHost();
    const QByteArray before = hostFile();
    auto form = openForm();
    fill(*form, "Ann", "", 1, "K6");
    bool pressedWhileBusy = false;
    QTimer::singleShot(300, form.get(), [&] {
        pressedWhileBusy = form->isBusy();
        form->cmdSubmit->click();
    });
    form->cmdSubmit->click();

    QVERIFY(pressedWhileBusy);
    QCOMPARE(hostFile(), before + bytes(EncodeResultRecord({ "Ann", "", "Win 98", "K6", 4242 })));
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].title, QStringLiteral("Thanks"));
    QCOMPARE(QByteArray::fromStdString(m_active->requestLog()).count("APPE compare.zip"), 1);
}

void TestFrmSubmit::cancelDuringSlowTransfer_data()
{
    QTest::addColumn<QString>("during");
    QTest::addColumn<bool>("closeWindow");
    QTest::newRow("Cancel during the download") << "Contacting Vantrel website..." << false;
    QTest::newRow("window closed during the download") << "Contacting Vantrel website..." << true;
    // Once the record has gone, only the host can say whether it stayed: the cancel waits for it.
    QTest::newRow("Cancel while the host is read back") << "Checking the results on the host..." << false;
}

void TestFrmSubmit::cancelDuringSlowTransfer()
{
    QFETCH(QString, during);
    QFETCH(bool, closeWindow);

    slowHost();
    const QByteArray before = hostFile();
    writeFile(m_folder->file("compare.zip"), "earlier copy");

    auto form = openForm();
    fill(*form, "Ann", "", 1, QStringLiteral("xx"));
    QSignalSpy finished(form.get(), &QDialog::finished);
    // Press once the step has run a little while, so that its transfer is under way.
    bool pressedWhileBusy = false;
    QElapsedTimer inStep;
    QTimer poll;
    connect(&poll, &QTimer::timeout, form.get(), [&] {
        if (form->lblStatus->text() != during) {
            inStep.invalidate();
            return;
        }
        if (!inStep.isValid())
            inStep.start();
        // The read-back moves a few hundred bytes: it is pressed as soon as it is seen.
        if (inStep.elapsed() < (during.startsWith("Checking") ? 0 : 200))
            return;
        poll.stop();
        pressedWhileBusy = form->isBusy();
        if (closeWindow)
            form->close();
        else
            form->cmdCancel->click();
        // The press ends the wait; the form closes only after the handler has unwound.
        QVERIFY(form->isVisible());
    });
    poll.start(10);
    form->cmdSubmit->click();

    QVERIFY(pressedWhileBusy);
    QVERIFY(!form->isVisible());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(form->result(), int(QDialog::Rejected));
    // Nothing of the turn on the host is left behind.
    QCOMPARE(filesIn(m_active->root()), std::vector<std::string> { "compare.zip" });
    if (during.startsWith("Contacting")) {
        QCOMPARE(hostFile(), before);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(localCopy(), QByteArray("earlier copy"));
    } else {
        QCOMPARE(hostFile().size(),
            before.size() + int(EncodeResultRecord({ "Ann", "", "Win 98", "xx", 1 }).size()));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].text,
            QStringLiteral(
                "Your results had already reached the host when you cancelled: they are submitted."));
    }
}

void TestFrmSubmit::cancelBeforeSubmit()
{
    writeFile(m_folder->file("compare.zip"), "earlier copy");
    auto form = openForm();
    fill(*form, "Ann", "", 1, "K6");
    form->cmdCancel->click();
    QVERIFY(!form->isVisible());
    QVERIFY(m_messages.isEmpty());
    QVERIFY(hostSawNothing());
    QCOMPARE(localCopy(), QByteArray("earlier copy"));
}

// Another submitter holds the host: the form says so, stays lively, and Cancel ends the
// wait with nothing uploaded and nothing of its own left on the host.
void TestFrmSubmit::waitsBehindAnotherSubmission()
{
    // A host as earlier versions were, where an append waits for its turn.
    const std::unique_ptr<ResultsHostProcess> older
        = startHost({ .extraArgs = { "--appends-in-turn-only" } });
    std::filesystem::create_directory(m_active->root() + "compare.lock");
    writeFile(m_active->root() + "compare.lock/hb-other-0", "x");
    const QByteArray before = hostFile();

    auto form = openForm();
    fill(*form, "Ann", "", 1, "K6");
    QSignalSpy finished(form.get(), &QDialog::finished);
    int ticks = 0;
    int ticksWhenWaiting = -1;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, form.get(), [&] {
        ++ticks;
        if (ticksWhenWaiting < 0
            && form->lblStatus->text() == QStringLiteral("Waiting for another submission to finish..."))
            ticksWhenWaiting = ticks;
        // Some events later, still waiting: cancel.
        if (ticksWhenWaiting >= 0 && ticks == ticksWhenWaiting + 20) {
            QCOMPARE(form->lblStatus->text(), QStringLiteral("Waiting for another submission to finish..."));
            form->cmdCancel->click();
        }
    });
    ticker.start(10);
    form->cmdSubmit->click();

    QVERIFY(ticksWhenWaiting >= 0);
    QVERIFY(!form->isVisible());
    QCOMPARE(finished.size(), 1);
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(hostFile(), before);
    QVERIFY(!QByteArray::fromStdString(m_active->requestLog()).contains("STOR .compare.zip"));
    QCOMPARE(filesIn(m_active->root()), (std::vector<std::string> { "compare.lock", "compare.zip" }));
    QCOMPARE(filesIn(m_active->root() + "compare.lock"), std::vector<std::string> { "hb-other-0" });
}

// The whole path a user takes: "Submit Results" in the main window, the modal form, the record on the host.
void TestFrmSubmit::openedFromMainWindow()
{
    bool filled = false;
    // Waits for the modal form to show up, however long its event loop takes to start.
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* form = m_main->findChild<frmSubmit*>();
        if (!form || !form->isVisible())
            return;
        if (filled) {
            // A failed submission keeps the form open: close it, so the test fails at once.
            if (!m_messages.isEmpty() && !form->isBusy())
                form->cmdCancel->click();
            return;
        }
        fill(*form, "Ann", "", 5, "Pentium III 1 GHz");
        filled = true;
        QTest::mouseClick(form->cmdSubmit, Qt::LeftButton);
    });
    poll.start(10);
    m_main->opnButton_Click(1);
    poll.stop();

    QVERIFY(filled);
    QVERIFY2(m_messages.size() == 1 && m_messages[0].title == QStringLiteral("Thanks"),
        qPrintable(m_messages.isEmpty() ? QString() : m_messages[0].text));
    QCOMPARE(hostFile(),
        bytes(kTwoRecords + EncodeResultRecord({ "Ann", "", "Win XP", "Pentium III 1 GHz", 4242 })));
    QVERIFY(!QApplication::activeModalWidget());
}

// Closing the main window while the form waits on the network saves the score and ends
// the program there; no record may reach the host afterwards.
void TestFrmSubmit::mainWindowClosedDuringTheWait()
{
    slowHost();
    const QByteArray before = hostFile();
    m_main->Form_Load();
    m_main->Score = 4242;
    QPointer<frmSubmit> form;
    int ended = 0;
    // The real end leaves the process at once; here it stops the form's transfer the same way.
    m_main->setEndProgram([&] {
        ++ended;
        if (form)
            form->cmdCancel->click();
    });
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        form = m_main->findChild<frmSubmit*>();
        if (!form || !form->isVisible())
            return;
        if (!form->isBusy()) {
            fill(*form, "Ann", "", 1, "K6");
            QTimer::singleShot(0, form, [f = form] { f->cmdSubmit->click(); });
            return;
        }
        poll.stop();
        m_main->close();
    });
    poll.start(20);
    m_main->opnButton_Click(1);

    QCOMPARE(ended, 1);
    QCOMPARE(QByteArray::fromStdString(readFile(m_folder->file("Vantrel3.ini"))),
        QByteArray::fromStdString(std::string("\0\0\0\0\0\x92\xb0\x40", 8)));
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(hostFile(), before);
}

QTEST_MAIN(TestFrmSubmit)
#include "test_frm_submit.moc"
