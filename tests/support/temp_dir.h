#pragma once
// A fresh folder for one test under $SONTEVA_TEST_TMP (else $TMPDIR, else /tmp),
// removed with its contents on destruction.
#include <string>
#include <vector>

namespace sonteva::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names in the folder, hidden ones included.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

} // namespace sonteva::test
