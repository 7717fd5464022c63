#include "windows/compare/results_list_model.h"

#include "core/benchmark/score_file.h"

#include <array>
#include <cerrno>

namespace vantrel {

namespace {

struct ColumnDesign {
    const char* title;
    int widthTwips;
};

constexpr std::array<ColumnDesign, ResultsListModel::ColumnCount> kColumns { {
    { "System", 2940 },
    { "Score", 1440 },
    { "OS", 1200 },
    { "Submitted By", 1500 },
    { "Email", 1800 },
} };

} // namespace

ResultsListModel::ResultsListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int ResultsListModel::readFile(int fd, bool mayAppend)
{
    if (mayAppend && m_table.continuedBy(fd)) {
        if (!m_table.readMore(fd)) {
            const int error = errno;
            clear();
            return error;
        }
        const int rows = static_cast<int>(m_table.size());
        if (rows > m_rows) {
            beginInsertRows({}, m_rows, rows - 1);
            m_rows = rows;
            endInsertRows();
        }
        return 0;
    }
    beginResetModel();
    m_table.clear();
    m_cachedRow = -1;
    m_cached = {};
    const int error = m_table.readMore(fd) ? 0 : errno;
    if (error != 0)
        m_table.release();
    m_rows = static_cast<int>(m_table.size());
    endResetModel();
    return error;
}

void ResultsListModel::clear()
{
    beginResetModel();
    m_table.release();
    m_rows = 0;
    m_cachedRow = -1;
    m_cached = {};
    endResetModel();
}

int ResultsListModel::columnWidthTwips(int column)
{
    return column >= 0 && column < ColumnCount ? kColumns[column].widthTwips : 0;
}

int ResultsListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ResultsListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const ResultRecord& ResultsListModel::recordAt(int row) const
{
    if (row != m_cachedRow) {
        m_cached = m_table.record(static_cast<std::size_t>(row));
        m_cachedRow = row;
    }
    return m_cached;
}

QVariant ResultsListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    const ResultRecord& record = recordAt(index.row());
    switch (index.column()) {
    case SystemColumn:
        return QString::fromStdString(record.processor);
    case ScoreColumn:
        return QString::fromStdString(FormatGeneralNumber(record.score));
    case OSColumn:
        return QString::fromStdString(record.os);
    case SubmittedByColumn:
        return QString::fromStdString(record.name);
    case EmailColumn:
        return QString::fromStdString(record.email);
    default:
        return {};
    }
}

QVariant ResultsListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kColumns[section].title);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags ResultsListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

} // namespace vantrel
