#include "TraceCapture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

TraceCapture::TraceCapture() {
    fflush(stdout);
    fSaved = dup(STDOUT_FILENO);
    char path[] = "/tmp/linkgate-traceXXXXXX";
    fFile = mkstemp(path);
    unlink(path);
    dup2(fFile, STDOUT_FILENO);
}

TraceCapture::~TraceCapture() {
    fflush(stdout);
    dup2(fSaved, STDOUT_FILENO);
    close(fSaved);
    // The test framework reports failures on standard output too: hand them back.
    if (::testing::Test::HasFailure()) {
        fStart = 0;
        for (const std::string& line : Lines()) fprintf(stderr, "%s\n", line.c_str());
    }
    close(fFile);
}

std::vector<std::string> TraceCapture::Lines() {
    fflush(stdout);
    std::string text;
    char buffer[4096];
    off_t offset = fStart;
    for (;;) {
        ssize_t got = pread(fFile, buffer, sizeof(buffer), offset);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    return lines;
}

void TraceCapture::Clear() {
    fflush(stdout);
    fStart = lseek(fFile, 0, SEEK_END);
}
