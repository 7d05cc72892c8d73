#include "TempDir.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

TempDir::TempDir(const std::string& prefix) {
    std::string pattern = std::filesystem::temp_directory_path() / (prefix + "-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) return;
    std::error_code error;
    path_ = std::filesystem::canonical(pattern, error);
    if (error) path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return !out.fail();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}
