#include "windows/compare/frm_compare.h"

#include "core/benchmark/score_file.h"
#include "core/compare/comparison_graph.h"
#include "core/compare/results_table.h"
#include "core/remote/curl_inet.h"
#include "core/remote/transfer_cause.h"
#include "core/results/local_copy.h"
#include "core/results/results_file.h"
#include "core/submit/ftp_account.h"
#include "windows/compare/results_list_model.h"
#include "windows/compare/twip_shape.h"
#include "windows/submit/frm_submit.h"
#include "windows/ui/form_layout.h"
#include "windows/ui/session.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr int kClientWidth = 7410;
constexpr int kClientHeight = 6225;
constexpr float kBarLeft = 1440;
constexpr float kBarHeight = 255;
constexpr float kShape1Top = 5040;
constexpr float kShape2Top = 5640;
constexpr float kShape1DesignWidth = 5655;
constexpr float kShape2DesignWidth = 15;
constexpr int kYourSystemTop = 4800;
constexpr int kCompareTop = 5400;
constexpr int kValueLabelLeft = 6960;
// The labels here read from their top edge, not centred in their height.
constexpr Qt::Alignment kTopLeft = Qt::AlignLeft | Qt::AlignTop;

QString lowerFirst(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

// Why an update of the local copy failed, in the list's words: the host's part, or ours.
QString updateFailure(const LocalCopyUpdate& update, const TransferOutcome& outcome)
{
    if (!update.localError.empty())
        return QStringLiteral("The local copy could not be written: %1.")
            .arg(lowerFirst(QString::fromStdString(update.localError)));
    const std::string& cause = update.cause;
    return QStringLiteral("The results could not be downloaded: %1.")
        .arg(QString::fromStdString(outcome.ok() ? cause : describeTransferFailure(outcome)));
}

} // namespace

// The results list; while it has no rows it says why in grey across its middle.
class ResultsView : public QTableView {
public:
    using QTableView::QTableView;

    const QString& emptyText() const { return m_emptyText; }
    void setEmptyText(const QString& text)
    {
        m_emptyText = text;
        viewport()->update();
    }

protected:
    // Home and End go to the first and last row, as in a list, not to the row's ends.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        if (action == MoveHome || action == MoveEnd)
            modifiers |= Qt::ControlModifier;
        return QTableView::moveCursor(action, modifiers);
    }

    // Scrolling moves pixels: the dotted edge is drawn anew instead of moving with them.
    void scrollContentsBy(int dx, int dy) override
    {
        QTableView::scrollContentsBy(dx, dy);
        if (hasFocus())
            viewport()->update();
    }
    void focusInEvent(QFocusEvent* event) override
    {
        QTableView::focusInEvent(event);
        viewport()->update();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QTableView::focusOutEvent(event);
        viewport()->update();
    }

    void paintEvent(QPaintEvent* event) override
    {
        QTableView::paintEvent(event);
        QPainter painter(viewport());
        // The frame's own focus colour is one thin line: a dotted edge makes the focus plain.
        if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
            painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
        }
        if (m_emptyText.isEmpty() || (model() && model()->rowCount() > 0))
            return;
        painter.setPen(QColor(128, 128, 128));
        const QRect area = viewport()->rect().adjusted(4, 0, -4, 0);
        painter.drawText(
            area, Qt::AlignCenter, fontMetrics().elidedText(m_emptyText, Qt::ElideRight, area.width()));
    }

private:
    QString m_emptyText;
};

frmCompare::frmCompare(Session& session, QWidget* parent)
    : QDialog(parent)
    , m_session(session)
    , Inet1(std::make_shared<CurlInet>(yieldOnce))
{
    setObjectName(QStringLiteral("frmCompare"));
    setWindowTitle(QStringLiteral("Online Compare"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
        | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(px(kClientWidth), px(kClientHeight));

    setFormBackground(this);

    setFont(formFont());

    buildControls();
    Form_Load();
}

// A download still waiting when the window goes ends at its next turn: it asks whether
// the window is still there.
frmCompare::~frmCompare() = default;

void frmCompare::buildControls()
{
    Label4 = makeLabel(this, QStringLiteral("Label4"),
        QStringLiteral("Select an item to compare  (Note:  Due to the more efficient use of CPU power, "
                       "Win NT/2K scores will be much higher than Win 9x scores):"),
        twipRect(120, 120, 6975, 495), kTopLeft);
    Label4->setWordWrap(true);

    // Created in tab order: the list, then the two buttons.
    buildList();

    cmdDownload = makeButton(this, QStringLiteral("cmdDownload"), QStringLiteral("> Download Data <"),
        twipRect(720, 3840, 2775, 375));
    setBold(cmdDownload);
    connect(cmdDownload, &QPushButton::clicked, this, [this] { cmdDownload_Click(); });

    cmdSubmit = makeButton(this, QStringLiteral("cmdSubmit"), QStringLiteral("Submit your results..."),
        twipRect(3720, 3840, 2775, 375));
    connect(cmdSubmit, &QPushButton::clicked, this, [this] { cmdSubmit_Click(); });

    setTabOrder(lstCompare, cmdDownload);
    setTabOrder(cmdDownload, cmdSubmit);

    buildGraph();
}

// A report-style list: whole rows, no grid, no row numbers, never sorted.
void frmCompare::buildList()
{
    m_view = new ResultsView(this);
    lstCompare = m_view;
    lstCompare->setObjectName(QStringLiteral("lstCompare"));
    lstCompare->setGeometry(twipRect(120, 600, 7215, 3135));
    m_model = new ResultsListModel(lstCompare);
    lstCompare->setModel(m_model);
    lstCompare->setShowGrid(false);
    lstCompare->setWordWrap(false);
    lstCompare->setSortingEnabled(false);
    lstCompare->setCornerButtonEnabled(false);
    lstCompare->setSelectionMode(QAbstractItemView::SingleSelection);
    lstCompare->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstCompare->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the list for the buttons, as it does a list; arrows move within it.
    lstCompare->setTabKeyNavigation(false);
    lstCompare->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    lstCompare->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Fixed, equal row heights: 100,000 rows are laid out without measuring any of them.
    QHeaderView* rows = lstCompare->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(lstCompare->fontMetrics().height() + 2);
    QHeaderView* header = lstCompare->horizontalHeader();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < ResultsListModel::ColumnCount; ++column) {
        header->setSectionResizeMode(column, QHeaderView::Interactive);
        lstCompare->setColumnWidth(column, px(ResultsListModel::columnWidthTwips(column)));
    }
    connect(lstCompare, &QAbstractItemView::clicked, this, [this] { lstCompare_Click(); });
    // The graph follows the selection however it moves: arrows, Page Up/Down, Home/End.
    connect(lstCompare->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        [this] { lstCompare_Click(); });
}

// The comparison graph: two bars on a common scale with their values, and the line at full length.
void frmCompare::buildGraph()
{
    Label3 = makeLabel(this, QStringLiteral("Label3"), QStringLiteral("Comparison Graph:"),
        twipRect(1800, 4440, 3975, 255), Qt::AlignHCenter | Qt::AlignTop);
    setBold(Label3);

    lblYourSystem = makeLabel(this, QStringLiteral("lblYourSystem"), QStringLiteral("0"),
        twipRect(kValueLabelLeft, kYourSystemTop, 90, 195), kTopLeft);
    lblYourSystem->adjustSize();
    Label1 = makeLabel(this, QStringLiteral("Label1"), QStringLiteral("Your system:"),
        twipRect(120, 5040, 1095, 255), kTopLeft);
    Shape1
        = new TwipShape(kBarLeft, kShape1Top, kShape1DesignWidth, kBarHeight, QColor(0, 0, 255), true, this);
    Shape1->setObjectName(QStringLiteral("Shape1"));

    lblCompare = makeLabel(this, QStringLiteral("lblCompare"), QStringLiteral("0"),
        twipRect(kValueLabelLeft, kCompareTop, 90, 195), kTopLeft);
    lblCompare->adjustSize();
    Label2 = makeLabel(this, QStringLiteral("Label2"), QStringLiteral("Selected System:"),
        twipRect(120, 5640, 1575, 255), kTopLeft);
    Shape2
        = new TwipShape(kBarLeft, kShape2Top, kShape2DesignWidth, kBarHeight, QColor(0, 128, 0), true, this);
    Shape2->setObjectName(QStringLiteral("Shape2"));

    // The line from (7080, 5040) to (7080, 5880), one pixel wide.
    Line1 = new TwipShape(
        7080, 5040, static_cast<float>(kTwipsPerPixel), 840, QColor(255, 0, 255), false, this);
    Line1->setObjectName(QStringLiteral("Line1"));

    // Texts stay readable where a bar reaches under them.
    for (QLabel* label : { Label1, Label2, lblYourSystem, lblCompare })
        label->raise();
}

void frmCompare::Form_Load()
{
    FullWidth = FullBarWidth(Shape1->twipWidth());
}

void frmCompare::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmCompare::done(int result)
{
    // Closing while the download waits ends the transfer; the download then
    // finishes at once with an empty list.
    if (m_downloading)
        m_stopDownload = true;
    QDialog::done(result);
}

QString frmCompare::localCopyPath() const
{
    return m_session.localCopyPath();
}

void frmCompare::cmdDownload_Click()
{
    if (m_downloading)
        return;
    m_downloading = true;
    m_stopDownload = false;
    cmdDownload->setText(QStringLiteral("Downloading..."));
    cmdDownload->setEnabled(false);
    // A submission would update the same local copy meanwhile.
    cmdSubmit->setEnabled(false);

    // The copy keeps the control alive should the window go while it waits.
    std::shared_ptr<CurlInet> inet = Inet1;
    QPointer<frmCompare> self(this);
    // The copy is shared with submissions, in this process and others: updateLocalCopy
    // alone writes it, and only ever adds whole records at its end or puts a whole new file
    // in its place.
    const LocalCopyUpdate update = updateLocalCopy(*inet, m_session.resultsHost().web,
        QFile::encodeName(localCopyPath()).toStdString(), yieldOnce,
        [self] { return !self || self->m_stopDownload; });
    if (!self)
        return;

    QString whyEmpty = QStringLiteral("No results have been submitted yet.");
    if (!update.ok) {
        m_model->clear();
        whyEmpty = updateFailure(update, inet->outcome());
    } else if (update.missing) {
        m_model->clear();
    } else if (const QString unread = listLocalCopy(update.copy.get(), !update.replaced); !unread.isEmpty()) {
        whyEmpty = unread;
    }
    finishDownload(whyEmpty);
}

QString frmCompare::emptyListText() const
{
    return m_model->rowCount() > 0 ? QString() : m_view->emptyText();
}

QString frmCompare::listLocalCopy(int fd, bool mayAppend)
{
    // The update's own view of the copy: another program may swap a new one in meanwhile.
    const int error = m_model->readFile(fd, mayAppend);
    if (error == 0)
        return {};
    return QStringLiteral("The local copy could not be read: %1.")
        .arg(lowerFirst(QString::fromLocal8Bit(std::strerror(error))));
}

void frmCompare::finishDownload(const QString& whyEmpty)
{
    m_view->setEmptyText(m_model->rowCount() > 0 ? QString() : whyEmpty);
    m_downloading = false;
    cmdDownload->setEnabled(true);
    cmdDownload->setText(QStringLiteral("Refresh list"));
    cmdSubmit->setEnabled(true);
}

void frmCompare::cmdSubmit_Click()
{
    if (m_downloading)
        return;
    {
        frmSubmit submit(m_session, this);
        submit.exec();
    }
    QPointer<frmCompare> self(this);
    yieldOnce();
    if (self)
        cmdDownload_Click();
}

void frmCompare::lstCompare_Click()
{
    const QModelIndexList selected
        = lstCompare->selectionModel()->selectedRows(ResultsListModel::ScoreColumn);
    if (selected.isEmpty())
        return;
    QModelIndex first = selected.front();
    for (const QModelIndex& index : selected) {
        if (index.row() < first.row())
            first = index;
    }

    const double selectedScore = LeadingNumber(m_model->data(first).toString().toStdString());
    const BarWidths widths = ComparisonBarWidths(
        m_session.Score, selectedScore, FullWidth, { Shape1->twipWidth(), Shape2->twipWidth() });
    Shape1->setTwipWidth(widths.yours);
    Shape2->setTwipWidth(widths.selected);

    lblYourSystem->setText(QString::fromStdString(FormatGeneralNumber(m_session.Score)));
    lblYourSystem->adjustSize();
    lblCompare->setText(QString::fromStdString(FormatGeneralNumber(selectedScore)));
    lblCompare->adjustSize();
    placeValueLabel(lblYourSystem, Shape1);
    placeValueLabel(lblCompare, Shape2);
}

void frmCompare::placeValueLabel(QLabel* label, const TwipShape* bar)
{
    const auto labelWidth = static_cast<float>(label->width() * kTwipsPerPixel);
    const float left = ValueLabelLeft(bar->twipLeft(), bar->twipWidth(), labelWidth);
    label->move(px(left), label->y());
}

} // namespace vantrel
