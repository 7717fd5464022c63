// A submission that the results host's guard refuses: the user is told why and keeps the form.
#include "record_bytes.h"
#include "results_host_process.h"
#include "temp_dir.h"
#include "windows/submit/frm_submit.h"
#include "windows/ui/message_box.h"
#include "windows/ui/session.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace vantrel;
using namespace vantrel::test;

class TestSubmitRefused : public QObject {
    Q_OBJECT

private slots:
    void refusedUploadIsAnError();
};

void TestSubmitRefused::refusedUploadIsAnError()
{
    const std::string held = encodeRecords({ { "Cy", "", "Win ME", "Duron 800", 777 } });
    // A host whose quota the shared file already fills refuses every record.
    ResultsHostProcess host({ .extraArgs = { "--quota", std::to_string(held.size()) } });
    TempDir folder;
    writeFile(host.sharedFile(), held);

    QStringList texts;
    QStringList titles;
    setMessageHandler([&](const QString& text, const QString& title) {
        texts << text;
        titles << title;
    });
    Session session(ChosenHost { host.host() }, QString::fromStdString(folder.path()));
    session.MyPath = QString::fromStdString(folder.path());
    session.Score = 4242;
    frmSubmit form(session);
    form.setModal(false);
    form.show();
    form.txtName->setText(QStringLiteral("Zoë"));
    form.txtEmail->setText(QStringLiteral("zoe@example.org"));
    form.cboOS->setCurrentIndex(6);
    form.txtProcessor->setText(QStringLiteral("Athlon 1.4 GHz"));
    form.cmdSubmit->click();
    setMessageHandler({});

    QCOMPARE(readFile(host.sharedFile()), held);
    QVERIFY(host.requestLog().find("REFUSED 127.0.0.1:") != std::string::npos);
    QCOMPARE(titles, QStringList { QStringLiteral("Error") });
    QCOMPARE(form.lblStatus->text(), QStringLiteral("Results not submitted."));
    QVERIFY(form.isVisible());
    QCOMPARE(form.txtName->text(), QStringLiteral("Zoë"));
    QCOMPARE(form.txtEmail->text(), QStringLiteral("zoe@example.org"));
    QCOMPARE(form.cboOS->currentText(), QStringLiteral("Win Blackcomb"));
    QCOMPARE(form.txtProcessor->text(), QStringLiteral("Athlon 1.4 GHz"));
    // The host's own reason, as its reply gives it.
    QVERIFY2(texts[0].contains(QStringLiteral("would exceed its quota")), qPrintable(texts[0]));
}

QTEST_MAIN(TestSubmitRefused)
#include "test_submit_refused.moc"
