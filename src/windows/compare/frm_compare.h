#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;
class QTableView;

namespace vantrel {

class Session;
class CurlInet;
class ResultsListModel;
class TwipShape;
class ResultsView;

// "Online Compare": downloads the shared results file, lists every result and
// draws the own score against a clicked row's score as two bars.
class frmCompare : public QDialog {
    Q_OBJECT
public:
    explicit frmCompare(Session& session, QWidget* parent = nullptr);
    ~frmCompare() override;

    void Form_Load();
    // Brings the local copy up to date with the shared file and lists its records: a
    // refresh adds the rows of new records after the others. Never shows a message: any
    // failure ends with an empty list that says why.
    void cmdDownload_Click();
    // Opens the submission window modally, then downloads the list again.
    void cmdSubmit_Click();
    // Draws the graph for the first selected row; does nothing without one.
    void lstCompare_Click();

    // Length of a full bar in twips.
    std::int32_t fullWidth() const { return FullWidth; }
    ResultsListModel* listModel() const { return m_model; }
    // Why the last download listed nothing, shown in the empty list; empty while rows show.
    QString emptyListText() const;

    QLabel* Label4 = nullptr;
    QTableView* lstCompare = nullptr;
    QPushButton* cmdDownload = nullptr;
    QPushButton* cmdSubmit = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lblYourSystem = nullptr;
    QLabel* Label1 = nullptr;
    TwipShape* Shape1 = nullptr;
    QLabel* lblCompare = nullptr;
    QLabel* Label2 = nullptr;
    TwipShape* Shape2 = nullptr;
    TwipShape* Line1 = nullptr;

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void buildList();
    void buildGraph();
    QString localCopyPath() const;
    // Puts two thirds of a (self-sized) value label left of its bar's right end.
    void placeValueLabel(QLabel* label, const TwipShape* bar);
    // Lists the records of the local copy open as fd; only those after the listed ones when
    // mayAppend and the copy continues what was listed. Returns why it could not be read, else empty.
    QString listLocalCopy(int fd, bool mayAppend);
    void finishDownload(const QString& whyEmpty);

    Session& m_session;
    std::shared_ptr<CurlInet> Inet1;
    ResultsListModel* m_model = nullptr;
    ResultsView* m_view = nullptr;
    std::int32_t FullWidth = 0;
    bool m_downloading = false;
    // Set when the window closes during a download, which then ends at its next turn.
    bool m_stopDownload = false;
    bool m_centred = false;
};

} // namespace vantrel
