#pragma once

#include "core/compare/results_table.h"

#include <QAbstractTableModel>
#include <cstddef>
#include <string>

namespace vantrel {

// The comparison list's rows: one per record, in file order, never sorted.
// Columns "System", "Score", "OS", "Submitted By", "Email".
class ResultsListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { SystemColumn, ScoreColumn, OSColumn, SubmittedByColumn, EmailColumn, ColumnCount };

    explicit ResultsListModel(QObject* parent = nullptr);

    // Replaces every row by the records of table.
    void setTable(ResultsTable table);
    void clear();
    // Removes every row and hands back the byte buffer the rows were read from.
    std::string takeBuffer();
    const ResultsTable& table() const { return m_table; }

    // Design width of a column in twips.
    static int columnWidthTwips(int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const ResultRecord& recordAt(int row) const;

    ResultsTable m_table;
    // A painted row asks for its five cells in turn: decode it once.
    mutable int m_cachedRow = -1;
    mutable ResultRecord m_cached;
};

} // namespace vantrel
