#include "core/compare/comparison_graph.h"
#include "core/results/results_file.h"
#include "record_bytes.h"
#include "results_host_process.h"
#include "temp_dir.h"
#include "windows/compare/frm_compare.h"
#include "windows/compare/results_list_model.h"
#include "windows/compare/twip_shape.h"
#include "windows/submit/frm_submit.h"
#include "windows/ui/frm_main.h"
#include "windows/ui/message_box.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

using namespace vantrel;
using vantrel::test::ResultsHostOptions;
using vantrel::test::ResultsHostProcess;
using vantrel::test::TempDir;

namespace {

// Scores neither rising nor falling, so that a list sorted by score shows in another order.
const std::vector<ResultRecord> kThree = {
    { "Ann", "ann@example.org", "Win XP", "Athlon XP 2400+", 250 },
    { "Bob", "", "Win 98", "Pentium III 500", 2000 },
    { "Cécile", "c@example.fr", "Win 2K", "K6-2 “333”", 0 },
};

using test::encodeRecords;

int px(double twips)
{
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

// A session with a score, its folder a fresh one, and the comparison window over it: no main window.
struct Windows {
    explicit Windows(const ResultsHost& host, double score = 1000)
        : session(ChosenHost { host }, QString::fromStdString(folder.path()))
    {
        session.MyPath = QString::fromStdString(folder.path());
        session.Score = score;
        compare = std::make_unique<frmCompare>(session);
    }
    std::string localCopy() const { return folder.file("compare.zip"); }
    QStringList row(int r) const
    {
        QStringList cells;
        const auto* model = compare->listModel();
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->data(model->index(r, c)).toString();
        return cells;
    }

    TempDir folder;
    Session session;
    std::unique_ptr<frmCompare> compare;
};

} // namespace

class TestFrmCompare : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layoutAsDesigned();
    void mainWindowOpensIt();
    void listsCompleteRecordsInFileOrder();
    void failedDownloadsEndWithAnEmptyList_data();
    void failedDownloadsEndWithAnEmptyList();
    void secondDownloadReplacesTheRows();
    void refreshAddsOnlyTheNewRows();
    void buttonsStayApartWhileDownloading();
    void closingDuringADownloadCancelsIt();
    void submitCancelledStillDownloadsAgain();
    void clickOnARowDrawsTheGraph();
    void clickWithoutASelectionChangesNothing();

private:
    QStringList m_messages;
};

void TestFrmCompare::init()
{
    m_messages.clear();
    setMessageHandler([this](const QString& text, const QString&) { m_messages << text; });
}

void TestFrmCompare::cleanup()
{
    setMessageHandler({});
}

void TestFrmCompare::layoutAsDesigned()
{
    Windows w { ResultsHost {} };
    frmCompare& dlg = *w.compare;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Online Compare"));
    QCOMPARE(dlg.size(), QSize(494, 415));
    QCOMPARE(dlg.Label4->text(),
        QStringLiteral(
            "Select an item to compare  (Note:  Due to the more efficient use of CPU power, Win NT/2K "
            "scores will be much higher than Win 9x scores):"));
    QCOMPARE(dlg.cmdDownload->text(), QStringLiteral("> Download Data <"));
    QVERIFY(dlg.cmdDownload->font().bold());
    QCOMPARE(dlg.cmdSubmit->text(), QStringLiteral("Submit your results..."));
    QCOMPARE(dlg.Label3->text(), QStringLiteral("Comparison Graph:"));
    QVERIFY(dlg.Label3->font().bold());
    QCOMPARE(dlg.Label1->text(), QStringLiteral("Your system:"));
    QCOMPARE(dlg.Label2->text(), QStringLiteral("Selected System:"));
    QCOMPARE(dlg.lblYourSystem->text(), QStringLiteral("0"));
    QCOMPARE(dlg.lblCompare->text(), QStringLiteral("0"));
    QCOMPARE(dlg.lstCompare->geometry(), QRect(8, 40, 481, 209));
    QCOMPARE(dlg.cmdDownload->geometry(), QRect(48, 256, 185, 25));

    for (const char* name : { "Label4", "lstCompare", "cmdDownload", "cmdSubmit", "Label3", "lblYourSystem",
             "Label1", "Shape1", "lblCompare", "Label2", "Shape2", "Line1" })
        QVERIFY2(dlg.findChild<QWidget*>(QString::fromLatin1(name)), name);

    QCOMPARE(dlg.fullWidth(), 5655);
    QCOMPARE(dlg.Shape1->twipWidth(), 5655.0f);
    QCOMPARE(dlg.Shape2->twipWidth(), 15.0f);

    const QStringList titles { "System", "Score", "OS", "Submitted By", "Email" };
    const QList<int> widths { 196, 96, 80, 100, 120 };
    QHeaderView* header = dlg.lstCompare->horizontalHeader();
    QCOMPARE(header->count(), 5);
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(dlg.listModel()->headerData(c, Qt::Horizontal).toString(), titles[c]);
        QCOMPARE(header->sectionSize(c), widths[c]);
    }
    QCOMPARE(dlg.lstCompare->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(dlg.lstCompare->model()->rowCount(), 0);
}

void TestFrmCompare::mainWindowOpensIt()
{
    Windows w { ResultsHost {}, 42 };
    frmMain main(w.session);
    QString title;
    QTimer::singleShot(0, &main, [&] {
        if (auto* dlg = qobject_cast<frmCompare*>(QApplication::activeModalWidget())) {
            title = dlg->windowTitle();
            dlg->close();
        }
    });
    main.opnButton_Click(2);
    QCOMPARE(title, QStringLiteral("Online Compare"));
}

void TestFrmCompare::listsCompleteRecordsInFileOrder()
{
    ResultsHostProcess host;
    const std::string fourth = EncodeResultRecord({ "Dan", "d@x", "Win ME", "Duron", 900 });
    const std::string shared = encodeRecords(kThree) + fourth.substr(0, fourth.size() - 3);
    test::writeFile(host.sharedFile(), shared);

    Windows w { host.host() };
    test::writeFile(w.localCopy(), "stale");
    w.compare->cmdDownload_Click();

    QCOMPARE(w.compare->listModel()->rowCount(), 3);
    QCOMPARE(w.row(0), QStringList({ "Athlon XP 2400+", "250", "Win XP", "Ann", "ann@example.org" }));
    // An empty e-mail gives an empty cell; a whole score shows plain digits.
    QCOMPARE(w.row(1), QStringList({ "Pentium III 500", "2000", "Win 98", "Bob", "" }));
    QCOMPARE(w.row(2), QStringList({ "K6-2 “333”", "0", "Win 2K", "Cécile", "c@example.fr" }));
    QCOMPARE(w.compare->cmdDownload->text(), QStringLiteral("Refresh list"));
    QVERIFY(w.compare->cmdDownload->isEnabled());
    // The local copy keeps the download's whole records, byte for byte.
    QCOMPARE(test::readFile(w.localCopy()), encodeRecords(kThree));
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(w.compare->emptyListText(), QString());
}

void TestFrmCompare::failedDownloadsEndWithAnEmptyList_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why"); // how the empty list's text begins
    QTest::addColumn<QString>("cause"); // and a part of it naming the cause
    const QString none = QStringLiteral("No results have been submitted yet.");
    const QString failed = QStringLiteral("The results could not be downloaded: ");
    QTest::newRow("empty shared file") << "empty" << none << none;
    QTest::newRow("missing shared file (404 page)") << "missing" << none << none;
    QTest::newRow("error page served as the file") << "page" << none << none;
    QTest::newRow("host stopped") << "stopped" << failed << "could not be reached";
    QTest::newRow("HTTP 500") << "http-500" << failed << "500";
    QTest::newRow("body cut short") << "http-cut" << failed << "cut short";
    // A regular file where the program folder should be: not even the superuser writes there.
    QTest::newRow("local copy unwritable") << "unwritable"
                                           << "The local copy could not be written: "
                                           << "not a directory";
}

void TestFrmCompare::failedDownloadsEndWithAnEmptyList()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);
    QFETCH(QString, cause);
    ResultsHostOptions options;
    if (kind.startsWith("http-"))
        options.fault = kind.toStdString();
    ResultsHostProcess host(options);
    // Whole records throughout, so that anything decoded would show as rows.
    test::writeFile(host.sharedFile(), encodeRecords(kThree) + encodeRecords(kThree));
    if (kind == "empty")
        test::writeFile(host.sharedFile(), "");
    if (kind == "missing")
        std::remove(host.sharedFile().c_str());
    if (kind == "page")
        test::writeFile(host.sharedFile(), std::string(kHostErrorMarker) + encodeRecords(kThree));

    Windows w { host.host() };
    // Rows of an earlier download must go too.
    w.compare->cmdDownload_Click();
    if (kind == "stopped") {
        QCOMPARE(w.compare->listModel()->rowCount(), 6);
        host.stop();
    } else if (kind == "missing" || kind == "empty" || kind == "page") {
        test::writeFile(w.localCopy(), encodeRecords(kThree));
    } else if (kind == "unwritable") {
        test::writeFile(w.folder.file("plain"), "");
        w.session.MyPath = QString::fromStdString(w.folder.file("plain/"));
    }
    w.compare->cmdDownload_Click();

    QCOMPARE(w.compare->listModel()->rowCount(), 0);
    QCOMPARE(w.compare->cmdDownload->text(), QStringLiteral("Refresh list"));
    QVERIFY(w.compare->cmdDownload->isEnabled());
    QVERIFY(w.compare->cmdSubmit->isEnabled());
    QVERIFY(m_messages.isEmpty());
    const QString text = w.compare->emptyListText();
    QVERIFY2(text.startsWith(why) && text.contains(cause), qPrintable(text));
    if (kind == "unwritable")
        return;
    // The local copy holds at most the start of the results file, nothing of another answer.
    const std::string copy
        = QFile::exists(QString::fromStdString(w.localCopy())) ? test::readFile(w.localCopy()) : "";
    const std::string results = kind == "page" || kind == "missing" ? "" : test::readFile(host.sharedFile());
    QVERIFY(std::string_view(results).starts_with(copy));
}

void TestFrmCompare::secondDownloadReplacesTheRows()
{
    ResultsHostProcess host;
    test::writeFile(host.sharedFile(), "");
    Windows w { host.host() };
    w.compare->cmdDownload_Click();
    QVERIFY(!w.compare->emptyListText().isEmpty());

    test::writeFile(host.sharedFile(), encodeRecords(kThree));
    w.compare->cmdDownload_Click();
    QCOMPARE(w.compare->listModel()->rowCount(), 3);
    QCOMPARE(w.compare->emptyListText(), QString());

    test::writeFile(host.sharedFile(), encodeRecords({ kThree[2], kThree[0] }));
    w.compare->cmdDownload_Click();
    QCOMPARE(w.compare->listModel()->rowCount(), 2);
    QCOMPARE(w.row(0).at(3), QStringLiteral("Cécile"));
    QCOMPARE(w.row(1).at(3), QStringLiteral("Ann"));
}

void TestFrmCompare::refreshAddsOnlyTheNewRows()
{
    ResultsHostProcess host;
    const std::string fourth = EncodeResultRecord({ "Dan", "d@x", "Win ME", "Duron", 900 });
    test::writeFile(host.sharedFile(), encodeRecords(kThree) + fourth.substr(0, 10));
    Windows w { host.host() };
    w.compare->cmdDownload_Click();
    QCOMPARE(w.compare->listModel()->rowCount(), 3);
    w.compare->lstCompare->selectRow(1);

    // The record cut short is completed on the host, and one more follows it.
    test::writeFile(host.sharedFile(), encodeRecords(kThree) + fourth + EncodeResultRecord(kThree[0]));
    QSignalSpy resets(w.compare->listModel(), &QAbstractItemModel::modelReset);
    QSignalSpy inserted(w.compare->listModel(), &QAbstractItemModel::rowsInserted);
    host.clearRequestLog();
    w.compare->cmdDownload_Click();
    QCOMPARE(w.compare->listModel()->rowCount(), 5);
    QCOMPARE(w.row(3), QStringList({ "Duron", "900", "Win ME", "Dan", "d@x" }));
    QCOMPARE(w.row(4).at(3), QStringLiteral("Ann"));
    QCOMPARE(test::readFile(w.localCopy()), test::readFile(host.sharedFile()));
    // Only the new bytes came, and only new rows were added: the selection stays.
    QVERIFY(QString::fromStdString(host.requestLog()).contains(" 206 "));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted[0][1].toInt(), 3);
    QCOMPARE(inserted[0][2].toInt(), 4);
    const QModelIndexList selected = w.compare->lstCompare->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.front().row(), 1);
}

void TestFrmCompare::buttonsStayApartWhileDownloading()
{
    ResultsHostOptions options;
    options.throttle = 2000;
    ResultsHostProcess host(options);
    // 200 bytes every 0.1 s: about half a second.
    std::string fifteen;
    for (int i = 0; i < 5; ++i)
        fifteen += encodeRecords(kThree);
    test::writeFile(host.sharedFile(), fifteen);
    Windows w { host.host() };

    std::optional<QString> caption;
    bool downloadEnabled = true;
    bool submitEnabled = true;
    QTimer::singleShot(50, w.compare.get(), [&] {
        caption = w.compare->cmdDownload->text();
        downloadEnabled = w.compare->cmdDownload->isEnabled();
        submitEnabled = w.compare->cmdSubmit->isEnabled();
        // Pressing either button now starts nothing.
        w.compare->cmdSubmit->click();
        w.compare->cmdDownload->click();
    });
    host.clearRequestLog();
    w.compare->cmdDownload_Click();

    QCOMPARE(caption.value_or(QString()), QStringLiteral("Downloading..."));
    QVERIFY(!downloadEnabled);
    QVERIFY(!submitEnabled);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(QString::fromStdString(host.requestLog()).count("HTTP GET"), 1);
    QCOMPARE(w.compare->listModel()->rowCount(), 15);
}

void TestFrmCompare::closingDuringADownloadCancelsIt()
{
    ResultsHostOptions options;
    options.throttle = 1000;
    ResultsHostProcess host(options);
    // Some 20 s at full length: a transfer left running would end with three rows.
    test::writeFile(host.sharedFile(), encodeRecords(kThree) + std::string(20000, 'x'));
    Windows w { host.host() };
    w.compare->show();

    QTimer::singleShot(200, w.compare.get(), [&] { w.compare->close(); });
    w.compare->cmdDownload_Click();

    QVERIFY(!w.compare->isVisible());
    QCOMPARE(w.compare->listModel()->rowCount(), 0);
    QCOMPARE(w.compare->cmdDownload->text(), QStringLiteral("Refresh list"));
    QVERIFY(m_messages.isEmpty());
}

void TestFrmCompare::submitCancelledStillDownloadsAgain()
{
    ResultsHostProcess host;
    test::writeFile(host.sharedFile(), encodeRecords(kThree));
    Windows w { host.host() };

    bool sawSubmit = false;
    QTimer::singleShot(0, w.compare.get(), [&] {
        auto* submit = qobject_cast<frmSubmit*>(QApplication::activeModalWidget());
        sawSubmit = submit != nullptr;
        if (submit)
            submit->cmdCancel->click();
    });
    w.compare->cmdSubmit->click();

    QVERIFY(sawSubmit);
    QCOMPARE(w.compare->listModel()->rowCount(), 3);
    QCOMPARE(w.compare->cmdDownload->text(), QStringLiteral("Refresh list"));
    QVERIFY(m_messages.isEmpty());
}

void TestFrmCompare::clickOnARowDrawsTheGraph()
{
    ResultsHostProcess host;
    test::writeFile(host.sharedFile(), encodeRecords(kThree));
    Windows w { host.host(), 1000 };
    frmCompare& dlg = *w.compare;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.cmdDownload_Click();

    auto clickRow = [&](int row) {
        const QRect rect = dlg.lstCompare->visualRect(dlg.listModel()->index(row, 0));
        QTest::mouseClick(dlg.lstCompare->viewport(), Qt::LeftButton, {}, rect.center());
    };

    clickRow(1); // 2000 against own 1000
    QCOMPARE(dlg.Shape1->twipWidth(), 2827.5f);
    QCOMPARE(dlg.Shape2->twipWidth(), 5655.0f);
    QCOMPARE(dlg.lblYourSystem->text(), QStringLiteral("1000"));
    QCOMPARE(dlg.lblCompare->text(), QStringLiteral("2000"));
    QCOMPARE(dlg.Shape1->width(), px(1440 + 2827.5) - px(1440));
    const float yourLeft = ValueLabelLeft(1440, 2827.5f, static_cast<float>(dlg.lblYourSystem->width() * 15));
    QCOMPARE(dlg.lblYourSystem->x(), px(yourLeft));
    const float compareLeft = ValueLabelLeft(1440, 5655, static_cast<float>(dlg.lblCompare->width() * 15));
    QCOMPARE(dlg.lblCompare->x(), px(compareLeft));
    QCOMPARE(dlg.lblYourSystem->y(), px(4800));
    QCOMPARE(dlg.lblCompare->y(), px(5400));

    clickRow(2); // score 0
    QCOMPARE(dlg.Shape1->twipWidth(), 5655.0f);
    QCOMPARE(dlg.Shape2->twipWidth(), 0.0f);
    QCOMPARE(dlg.lblCompare->text(), QStringLiteral("0"));
    QVERIFY(dlg.lblCompare->x() < px(1440));

    // Moved by keyboard, the graph follows the current row as a click would.
    struct Step {
        Qt::Key key;
        float yours, selected;
    };
    for (const Step& step : { Step { Qt::Key_Home, 5655, 1413.75f }, Step { Qt::Key_Down, 2827.5f, 5655 },
             Step { Qt::Key_End, 5655, 0 }, Step { Qt::Key_Up, 2827.5f, 5655 },
             Step { Qt::Key_PageUp, 5655, 1413.75f }, Step { Qt::Key_PageDown, 5655, 0 } }) {
        QTest::keyClick(dlg.lstCompare, step.key);
        QCOMPARE(dlg.Shape1->twipWidth(), step.yours);
        QCOMPARE(dlg.Shape2->twipWidth(), step.selected);
    }
    QCOMPARE(dlg.lblCompare->text(), QStringLiteral("0"));
}

void TestFrmCompare::clickWithoutASelectionChangesNothing()
{
    Windows w { ResultsHost {} };
    frmCompare& dlg = *w.compare;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.lstCompare->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    dlg.lstCompare_Click();
    QCOMPARE(dlg.Shape1->twipWidth(), 5655.0f);
    QCOMPARE(dlg.Shape2->twipWidth(), 15.0f);
    QCOMPARE(dlg.lblYourSystem->text(), QStringLiteral("0"));
    QCOMPARE(dlg.lblCompare->text(), QStringLiteral("0"));
}

QTEST_MAIN(TestFrmCompare)
#include "test_frm_compare.moc"
