// The main window: its controls and looks, the load sequence, the dispatch and its
// refusals, the button looks, and the score file written at close or on an end signal.
#include "main_window_fixture.h"
#include "windows/ui/end_signals.h"
#include "windows/ui/frm_about.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace vantrel;
using namespace vantrel::test;

namespace {

const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);

QPushButton* button(frmMain& w, int index)
{
    return w.findChild<QPushButton*>(QStringLiteral("opnButton%1").arg(index));
}

QColor captionColor(frmMain& w, int index)
{
    return button(w, index)->palette().color(QPalette::ButtonText);
}

// Moves the mouse through the window system, so the event reaches whatever lies under it.
void moveMouse(frmMain& w, QPoint windowPos)
{
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseMove(w.windowHandle(), windowPos);
    QCoreApplication::processEvents();
}

QPoint centreOf(QWidget* widget, frmMain& w)
{
    return widget->mapTo(&w, widget->rect().center());
}

void verifyAllNormal(frmMain& w)
{
    for (int i = 0; i < frmMain::kButtonCount; ++i) {
        QVERIFY2(!button(w, i)->isChecked(), qPrintable(QString::number(i)));
        QCOMPARE(captionColor(w, i), kBlack);
    }
}

} // namespace

class TestFrmMain : public QObject {
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void statusColours_data();
    void statusColours();
    void windowLook();
    void drawnLines();
    void descriptionFitsWindow();

    void loadedCaption_data();
    void loadedCaption();
    void programPath_data();
    void programPath();

    void refusals_data();
    void refusals();
    void realMessageBox();
    void aboutBox_data();
    void aboutBox();
    void runSavesAtOnce_data();
    void runSavesAtOnce();

    void hoverCaptions();
    void pressedWhileHeld();

    void closeSavesScore_data();
    void closeSavesScore();
    void closeWithoutWritableFolder();
};

void TestFrmMain::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    // Twips divided by 15; status labels relative to the panel.
    QTest::newRow("Picture1") << "Picture1" << QRect(8, 8, 177, 161) << ""
                              << "";
    QTest::newRow("lblStatus0") << "lblStatus0" << QRect(0, 0, 113, 17) << "Benchmark"
                                << "";
    QTest::newRow("lblStatus1") << "lblStatus1" << QRect(40, 16, 113, 17) << "Matrix Addition"
                                << "";
    QTest::newRow("lblStatus2") << "lblStatus2" << QRect(40, 40, 129, 17) << "Matrix Multiplication"
                                << "";
    QTest::newRow("lblStatus3") << "lblStatus3" << QRect(40, 64, 113, 17) << "Array Resize"
                                << "";
    QTest::newRow("lblStatus4") << "lblStatus4" << QRect(40, 88, 113, 17) << "Complex Addition"
                                << "";
    QTest::newRow("lblStatus5") << "lblStatus5" << QRect(40, 112, 129, 17) << "Complex Multiplication"
                                << "";
    QTest::newRow("lblStatus6") << "lblStatus6" << QRect(40, 136, 113, 17) << "Quadratics"
                                << "";
    QTest::newRow("opnButton0") << "opnButton0" << QRect(208, 40, 137, 25) << "< Run Benchmark >"
                                << "Starts the benchmarking process";
    QTest::newRow("opnButton1") << "opnButton1" << QRect(208, 72, 137, 25) << "Submit Results"
                                << "Sumbits results to the online database";
    QTest::newRow("opnButton2") << "opnButton2" << QRect(208, 104, 137, 25) << "Compare your results"
                                << "Compare with a vast amount of other systems";
    QTest::newRow("opnButton3") << "opnButton3" << QRect(208, 136, 137, 25) << "About..."
                                << "Ab00t this program";
    QTest::newRow("lblDesc") << "lblDesc" << QRect(200, 8, 177, 33)
                             << "This program performs complex mathematical tests on your system."
                             << "";
    QTest::newRow("lblYourScore") << "lblYourScore" << QRect(8, 184, 353, 17) << "Your Score:"
                                  << "";
    QTest::newRow("lblScore") << "lblScore" << QRect(0, 200, 369, 25) << "Benchmark not run."
                              << "";
}

void TestFrmMain::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    MainWindowFixture f;
    f.window.Form_Load();
    auto* widget = f.window.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
    if (auto* label = qobject_cast<QLabel*>(widget))
        QCOMPARE(label->text(), text);
    if (auto* push = qobject_cast<QPushButton*>(widget))
        QCOMPARE(push->text(), text);
    QCOMPARE(widget->toolTip(), toolTip);
}

void TestFrmMain::statusColours_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<bool>("bold");
    QTest::newRow("Benchmark") << 0 << QColor(200, 255, 0) << true;
    QTest::newRow("Matrix Addition") << 1 << QColor(240, 215, 0) << false;
    QTest::newRow("Matrix Multiplication") << 2 << QColor(255, 175, 0) << false;
    QTest::newRow("Array Resize") << 3 << QColor(255, 135, 0) << false;
    QTest::newRow("Complex Addition") << 4 << QColor(255, 95, 0) << false;
    QTest::newRow("Complex Multiplication") << 5 << QColor(255, 55, 0) << false;
    QTest::newRow("Quadratics") << 6 << QColor(255, 15, 0) << false;
}

void TestFrmMain::statusColours()
{
    QFETCH(int, index);
    QFETCH(QColor, colour);
    QFETCH(bool, bold);

    MainWindowFixture f;
    f.window.Form_Load();
    auto* label = f.window.findChild<QLabel*>(QStringLiteral("lblStatus%1").arg(index));
    QVERIFY(label);
    QCOMPARE(label->palette().color(QPalette::WindowText), colour);
    QCOMPARE(label->font().bold(), bold);
    QCOMPARE(label->font().pointSizeF(), 8.25);
}

void TestFrmMain::windowLook()
{
    MainWindowFixture f;
    frmMain& w = f.window;
    w.Form_Load();

    QVERIFY(w.isVisible());
    QCOMPARE(w.windowTitle(), QStringLiteral("Vantrel 3"));
    QCOMPARE(w.size(), QSize(367, 228));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(w.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(w.palette().color(QPalette::Window), QColor(224, 224, 224));

    const QList<QSize> iconSizes = w.windowIcon().availableSizes();
    QVERIFY(iconSizes.contains(QSize(16, 16)));
    QVERIFY(iconSizes.contains(QSize(32, 32)));

    auto* panel = w.findChild<QWidget*>(QStringLiteral("Picture1"));
    QCOMPARE(panel->palette().color(QPalette::Window), QColor(64, 64, 64));

    auto* score = w.findChild<QLabel*>(QStringLiteral("lblScore"));
    QCOMPARE(QFontInfo(score->font()).family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(score->font().pointSizeF(), 15.75);
    QVERIFY(score->font().bold());
    QCOMPARE(score->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    QVERIFY(score->alignment().testFlag(Qt::AlignHCenter));

    QVERIFY(button(w, 0)->font().bold());
    for (int i = 0; i < frmMain::kButtonCount; ++i) {
        QCOMPARE(button(w, i)->palette().color(QPalette::Button), QColor(224, 224, 224));
        QCOMPARE(button(w, i)->font().bold(), i == 0);
    }
    verifyAllNormal(w);

    QVERIFY(w.Timer1);
    QCOMPARE(w.Timer1->interval(), 2000);
    QVERIFY(!w.Timer1->isActive());
}

void TestFrmMain::drawnLines()
{
    MainWindowFixture f;
    frmMain& w = f.window;
    w.Form_Load();
    const QImage image = w.grab().toImage();
    const QColor windowText = w.palette().color(QPalette::WindowText);

    // Etched rule at 2640 twips, from 360 to 5160 twips: grey over white.
    QCOMPARE(image.pixelColor(100, 176), QColor(128, 128, 128));
    QCOMPARE(image.pixelColor(100, 177), QColor(255, 255, 255));
    QCOMPARE(image.pixelColor(100, 179), QColor(224, 224, 224));
    QCOMPARE(image.pixelColor(22, 176), QColor(224, 224, 224));

    // The tree in the panel (offset 8, 8): trunk at x 16 from y 16 to 144, branches to x 32.
    QCOMPARE(image.pixelColor(8 + 16, 8 + 100), windowText);
    QCOMPARE(image.pixelColor(8 + 30, 8 + 24), windowText);
    QCOMPARE(image.pixelColor(8 + 30, 8 + 144), windowText);
    QCOMPARE(image.pixelColor(8 + 16, 8 + 150), QColor(64, 64, 64));
}

void TestFrmMain::descriptionFitsWindow()
{
    MainWindowFixture f;
    f.window.Form_Load();
    auto* desc = f.window.findChild<QLabel*>(QStringLiteral("lblDesc"));
    // Wrapped within the part of the label that lies inside the window, the text keeps to
    // the label's two lines.
    const int visibleWidth = f.window.width() - desc->x();
    const QRect text = QFontMetrics(desc->font())
                           .boundingRect(QRect(0, 0, visibleWidth, 1000), Qt::TextWordWrap, desc->text());
    QVERIFY2(text.height() <= desc->height(), qPrintable(QString::number(text.height())));
    QVERIFY(text.width() <= visibleWidth);
}

void TestFrmMain::loadedCaption_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<double>("score");
    QTest::addColumn<QString>("caption");

    QTest::newRow("no file") << false << QByteArray() << 0.0 << "Benchmark not run.";
    QTest::newRow("empty file") << true << QByteArray() << 0.0 << "Benchmark not run.";
    QTest::newRow("zero") << true << QByteArray::fromStdString(doubleBytes(0)) << 0.0 << "Benchmark not run.";
    QTest::newRow("whole") << true << QByteArray::fromStdString(doubleBytes(1234)) << 1234.0
                           << "1234 Vantrels";
    QTest::newRow("negative fraction")
        << true << QByteArray::fromStdString(doubleBytes(-2.5)) << -2.5 << "-2.5 Vantrels";
    QTest::newRow("longer file") << true << QByteArray::fromStdString(doubleBytes(77) + "tail") << 77.0
                                 << "77 Vantrels";
}

void TestFrmMain::loadedCaption()
{
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, stored);
    QFETCH(double, score);
    QFETCH(QString, caption);

    MainWindowFixture f(stored.toStdString(), fileExists);
    f.window.Form_Load();
    QCOMPARE(f.window.Score, score);
    QCOMPARE(f.window.findChild<QLabel*>(QStringLiteral("lblScore"))->text(), caption);
    QCOMPARE(f.window.MyPath, QString::fromStdString(f.dir.path()));
    QVERIFY(QFile::exists(QString::fromStdString(f.scoreFile())));
}

void TestFrmMain::programPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::newRow("plain folder") << "/opt/vantrel"
                                  << "/opt/vantrel/";
    QTest::newRow("with separator") << "/opt/vantrel/"
                                    << "/opt/vantrel/";
    QTest::newRow("root") << "/"
                          << "/";
}

void TestFrmMain::programPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(frmMain::programPath(folder), path);
}

void TestFrmMain::refusals_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::newRow("submit") << 1 << "You must run the benchmark to submit.";
    QTest::newRow("compare") << 2 << "You must run the benchmark to compare.";
}

void TestFrmMain::refusals()
{
    QFETCH(int, index);
    QFETCH(QString, text);

    MainWindowFixture f;
    frmMain& w = f.window;
    w.Form_Load();
    moveMouse(w, centreOf(button(w, index), w));
    QCOMPARE(captionColor(w, index), kBlue);

    QTest::mouseClick(button(w, index), Qt::LeftButton);
    QCOMPARE(f.messages.size(), size_t(1));
    QCOMPARE(f.messages[0].text, text);
    QCOMPARE(f.messages[0].title, QStringLiteral("Error"));
    verifyAllNormal(w);
    QCOMPARE(w.Score, 0.0);
}

// The box the user really sees: the text, its title, one OK button and no icon.
void TestFrmMain::realMessageBox()
{
    MainWindowFixture f;
    setMessageHandler({});
    f.window.Form_Load();
    QString text;
    QString title;
    qsizetype buttonCount = 0;
    bool buttonIconless = false;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        text = box->text();
        title = box->windowTitle();
        // Read now: the box and its buttons are gone once it is closed.
        buttonCount = box->buttons().size();
        buttonIconless = buttonCount == 1 && box->buttons().first()->icon().isNull();
        icon = box->icon();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    poll.start(10);
    f.window.opnButton_Click(1);

    QCOMPARE(text, QStringLiteral("You must run the benchmark to submit."));
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(buttonCount, 1);
    QVERIFY(buttonIconless);
    QCOMPARE(icon, QMessageBox::NoIcon);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestFrmMain::aboutBox_data()
{
    QTest::addColumn<int>("key"); // 0: the OK button
    QTest::newRow("OK") << 0;
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
}

void TestFrmMain::aboutBox()
{
    QFETCH(int, key);
    MainWindowFixture f;
    frmMain& w = f.window;
    w.Form_Load();
    moveMouse(w, centreOf(button(w, 3), w));

    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        QVERIFY(about);
        seen = true;
        QCOMPARE(about->windowTitle(), QStringLiteral("About Vantrel 3"));
        QCOMPARE(about->size(), QSize(273, 83));
        auto* label = about->findChild<QLabel*>(QStringLiteral("Label1"));
        QVERIFY(label);
        QCOMPARE(label->geometry(), QRect(8, 8, 249, 33));
        QVERIFY(label->text().startsWith(QStringLiteral("Vantrel 3 by ")));
        QVERIFY(label->text().endsWith(QStringLiteral(" developers  This version contains an Easter Egg!!")));
        QVERIFY(label->wordWrap());
        auto* ok = about->findChild<QPushButton*>(QStringLiteral("Command1"));
        QVERIFY(ok);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(ok->geometry(), QRect(80, 48, 113, 25));
        QVERIFY(!ok->isDefault());

        if (key == 0)
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            QTest::keyClick(ok, Qt::Key(key));
    });
    QTimer failsafe;
    QObject::connect(&failsafe, &QTimer::timeout, [] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            modal->done(0);
    });
    failsafe.start(3000);

    QTest::mouseClick(button(w, 3), Qt::LeftButton);
    QVERIFY(seen);
    QVERIFY(!QApplication::activeModalWidget());
    verifyAllNormal(w);
    QVERIFY(f.messages.empty());
}

void TestFrmMain::runSavesAtOnce_data()
{
    QTest::addColumn<double>("score");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("disturbed");
    QTest::addColumn<QString>("toolTip");
    // A run that scores 0 did happen: its caption is a number, never "Benchmark not run.".
    QTest::newRow("zero") << 0.0 << "0 Vantrels" << false << "";
    QTest::newRow("whole") << 4321.0 << "4321 Vantrels" << false << "";
    // Test 3 had 70 % of the processor, test 5 96 %: the score is kept, and its label says why it
    // is low, naming the test that lost most.
    QTest::newRow("disturbed") << 4321.0 << "4321 Vantrels" << true
                               << "Test 3 got 70 % of the processor: another program was running.\n"
                                  "Run the benchmark again for a fair score.";
}

// The file holds the new score as soon as the run ends, before any close.
void TestFrmMain::runSavesAtOnce()
{
    QFETCH(double, score);
    QFETCH(QString, caption);
    QFETCH(bool, disturbed);
    QFETCH(QString, toolTip);
    MainWindowFixture f(doubleBytes(1234) + "tail", true);
    BenchmarkResult result { score, 0, {} };
    if (disturbed) {
        result.disturbance[2] = { 1, 0.703125, 0, 300, { 0 } };
        result.disturbance[4] = { 1, 0.96, 0, 30, { 0 } };
    }
    f.window.setRunBenchmark([result](BenchmarkProgress&) { return result; });
    f.window.Form_Load();
    auto* lblScore = f.window.findChild<QLabel*>(QStringLiteral("lblScore"));
    lblScore->setToolTip(QStringLiteral("left from an earlier run"));
    f.window.opnButton_Click(0);
    QCOMPARE(f.window.Score, score);
    QCOMPARE(lblScore->text(), caption);
    QCOMPARE(lblScore->toolTip(), toolTip);
    QCOMPARE(readFile(f.scoreFile()), doubleBytes(score) + "tail");
    QCOMPARE(f.endCount, 0);
}

void TestFrmMain::hoverCaptions()
{
    MainWindowFixture f;
    frmMain& w = f.window;
    w.Form_Load();

    for (int hovered : { 1, 2 }) {
        moveMouse(w, centreOf(button(w, hovered), w));
        for (int i = 0; i < frmMain::kButtonCount; ++i)
            QCOMPARE(captionColor(w, i), i == hovered ? kBlue : kBlack);
    }

    // The panel, its labels and the form's labels leave the looks alone.
    for (const char* name : { "Picture1", "lblStatus3", "lblDesc", "lblScore", "lblYourScore" }) {
        moveMouse(w, centreOf(w.findChild<QWidget*>(QLatin1String(name)), w));
        QVERIFY2(captionColor(w, 2) == kBlue, name);
    }

    // The bare surface between the panel and the buttons resets them.
    moveMouse(w, QPoint(195, 100));
    verifyAllNormal(w);
}

void TestFrmMain::pressedWhileHeld()
{
    MainWindowFixture f;
    frmMain& w = f.window;
    w.Form_Load();

    for (Qt::MouseButton mouseButton : { Qt::LeftButton, Qt::RightButton }) {
        QPushButton* submit = button(w, 1);
        QTest::mousePress(submit, mouseButton);
        QVERIFY(submit->isChecked());
        QVERIFY(!button(w, 0)->isChecked());
        QTest::mouseRelease(submit, mouseButton);
        QVERIFY(!submit->isChecked());
    }
    // Only the left button's click ran the command, once.
    QCOMPARE(f.messages.size(), size_t(1));

    // Pressed and released off the button: shows normal again, runs nothing.
    QTest::mousePress(button(w, 2), Qt::LeftButton);
    QVERIFY(button(w, 2)->isChecked());
    QTest::mouseRelease(button(w, 2), Qt::LeftButton, {}, QPoint(-20, -20));
    QVERIFY(!button(w, 2)->isChecked());
    QCOMPARE(f.messages.size(), size_t(1));
}

void TestFrmMain::closeSavesScore_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<double>("score");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("endSignal"); // ended from outside by it, or 0: closed

    const auto bytes = [](double v) { return QByteArray::fromStdString(doubleBytes(v)); };
    QTest::newRow("no file, no run") << false << QByteArray() << -1.0 << bytes(0) << 0;
    QTest::newRow("loaded score kept") << true << bytes(1234) << -1.0 << bytes(1234) << 0;
    QTest::newRow("new score") << true << bytes(1234) << 5678.0 << bytes(5678) << 0;
    QTest::newRow("tail untouched") << true << bytes(1) + "tail" << 42.0 << bytes(42) + "tail" << 0;
    QTest::newRow("SIGTERM") << true << bytes(1234) << 5678.0 << bytes(5678) << int(SIGTERM);
}

void TestFrmMain::closeSavesScore()
{
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, stored);
    QFETCH(double, score);
    QFETCH(QByteArray, written);
    QFETCH(int, endSignal);

    MainWindowFixture f(stored.toStdString(), fileExists);
    f.window.Form_Load();
    if (score >= 0)
        f.window.Score = score;
    if (endSignal) {
        // As main.cpp wires it; here the end only counts, so the reader must come back to the loop.
        EndSignals ends({ endSignal });
        connect(&ends, &EndSignals::received, &f.window, &frmMain::endFromOutside);
        ::raise(endSignal);
        while (f.endCount == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } else {
        QVERIFY(f.window.close());
    }
    QCOMPARE(f.endCount, 1);
    // Already on disk when the program ends.
    QCOMPARE(QByteArray::fromStdString(f.scoreFileAtEnd), written);
}

void TestFrmMain::closeWithoutWritableFolder()
{
    TempDir dir;
    Session session(ChosenHost {}, QString::fromStdString(dir.file("missing")));
    frmMain w(session);
    int ended = 0;
    QStringList titles;
    w.setEndProgram([&] { ++ended; });
    setMessageHandler([&](const QString&, const QString& title) { titles << title; });
    w.Form_Load();
    QCOMPARE(w.Score, 0.0);
    w.Score = 99;
    QVERIFY(w.close());
    setMessageHandler({});
    // The user hears of the lost score, and the program still ends.
    QCOMPARE(titles, QStringList { QStringLiteral("Error") });
    QCOMPARE(ended, 1);
    QVERIFY(!QFile::exists(QString::fromStdString(dir.file("missing/Vantrel3.ini"))));
}

QTEST_MAIN(TestFrmMain)
#include "test_frm_main.moc"
