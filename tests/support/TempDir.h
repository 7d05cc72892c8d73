// A folder of its own for a test, removed with everything in it at the end, and small helpers
// for the files a test writes and reads there.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class TempDir {
public:
    // `/tmp/<prefix>-XXXXXX`, by its real path (no symbolic link in it); path() is empty if it
    // could not be made.
    explicit TempDir(const std::string& prefix = "tavro-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The whole file, empty if it cannot be read.
std::string ReadFile(const std::string& path);
// Makes or replaces the file with `text`; false if it could not be written.
bool WriteFile(const std::string& path, const std::string& text);
std::vector<std::string> SplitLines(const std::string& text);
