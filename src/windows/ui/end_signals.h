#pragma once

#include <QObject>
#include <initializer_list>
#include <vector>

class QSocketNotifier;

namespace vantrel {

// Turns signals that ask the program to end (SIGTERM, SIGHUP) into a Qt signal on the
// event loop, where saving a file is safe. The handler only writes the signal's number
// to one end of a socket pair; a notifier on the other end reads it. One instance per
// process.
class EndSignals : public QObject {
    Q_OBJECT

public:
    explicit EndSignals(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~EndSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPending();

    QSocketNotifier* m_notifier = nullptr;
    std::vector<int> m_signals;
};

} // namespace vantrel
