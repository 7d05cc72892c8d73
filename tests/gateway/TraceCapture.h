// Captures what the process writes to standard output, where the gateway traces, so that
// tests can compare the trace lines exactly.
#pragma once

#include <string>
#include <vector>

class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();  // restores standard output
    // Every complete line written since the capture began (or since the last Clear).
    std::vector<std::string> Lines();
    void Clear();

private:
    int fSaved;
    int fFile;
    long fStart = 0;
};
