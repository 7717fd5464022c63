#pragma once

#include "core/benchmark/benchmark_run.h"
#include "core/remote/results_host.h"
#include "windows/ui/session.h"
#include "windows/ui/ticker_script.h"

#include <QString>
#include <QWidget>
#include <array>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace vantrel {

class StatusPanel;

// The start-up window: owns the score, runs the benchmark in place and opens the
// other windows. Closing it saves the score and ends the program.
class frmMain : public QWidget, public BenchmarkProgress {
    Q_OBJECT

public:
    static constexpr int kStatusCount = 7;
    static constexpr int kButtonCount = 4;

    explicit frmMain(Session& session, QWidget* parent = nullptr);

    // Last score; 0 means no benchmark has been run. The session's, under the window's name.
    double& Score;
    // Folder of the score file and the local copy: the program's own, or the user's data folder
    // when the program may not write there. Always ends in the native separator.
    QString& MyPath;
    // Drives the caption ticker; the submission window starts it.
    QTimer* Timer1 = nullptr;

    const ResultsHost& resultsHost() const;

    // Load sequence: fills the ticker, forms MyPath, shows the window and the stored score.
    void Form_Load();
    void opnButton_Click(int Index);
    // One ticker step: the next line in the score label.
    void Timer1_Timer();
    int tickerPos() const { return TickerPos; }

    void ColorStatusLabels();
    void ResetButtons();

    // The program folder as MyPath holds it: folder plus a separator unless it ends in one.
    static QString programPath(const QString& folder);

    // What ending the program does once the score is saved. The default leaves the process at
    // once, so that no nested run or modal window carries on; tests replace it to watch.
    void setEndProgram(std::function<void()> end);

    // What the run button runs; tests give it a scripted result instead of six seconds of work.
    using RunFunction = std::function<BenchmarkResult(BenchmarkProgress&)>;
    void setRunBenchmark(RunFunction run);

    // Writes Score to the score file without a word to the user; false when it can't be written.
    bool saveScoreFile() const;
    // The program is asked to end from outside (a signal, the session ending): saves the score and
    // ends without asking anything, since no one may be there to answer.
    void endFromOutside();

    // BenchmarkProgress, shown on the status labels.
    void ClearStatus() override;
    void markCurrent(int test) override;
    void yield() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    // After a run that other work disturbed, the score label says why the score is low, in its
    // tool-tip: the score is kept all the same, and the window's layout and texts stay.
    void noteDisturbance(const BenchmarkResult& result);
    void setStatusBold(int index, bool bold);
    void setCaptionColor(int index, const QColor& color);
    int buttonIndex(QObject* object) const;

    Session& m_session;
    std::function<void()> m_endProgram;
    RunFunction m_run;

    std::array<QString, kTickerLineCount> TickerLines;
    short TickerPos = 0;

    StatusPanel* Picture1 = nullptr;
    std::array<QLabel*, kStatusCount> lblStatus {};
    std::array<QPushButton*, kButtonCount> opnButton {};
    QLabel* lblDesc = nullptr;
    QLabel* lblYourScore = nullptr;
    QLabel* lblScore = nullptr;
};

} // namespace vantrel
