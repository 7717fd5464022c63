#pragma once

#include "temp_dir.h"
#include "windows/ui/frm_main.h"
#include "windows/ui/message_box.h"

#include <QString>
#include <cstring>
#include <string>
#include <vector>

namespace vantrel::test {

inline std::string doubleBytes(double value)
{
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value); // the test hosts are little-endian
    return bytes;
}

struct ShownMessage {
    QString text;
    QString title;
};

// A main window in its own program folder, whose "end the program" only counts, and whose
// message boxes are recorded instead of shown.
class MainWindowFixture {
public:
    explicit MainWindowFixture(const std::string& storedScoreFile = {}, bool writeScoreFile = false)
    {
        if (writeScoreFile)
            writeFile(scoreFile(), storedScoreFile);
        setMessageHandler([this](const QString& text, const QString& title) {
            messages.push_back({ text, title });
        });
        window.setEndProgram([this] {
            ++endCount;
            scoreFileAtEnd = readFile(scoreFile());
        });
    }
    ~MainWindowFixture() { setMessageHandler({}); }

    std::string scoreFile() const { return dir.file("Vantrel3.ini"); }

    TempDir dir;
    Session session { ChosenHost {}, QString::fromStdString(dir.path()) };
    frmMain window { session };
    std::vector<ShownMessage> messages;
    int endCount = 0;
    std::string scoreFileAtEnd;
};

} // namespace vantrel::test
