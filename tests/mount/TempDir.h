// A folder of its own for each test, removed with everything in it at the end.
#pragma once

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavro-mount-XXXXXX");
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) {
            path_ = buffer.data();
        }
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// `line` is `lead` followed by a ctime text such as "Tue Dec  8 14:04:16 2026".
inline bool IsStamp(const std::string& line, const std::string& lead) {
    if (line.rfind(lead, 0) != 0 || line.size() != lead.size() + 24) {
        return false;
    }
    std::string stamp = line.substr(lead.size());
    return stamp[3] == ' ' && stamp[7] == ' ' && stamp[13] == ':' && stamp[16] == ':' &&
           stamp[19] == ' ' && isdigit(static_cast<unsigned char>(stamp[23]));
}
