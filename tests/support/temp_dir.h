#pragma once

#include <string>
#include <vector>

namespace vantrel::test {

// A fresh private folder, removed with everything in it when this goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Ends in the native separator, like the program folder.
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// The names in a folder, sorted.
std::vector<std::string> filesIn(const std::string& folder);

} // namespace vantrel::test
