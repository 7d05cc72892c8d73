// Shows on vantrel's terminal the transfers through the mounts that take a while: the file,
// the bytes so far of its size, the speed and the time left. A transfer shows once it has run
// for `delay`; on a terminal one line is redrawn in place, elsewhere (a log, a pipe) plain
// lines follow every `every`. A transfer that was shown ends with a line of its own.
//
// Started/Moved/Ended may come from any thread; Tick draws, and the display's own thread calls
// it unless the caller drives it (tests).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace vantrel {

class ProgressDisplay {
public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        int fd = 1;
        bool terminal = false;
        Clock::duration delay = std::chrono::seconds(2);
        // Between plain lines; a terminal is redrawn four times a second.
        Clock::duration every = std::chrono::seconds(5);
    };

    explicit ProgressDisplay(Settings settings);
    ~ProgressDisplay();  // stops the thread, if one runs
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    // Settings for a descriptor (standard output for vantrel): in place on a terminal.
    static Settings ForDescriptor(int fd);

    // Runs Tick on a thread of the display's own until destruction.
    void StartThread();

    void Started(uint64_t id, const std::string& name, uint64_t size, bool writing,
                 Clock::time_point now = Clock::now());
    void Moved(uint64_t id, uint64_t bytes);
    void Ended(uint64_t id, Clock::time_point now = Clock::now());
    void Tick(Clock::time_point now);

    // One status line: "NAME  12,288 of 20,480 bytes  1,920 B/s  4 s left".
    static std::string Format(const std::string& name, uint64_t bytes, uint64_t size, bool writing,
                              double seconds);

private:
    struct Transfer {
        std::string name;
        uint64_t size = 0;
        uint64_t bytes = 0;
        bool writing = false;
        Clock::time_point started;
        Clock::time_point lastLine;
        bool shown = false;
    };

    void Write(const std::string& text);
    std::string LineOf(const Transfer& transfer, Clock::time_point now) const;

    const Settings fSettings;
    std::mutex fLock;  // guards everything below
    std::condition_variable fWake;
    std::map<uint64_t, Transfer> fTransfers;
    bool fStopping = false;
    std::thread fThread;
};

}  // namespace vantrel
