// Whole benchmark runs through the main window (about six seconds each).
#include "core/benchmark/score_file.h"
#include "main_window_fixture.h"
#include "windows/ui/ticker_script.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <vector>

using namespace vantrel;
using namespace vantrel::test;

namespace {

QLabel* label(frmMain& w, const QString& name)
{
    return w.findChild<QLabel*>(name);
}

// Which status labels 1..6 are bold, as a set of digits ("" when none).
QString boldTests(frmMain& w)
{
    QString bold;
    for (int i = 1; i < frmMain::kStatusCount; ++i) {
        if (label(w, QStringLiteral("lblStatus%1").arg(i))->font().bold())
            bold += QString::number(i);
    }
    return bold;
}

} // namespace

class TestFrmMainRun : public QObject {
    Q_OBJECT

private slots:
    void wholeRun();
    void closeDuringRun();
};

void TestFrmMainRun::wholeRun()
{
    MainWindowFixture f(doubleBytes(0), true);
    frmMain& w = f.window;
    w.Form_Load();

    // The ticker is showing its small line when the run starts.
    for (int i = 0; i <= kTickerSmallLine; ++i)
        w.Timer1_Timer();
    w.Timer1->start();

    auto* runButton = w.findChild<QPushButton*>(QStringLiteral("opnButton0"));
    QTest::mouseMove(w.windowHandle(), runButton->mapTo(&w, runButton->rect().center()));
    QCoreApplication::processEvents();
    QCOMPARE(runButton->palette().color(QPalette::ButtonText), QColor(0, 0, 255));

    // A zero-interval timer fires at every yield point of the run.
    QStringList states;
    QStringList captions;
    bool timerActiveDuringRun = true;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const QString bold = boldTests(w);
        if (states.isEmpty() || states.last() != bold)
            states << bold;
        captions << label(w, QStringLiteral("lblScore"))->text();
        timerActiveDuringRun = w.Timer1->isActive();
    });
    probe.start();
    QTest::mouseClick(runButton, Qt::LeftButton);
    probe.stop();

    QCOMPARE(states, QStringList({ "", "1", "", "2", "", "3", "", "4", "", "5", "", "6", "" }));
    QVERIFY(!captions.isEmpty());
    QCOMPARE(captions.first(), QStringLiteral("Benchmarking..."));
    QVERIFY(!timerActiveDuringRun);
    QVERIFY(!w.Timer1->isActive());

    QLabel* score = label(w, QStringLiteral("lblScore"));
    QCOMPARE(score->text(), QString::fromStdString(ScoreCaption(w.Score)));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+ Vantrels$")).match(score->text()).hasMatch());
    // Nothing restores the size the ticker left.
    QCOMPARE(score->font().pointSize(), 12);
    QVERIFY(label(w, QStringLiteral("lblStatus0"))->font().bold());
    // A run leaves the buttons as they were: still hovered, not pressed.
    QCOMPARE(runButton->palette().color(QPalette::ButtonText), QColor(0, 0, 255));
    QVERIFY(!runButton->isChecked());
    // The score is kept as soon as the run ends.
    QCOMPARE(readFile(f.scoreFile()), doubleBytes(w.Score));
    QVERIFY(f.messages.empty());
}

void TestFrmMainRun::closeDuringRun()
{
    MainWindowFixture f(doubleBytes(4321), true);
    frmMain& w = f.window;
    w.Form_Load();
    QCOMPARE(w.Score, 4321.0);

    // The window is closed at the run's first yield point.
    QTimer::singleShot(0, &w, [&] { w.close(); });
    w.opnButton_Click(0);

    QCOMPARE(f.endCount, 1);
    QCOMPARE(f.scoreFileAtEnd, doubleBytes(4321));
}

QTEST_MAIN(TestFrmMainRun)
#include "test_frm_main_run.moc"
