#include "windows/ui/frm_main.h"

#include "core/benchmark/program_folder.h"
#include "core/benchmark/score_file.h"
#include "windows/compare/frm_compare.h"
#include "windows/submit/frm_submit.h"
#include "windows/ui/app_icon.h"
#include "windows/ui/form_layout.h"
#include "windows/ui/frm_about.h"
#include "windows/ui/message_box.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace vantrel {

namespace {

const QColor kPanelGrey(64, 64, 64);
const QColor kHoverBlue(0, 0, 255);
const QColor kScoreGreen(0, 128, 0);

QFont scoreFont()
{
    QFont font;
    font.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("Arial") });
    font.setPointSizeF(15.75);
    font.setBold(true);
    return font;
}

void setTextColor(QWidget* widget, QPalette::ColorRole role, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

struct StatusLabelDef {
    const char* text;
    int left, top, width, height;
};

constexpr StatusLabelDef kStatusLabels[frmMain::kStatusCount] = {
    { "Benchmark", 0, 0, 1695, 255 },
    { "Matrix Addition", 600, 240, 1695, 255 },
    { "Matrix Multiplication", 600, 600, 1935, 255 },
    { "Array Resize", 600, 960, 1695, 255 },
    { "Complex Addition", 600, 1320, 1695, 255 },
    { "Complex Multiplication", 600, 1680, 1935, 255 },
    { "Quadratics", 600, 2040, 1695, 255 },
};

struct ButtonDef {
    const char* text;
    const char* toolTip;
    int top;
};

constexpr ButtonDef kButtons[frmMain::kButtonCount] = {
    { "< Run Benchmark >", "Starts the benchmarking process", 600 },
    { "Submit Results", "Sumbits results to the online database", 1080 },
    { "Compare your results", "Compare with a vast amount of other systems", 1560 },
    { "About...", "Ab00t this program", 2040 },
};

// A push button whose value is its pressed look: down while a mouse button holds it (any
// button), up on release. A click runs its command without latching the value.
class ToggleButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        setChecked(true);
        QPushButton::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        // Back to normal before the click runs, so a long command shows the button up.
        setChecked(false);
        QPushButton::mouseReleaseEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        QPushButton::mouseMoveEvent(event);
        // Kept here: passed on, the move would reach the window and undo the hover look.
        event->accept();
    }
    void nextCheckState() override { }
};

} // namespace

// The dark panel with the status labels and the tree that joins them.
class StatusPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(QPen(palette().color(QPalette::WindowText), 1));
        p.drawLine(px(240), px(240), px(240), px(2160));
        for (int y : { 360, 720, 1080, 1440, 1800, 2160 })
            p.drawLine(px(240), px(y), px(480), px(y));
    }
};

frmMain::frmMain(Session& session, QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , Score(session.Score)
    , MyPath(session.MyPath)
    , m_session(session)
    , m_endProgram([] {
        std::fflush(nullptr);
        std::_Exit(0);
    })
    , m_run([](BenchmarkProgress& progress) { return RunBenchmark(progress); })
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vantrel 3"));
    setWindowIcon(appIcon());
    setFixedSize(px(5505), px(3420));
    setFormBackground(this);
    setFont(formFont());
    setMouseTracking(true);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    connect(&session, &Session::tickerRequested, this, [this] {
        if (!Timer1->isActive())
            Timer1->start();
    });

    buildControls();
}

void frmMain::buildControls()
{
    Picture1 = new StatusPanel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twipRect(120, 120, 2655, 2415));
    Picture1->setAutoFillBackground(true);
    setTextColor(Picture1, QPalette::Window, kPanelGrey);

    for (int i = 0; i < kStatusCount; ++i) {
        const auto& def = kStatusLabels[i];
        auto* label = makeLabel(Picture1, QStringLiteral("lblStatus%1").arg(i), QString::fromLatin1(def.text),
            twipRect(def.left, def.top, def.width, def.height), Qt::AlignLeft | Qt::AlignTop);
        label->setFont(formFont(i == 0));
        lblStatus[i] = label;
    }

    for (int i = 0; i < kButtonCount; ++i) {
        const auto& def = kButtons[i];
        auto* button = placeButton(new ToggleButton(QString::fromLatin1(def.text), this),
            QStringLiteral("opnButton%1").arg(i), twipRect(3120, def.top, 2055, 375));
        button->setToolTip(QString::fromLatin1(def.toolTip));
        button->setCheckable(true);
        button->setFont(formFont(i == 0));
        button->setMouseTracking(true);
        setTextColor(button, QPalette::Button, formGrey());
        button->installEventFilter(this);
        connect(button, &QPushButton::clicked, this, [this, i] { opnButton_Click(i); });
        opnButton[i] = button;
    }
    // Tab order follows creation, which is the index order.

    lblDesc = makeLabel(this, QStringLiteral("lblDesc"),
        QStringLiteral("This program performs complex mathematical tests on your system."),
        twipRect(3000, 120, 2655, 495), Qt::AlignLeft | Qt::AlignTop);
    lblDesc->setWordWrap(true);
    // The label runs 10 pixels past the window's edge; in this face the second line would lose
    // its last word there, so the description alone is set a size smaller.
    QFont descFont = formFont();
    descFont.setPointSizeF(7.5);
    lblDesc->setFont(descFont);

    lblYourScore = makeLabel(this, QStringLiteral("lblYourScore"), QStringLiteral("Your Score:"),
        twipRect(120, 2760, 5295, 255), Qt::AlignHCenter | Qt::AlignTop);

    lblScore = makeLabel(this, QStringLiteral("lblScore"), QStringLiteral("Benchmark not run."),
        twipRect(0, 3000, 5535, 375), Qt::AlignHCenter | Qt::AlignTop);
    lblScore->setFont(scoreFont());
    setTextColor(lblScore, QPalette::WindowText, kScoreGreen);
}

const ResultsHost& frmMain::resultsHost() const
{
    return m_session.resultsHost();
}

QString frmMain::programPath(const QString& folder)
{
    QString path = QDir::toNativeSeparators(folder);
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path;
}

void frmMain::setEndProgram(std::function<void()> end)
{
    m_endProgram = std::move(end);
}

void frmMain::setRunBenchmark(RunFunction run)
{
    m_run = std::move(run);
}

bool frmMain::saveScoreFile() const
{
    return SaveScore(QFile::encodeName(MyPath + QLatin1String(kScoreFileName)).toStdString(), Score);
}

void frmMain::endFromOutside()
{
    saveScoreFile();
    m_endProgram();
}

void frmMain::Form_Load()
{
    for (int i = 0; i < kTickerLineCount; ++i)
        TickerLines[i] = QString::fromLatin1(kTickerScript[i].data(), qsizetype(kTickerScript[i].size()));

    // A folder the caller names (tests, benchmarks) is taken as it is.
    QString folder = m_session.programFolder;
    if (folder.isEmpty())
        folder = QFile::decodeName(
            chooseDataFolder(QFile::encodeName(QCoreApplication::applicationDirPath()).constData()).c_str());
    MyPath = programPath(folder);
    ColorStatusLabels();
    QCoreApplication::processEvents();

    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    ResetButtons();

    Score = LoadScore(QFile::encodeName(MyPath + QLatin1String(kScoreFileName)).toStdString());
    lblScore->setText(QString::fromStdString(LoadedScoreCaption(Score)));
}

void frmMain::opnButton_Click(int Index)
{
    switch (Index) {
    case 0: {
        Timer1->stop();
        lblScore->setText(QStringLiteral("Benchmarking..."));
        const BenchmarkResult result = m_run(*this);
        Score = result.score;
        // Even a score of 0 is shown as a number here: the run did happen.
        lblScore->setText(QString::fromStdString(ScoreCaption(Score)));
        noteDisturbance(result);
        // Kept at once, so that a crash or a kill later on does not lose it. A folder that
        // can't be written is reported once, at exit.
        saveScoreFile();
        return;
    }
    case 1:
        if (Score == 0) {
            showMessage(
                this, QStringLiteral("You must run the benchmark to submit."), QStringLiteral("Error"));
        } else {
            frmSubmit dlg(m_session, this);
            dlg.exec();
        }
        break;
    case 2:
        if (Score == 0) {
            showMessage(
                this, QStringLiteral("You must run the benchmark to compare."), QStringLiteral("Error"));
        } else {
            frmCompare dlg(m_session, this);
            dlg.exec();
        }
        break;
    case 3: {
        frmAbout dlg(this);
        dlg.exec();
        break;
    }
    default:
        return;
    }
    ResetButtons();
}

void frmMain::noteDisturbance(const BenchmarkResult& result)
{
    // The test that lost most says enough; the console lists them all.
    int worst = 0;
    for (int test = 1; test <= kTestCount; ++test) {
        const TestDisturbance& figures = result.disturbance[static_cast<std::size_t>(test - 1)];
        if (figures.disturbed()
            && (worst == 0
                || figures.processorShare()
                    < result.disturbance[static_cast<std::size_t>(worst - 1)].processorShare()))
            worst = test;
    }
    QString note;
    m_session.disturbance.clear();
    if (worst != 0) {
        note = QString::fromStdString(
            disturbanceLine(worst, result.disturbance[static_cast<std::size_t>(worst - 1)]));
        m_session.disturbance = note.left(note.indexOf(QLatin1Char(':')));
        note[0] = note[0].toUpper();
        note += QStringLiteral(".\nRun the benchmark again for a fair score.");
    }
    lblScore->setToolTip(note);
    // Shown once without waiting for the mouse; it goes by itself, and stays on the label.
    if (!note.isEmpty() && lblScore->isVisible())
        QToolTip::showText(lblScore->mapToGlobal(lblScore->rect().center()), note, lblScore);
}

void frmMain::Timer1_Timer()
{
    QFont font = lblScore->font();
    font.setPointSize(TickerPos == kTickerSmallLine ? 12 : 16);
    lblScore->setFont(font);
    lblScore->setText(TickerLines[TickerPos]);
    ++TickerPos;
    if (TickerPos > kTickerLineCount - 1)
        TickerPos = 0;
}

void frmMain::ColorStatusLabels()
{
    for (int i = 0; i < kStatusCount; ++i)
        setTextColor(
            lblStatus[i], QPalette::WindowText, QColor(std::min(200 + 40 * i, 255), 255 - 40 * i, 0));
}

void frmMain::ResetButtons()
{
    for (int i = 0; i < kButtonCount; ++i) {
        opnButton[i]->setChecked(false);
        setCaptionColor(i, Qt::black);
    }
}

void frmMain::ClearStatus()
{
    for (int i = 1; i < kStatusCount; ++i)
        setStatusBold(i, false);
    QCoreApplication::processEvents();
}

void frmMain::markCurrent(int test)
{
    if (test >= 1 && test < kStatusCount)
        setStatusBold(test, true);
}

void frmMain::yield()
{
    QCoreApplication::processEvents();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // A folder that can't be written loses the score, but must not keep the program open:
    // say so once, then end all the same.
    if (!saveScoreFile()) {
        const QString path = MyPath + QLatin1String(kScoreFileName);
        showMessage(
            this, QStringLiteral("The score could not be saved in %1.").arg(path), QStringLiteral("Error"));
    }
    event->accept();
    m_endProgram();
}

void frmMain::mouseMoveEvent(QMouseEvent* event)
{
    // Only moves over the bare surface arrive here: the panel and the labels keep theirs.
    ResetButtons();
    QWidget::mouseMoveEvent(event);
}

void frmMain::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // An etched rule above the score: the 2-pixel white line lies under the grey one,
    // so grey shows on top and white just below it.
    QPainter p(this);
    const int y = px(2640);
    const int left = px(360);
    const int width = px(5160) - left + 1;
    p.fillRect(left, y, width, 2, Qt::white);
    p.fillRect(left, y, width, 1, QColor(128, 128, 128));
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        const int hovered = buttonIndex(watched);
        if (hovered >= 0) {
            for (int i = 0; i < kButtonCount; ++i)
                setCaptionColor(i, i == hovered ? kHoverBlue : QColor(Qt::black));
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::setStatusBold(int index, bool bold)
{
    setBold(lblStatus[index], bold);
}

void frmMain::setCaptionColor(int index, const QColor& color)
{
    setTextColor(opnButton[index], QPalette::ButtonText, color);
}

int frmMain::buttonIndex(QObject* object) const
{
    const auto it = std::find(opnButton.begin(), opnButton.end(), object);
    return it == opnButton.end() ? -1 : int(it - opnButton.begin());
}

} // namespace vantrel
