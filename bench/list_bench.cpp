// Fills the comparison window's list from a local copy of 100,000 records, as a
// finished download does, and reports:
//  - the time from reading the file to the first painted page (target < 250 ms),
//  - resident memory added by the filled list next to the file's size (target < 3x),
//  - the time to paint each page while scrolling through the list (smooth: well under 16 ms).
#include "windows/compare/frm_compare.h"
#include "windows/compare/results_list_model.h"
#include "sample_results.h"
#include "core/submit/results_file.h"
#include "windows/ui/command_line.h"
#include "windows/ui/frm_main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kRecords = vantrel::bench::kSampleRecords;

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

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto exitCode = vantrel::parseQtCommandLine(QStringLiteral("vantrel3-list-bench"),
            QStringLiteral("Fills the comparison list with 100,000 rows and reports the time and memory."),
            arguments))
        return *exitCode;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::string folder = (std::filesystem::temp_directory_path() / "vantrel3-list-bench/").string();
    std::filesystem::create_directories(folder);
    const std::string localCopy = folder + "compare.zip";
    std::size_t fileSize = 0;
    {
        const std::string file = vantrel::bench::sampleResultsFile();
        fileSize = file.size();
        std::ofstream(localCopy, std::ios::binary)
            .write(file.data(), static_cast<std::streamsize>(file.size()));
    }

    vantrel::frmMain main({}, QString::fromStdString(folder));
    main.MyPath = QString::fromStdString(folder);
    main.Score = 123456;
    vantrel::frmCompare dlg(main);
    dlg.show();
    QApplication::processEvents();
    QTableView* list = dlg.lstCompare;

    std::printf("records: %zu, file: %.2f MB\n", kRecords, static_cast<double>(fileSize) / 1e6);

    // Warm up the paint path on an empty list so the first fill isn't charged for it.
    list->viewport()->repaint();
    const long before = residentBytes();

    std::vector<double> fills;
    long afterFirst = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        dlg.listLocalCopy();
        // The view lays out on its next turn of the event loop: count that and one paint.
        QApplication::processEvents();
        list->viewport()->repaint();
        fills.push_back(ms(timer));
        if (run == 0)
            afterFirst = residentBytes();
    }
    const long afterLast = residentBytes();
    if (static_cast<std::size_t>(dlg.listModel()->rowCount()) != kRecords) {
        std::fprintf(stderr, "listed %d rows, expected %zu\n", dlg.listModel()->rowCount(), kRecords);
        return 1;
    }
    std::sort(fills.begin(), fills.end());
    std::printf("fill + first paint: best %.1f ms, median %.1f ms, worst %.1f ms (target < 250 ms)\n",
        fills.front(), fills[fills.size() / 2], fills.back());
    const double grown = static_cast<double>(afterFirst - before);
    std::printf(
        "memory: +%.2f MB after the first fill = %.2fx the file (target < 3x); +%.2f MB after five fills\n",
        grown / 1e6, grown / static_cast<double>(fileSize), static_cast<double>(afterLast - before) / 1e6);

    // Page through the whole list from top to bottom, painting each page.
    QScrollBar* bar = list->verticalScrollBar();
    std::vector<double> frames;
    const int step = std::max(1, bar->pageStep());
    for (int value = bar->minimum(); value <= bar->maximum(); value += step * 97) {
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

    std::filesystem::remove_all(folder);
    return 0;
}
