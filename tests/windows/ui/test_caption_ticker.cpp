// The caption ticker in the score label: its lines, their order and sizes, and where it
// picks up after being switched off and on.
#include "main_window_fixture.h"
#include "windows/ui/ticker_script.h"

#include <QFontMetrics>
#include <QLabel>
#include <QTimer>
#include <QtTest>

using namespace vantrel;
using namespace vantrel::test;

namespace {

constexpr int kLengths[kTickerLineCount]
    = { 33, 8, 12, 27, 14, 5, 19, 8, 22, 31, 33, 13, 44, 14, 20, 23, 10, 17 };

QLabel* scoreLabel(frmMain& w)
{
    return w.findChild<QLabel*>(QStringLiteral("lblScore"));
}

QString line(int index)
{
    return QString::fromLatin1(kTickerScript[index].data(), qsizetype(kTickerScript[index].size()));
}

} // namespace

class TestCaptionTicker : public QObject {
    Q_OBJECT

private slots:
    void eachLine_data();
    void eachLine();
    void wrapsAfterLastLine();
    void resumesAfterOffAndOn();
    void timerDrivesTicks();
};

void TestCaptionTicker::eachLine_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < kTickerLineCount; ++i)
        QTest::addRow("line %d", i) << i;
}

void TestCaptionTicker::eachLine()
{
    QFETCH(int, index);
    QCOMPARE(qsizetype(kTickerScript[index].size()), qsizetype(kLengths[index]));

    MainWindowFixture f;
    f.window.Form_Load();
    for (int i = 0; i <= index; ++i)
        f.window.Timer1_Timer();

    QLabel* label = scoreLabel(f.window);
    QCOMPARE(label->text(), line(index));
    QCOMPARE(label->font().pointSize(), index == kTickerSmallLine ? 12 : 16);
    QVERIFY(label->font().bold());
    // Each line must fit the centred label at its size.
    const int width = QFontMetrics(label->font()).horizontalAdvance(label->text());
    QVERIFY2(width <= label->width(), qPrintable(QStringLiteral("%1 px").arg(width)));
}

void TestCaptionTicker::wrapsAfterLastLine()
{
    MainWindowFixture f;
    f.window.Form_Load();
    QStringList shown;
    for (int i = 0; i < kTickerLineCount + 2; ++i) {
        f.window.Timer1_Timer();
        shown << scoreLabel(f.window)->text();
    }
    // Every line in its turn is checked by eachLine.
    QCOMPARE(shown[kTickerLineCount - 1], line(kTickerLineCount - 1));
    QCOMPARE(shown[kTickerLineCount], line(0));
    QCOMPARE(shown[kTickerLineCount + 1], line(1));
    QCOMPARE(f.window.tickerPos(), 2);
}

void TestCaptionTicker::resumesAfterOffAndOn()
{
    MainWindowFixture f;
    frmMain& w = f.window;
    w.Form_Load();
    QCOMPARE(w.tickerPos(), 0);
    w.Timer1->start();
    for (int i = 0; i <= 5; ++i)
        w.Timer1_Timer();
    w.Timer1->stop();
    QCOMPARE(scoreLabel(w)->text(), line(5));
    w.Timer1->start();
    w.Timer1_Timer();
    QCOMPARE(scoreLabel(w)->text(), line(6));
    w.Timer1->stop();
}

void TestCaptionTicker::timerDrivesTicks()
{
    MainWindowFixture f;
    frmMain& w = f.window;
    w.Form_Load();
    QCOMPARE(w.Timer1->interval(), 2000);
    QVERIFY(!w.Timer1->isActive());

    // Switched on as the submission window does it: the first line comes an interval later.
    w.Timer1->start();
    QCoreApplication::processEvents();
    QCOMPARE(scoreLabel(w)->text(), QStringLiteral("Benchmark not run."));
    QTRY_COMPARE_WITH_TIMEOUT(scoreLabel(w)->text(), line(0), 10000);
    QCOMPARE(scoreLabel(w)->font().pointSize(), 16);
    w.Timer1->stop();
}

QTEST_MAIN(TestCaptionTicker)
#include "test_caption_ticker.moc"
