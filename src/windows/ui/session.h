#pragma once

#include "core/remote/host_choice.h"

#include <QObject>
#include <QString>

namespace vantrel {

// What the windows share, made once in main.cpp and handed to each: the score, the folder
// that keeps the score file and the local copy, the results host, and the caption ticker's
// switch. No window reaches into another for any of these.
class Session : public QObject {
    Q_OBJECT

public:
    explicit Session(ChosenHost host = {}, QString programFolder = {}, QObject* parent = nullptr)
        : QObject(parent)
        , host(std::move(host))
        , programFolder(std::move(programFolder))
    {
    }

    // Last score; 0 means no benchmark has been run.
    double Score = 0;
    // How other programs cut into the run that made Score ("test 3 got 45 % of the processor");
    // empty when nothing did, or when the score comes from the score file.
    QString disturbance;
    // Folder of the score file and the local copy, ending in the native separator; the main
    // window forms it when it loads.
    QString MyPath;
    // Where the results host is, and where each address came from.
    ChosenHost host;
    // The program's folder as the main window should take it; empty: the executable's.
    QString programFolder;

    const ResultsHost& resultsHost() const { return host.host; }
    QString localCopyPath() const;

signals:
    // The easter egg was found: the main window starts its caption ticker.
    void tickerRequested();
};

} // namespace vantrel
