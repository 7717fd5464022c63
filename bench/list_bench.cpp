// The comparison window against a real results host holding a large shared file (by
// default 1,000,000 records), driven as the user drives it, and next to it, in the same
// run, a plain read of the same bytes from the page cache and a plain download of them:
//  - the first list in a window with no local copy (a whole download);
//  - the first list in a fresh window whose local copy is up to date (target: well under
//    half a second at 1M records);
//  - "Refresh list" after 10 records were added on the host (target < 150 ms at 1M),
//    and whether the selected row and the scroll position stay;
//  - "Refresh list" with nothing new;
//  - resident memory added by a filled list, next to the file's size and per record;
//  - the time to paint each page while scrolling through the list (smooth: well under 16 ms).
// Each time is from the click to the rows painted. By default the bench starts the local
// results host (tools/results-host); --web and --data point it at another web server
// (Apache, say) that serves DATA/compare.zip as /vantrel/COMPARE.ZIP.
#include "console/console_args.h"
#include "core/remote/curl_inet.h"
#include "core/submit/ftp_account.h"
#include "core/results/results_file.h"
#include "results_host_process.h"
#include "sample_results.h"
#include "temp_dir.h"
#include "windows/compare/frm_compare.h"
#include "windows/compare/results_list_model.h"
#include "windows/ui/session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vantrel;

namespace {

// Resident set size in bytes, from /proc/self/statm.
long residentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

double ms(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

struct Times {
    std::vector<double> ms;
    double median() const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[sorted.size() / 2];
    }
    double best() const { return ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()); }
};

// The click on the download button, until the rows are laid out and painted.
double clickToRows(frmCompare& dlg)
{
    QElapsedTimer timer;
    timer.start();
    dlg.cmdDownload->click();
    QApplication::processEvents();
    dlg.lstCompare->viewport()->repaint();
    return ms(timer);
}

// read() of the whole file into one buffer, as a program that only reads it would.
double plainRead(const std::string& path, std::size_t size)
{
    std::unique_ptr<char[]> buffer(new char[size + 1]);
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t done = 0;
    while (fd >= 0 && done < size) {
        const ssize_t n = ::read(fd, buffer.get() + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (fd >= 0)
        ::close(fd);
    return ms(timer);
}

// A plain download of the whole file into a file, with the same transfer control.
double plainDownload(const std::string& address, const std::string& into)
{
    CurlInet inet;
    const int fd = ::open(into.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QElapsedTimer timer;
    timer.start();
    if (inet.fetch({ .address = address, .fd = fd, .maxBytes = std::uint64_t(1) << 33 }))
        while (inet.StillExecuting()) { }
    const double took = ms(timer);
    ::close(fd);
    ::unlink(into.c_str());
    return inet.outcome().ok() ? took : -1;
}

void appendTo(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app { "The comparison window against a results host holding a large shared file: the first "
                   "list, a refresh after a few new records, memory and scrolling, next to a plain read and "
                   "a plain download of the same bytes.",
        "vantrel3-list-bench" };
    std::size_t records = 1'000'000;
    int runs = 5;
    std::string web;
    std::string data;
    app.add_option("--records", records, "Records in the shared file (default 1000000)")
        ->check(CLI::Range(std::size_t(1), std::size_t(5'000'000)));
    app.add_option("--runs", runs, "Refreshes measured for each case (default 5)")->check(CLI::Range(1, 50));
    app.add_option("--web", web, "HOST:PORT of a running web server instead of the local results host");
    app.add_option("--data", data, "The folder whose compare.zip that web server serves (with --web)");
    if (const auto exitCode = parseCommandLine(app, argc, argv))
        return *exitCode;
    if (web.empty() != data.empty())
        return usageError(app.get_name(), "--web and --data go together");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    std::optional<test::ResultsHostProcess> localHost;
    ResultsHost host { web, "" };
    std::string shared = data + "/compare.zip";
    if (web.empty()) {
        localHost.emplace();
        host = localHost->host();
        shared = localHost->sharedFile();
    }
    std::size_t fileSize = 0;
    {
        const std::string file = bench::sampleResultsFile(records);
        fileSize = file.size();
        test::writeFile(shared, file);
    }
    const test::TempDir folder;
    std::printf("records: %zu, file: %.2f MB, host: %s\n", records, static_cast<double>(fileSize) / 1e6,
        localHost ? "local results host" : web.c_str());

    Times reads;
    Times downloads;
    for (int i = 0; i < 3; ++i) {
        reads.ms.push_back(plainRead(shared, fileSize));
        downloads.ms.push_back(plainDownload(host.web + kSharedFileWebPath, folder.file("plain")));
    }
    std::printf("plain read of the file: best %.1f ms; plain download of it: best %.1f ms\n", reads.best(),
        downloads.best());

    Session session(ChosenHost { host }, QString::fromStdString(folder.path()));
    session.MyPath = QString::fromStdString(folder.path());
    session.Score = 123456;
    bool ok = true;
    const auto expectRows = [&](const frmCompare& dlg, std::size_t rows, const char* when) {
        if (static_cast<std::size_t>(dlg.listModel()->rowCount()) == rows)
            return;
        std::fprintf(stderr, "%s: listed %d rows, expected %zu\n", when, dlg.listModel()->rowCount(), rows);
        ok = false;
    };

    // A window with no local copy yet: everything comes over the network.
    double wholeDownload = 0;
    {
        frmCompare dlg(session);
        dlg.show();
        QApplication::processEvents();
        dlg.lstCompare->viewport()->repaint();
        wholeDownload = clickToRows(dlg);
        expectRows(dlg, records, "first list without a local copy");
    }
    std::printf("first list, no local copy: %.1f ms = %.1fx the plain download\n", wholeDownload,
        wholeDownload / downloads.best());

    // A fresh window each time, its local copy up to date.
    Times firstLists;
    long grown = 0;
    std::size_t tableBytes = 0;
    for (int run = 0; run < runs; ++run) {
        frmCompare dlg(session);
        dlg.show();
        QApplication::processEvents();
        dlg.lstCompare->viewport()->repaint();
        const long before = residentBytes();
        firstLists.ms.push_back(clickToRows(dlg));
        grown = std::max(grown, residentBytes() - before);
        tableBytes = dlg.listModel()->table().byteSize();
        expectRows(dlg, records, "first list from the local copy");
    }
    std::printf("first list, local copy up to date: median %.1f ms, best %.1f ms = %.1fx the plain read "
                "(target: well under 500 ms)\n",
        firstLists.median(), firstLists.best(), firstLists.best() / reads.best());
    const auto perRecord = [&](double bytes) {
        return (bytes - static_cast<double>(fileSize)) / static_cast<double>(records);
    };
    std::printf("memory: +%.2f MB for a filled list = file + %.1f bytes a record (%.2fx the file); the "
                "records' table alone: file + %.1f bytes a record\n",
        static_cast<double>(grown) / 1e6, perRecord(static_cast<double>(grown)),
        static_cast<double>(grown) / static_cast<double>(fileSize),
        perRecord(static_cast<double>(tableBytes)));

    frmCompare dlg(session);
    dlg.show();
    QApplication::processEvents();
    clickToRows(dlg);
    expectRows(dlg, records, "the window that refreshes");
    QTableView* list = dlg.lstCompare;
    const int selectedRow = static_cast<int>(records / 2);
    list->selectRow(selectedRow);
    list->scrollTo(dlg.listModel()->index(selectedRow, 0), QAbstractItemView::PositionAtCenter);
    QApplication::processEvents();
    const int scrolledTo = list->verticalScrollBar()->value();

    // Ten records added on the host before each refresh.
    const std::string ten = bench::sampleResultsFile(10, 99);
    Times refreshes;
    bool kept = true;
    std::size_t expected = records;
    for (int run = 0; run < runs; ++run) {
        appendTo(shared, ten);
        expected += 10;
        refreshes.ms.push_back(clickToRows(dlg));
        expectRows(dlg, expected, "refresh after 10 new records");
        const QModelIndexList selected = list->selectionModel()->selectedRows();
        kept = kept && selected.size() == 1 && selected.front().row() == selectedRow
            && list->verticalScrollBar()->value() == scrolledTo;
    }
    std::printf("refresh, 10 new records: median %.1f ms, best %.1f ms (target < 150 ms) = %.2fx the plain "
                "read; selection and scroll position %s\n",
        refreshes.median(), refreshes.best(), refreshes.best() / reads.best(), kept ? "kept" : "LOST");

    Times unchanged;
    for (int run = 0; run < runs; ++run) {
        unchanged.ms.push_back(clickToRows(dlg));
        expectRows(dlg, expected, "refresh with nothing new");
    }
    std::printf("refresh, nothing new: median %.1f ms, best %.1f ms\n", unchanged.median(), unchanged.best());

    // Page through the whole list from top to bottom, painting each page.
    QScrollBar* bar = list->verticalScrollBar();
    std::vector<double> frames;
    const int step = std::max(1, bar->pageStep());
    const int pages = std::max(1, (bar->maximum() - bar->minimum()) / step / 1000);
    for (int value = bar->minimum(); value <= bar->maximum(); value += step * pages) {
        QElapsedTimer timer;
        timer.start();
        bar->setValue(value);
        list->viewport()->repaint();
        frames.push_back(ms(timer));
    }
    // And line by line for a while, as a mouse wheel does.
    for (int i = 0; i < 300; ++i) {
        QElapsedTimer timer;
        timer.start();
        bar->setValue(bar->value() - 3);
        list->viewport()->repaint();
        frames.push_back(ms(timer));
    }
    std::sort(frames.begin(), frames.end());
    std::printf("scrolling: %zu pages painted, median %.2f ms, 99th %.2f ms, worst %.2f ms per page\n",
        frames.size(), frames[frames.size() / 2], frames[frames.size() * 99 / 100], frames.back());
    return ok ? 0 : 1;
}
