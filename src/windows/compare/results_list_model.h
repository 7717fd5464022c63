#pragma once

#include "core/compare/results_table.h"

#include <QAbstractTableModel>

namespace vantrel {

// The comparison list's rows: one per record, in file order, never sorted.
// Columns "System", "Score", "OS", "Submitted By", "Email".
class ResultsListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { SystemColumn, ScoreColumn, OSColumn, SubmittedByColumn, EmailColumn, ColumnCount };

    explicit ResultsListModel(QObject* parent = nullptr);

    // Brings the rows up to the results file open at fd. When mayAppend and the file
    // continues what the rows were read from, only what was appended is read, and the
    // records it completes become rows after the others, so the selection and the scroll
    // position stay; otherwise every row is read anew, into the memory the last list used.
    // Returns 0, or the errno value of a failed read, which leaves the list empty.
    int readFile(int fd, bool mayAppend);
    // Removes every row and hands the memory back.
    void clear();
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
    // Rows the views were told of: the table holds more while a read is under way.
    int m_rows = 0;
    // A painted row asks for its five cells in turn: decode it once.
    mutable int m_cachedRow = -1;
    mutable ResultRecord m_cached;
};

} // namespace vantrel
