#include "host/ProgressDisplay.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vantrel {

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(250);

std::string Grouped(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    for (size_t i = 0; i < digits.size(); i++) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string Duration(double seconds) {
    auto whole = static_cast<uint64_t>(seconds + 0.5);
    if (whole < 60) return std::to_string(whole) + " s";
    return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
}

}  // namespace

ProgressDisplay::ProgressDisplay(Settings settings) : fSettings(settings) {}

ProgressDisplay::~ProgressDisplay() {
    {
        std::lock_guard<std::mutex> guard(fLock);
        fStopping = true;
    }
    fWake.notify_all();
    if (fThread.joinable()) fThread.join();
}

ProgressDisplay::Settings ProgressDisplay::ForDescriptor(int fd) {
    Settings settings;
    settings.fd = fd;
    settings.terminal = isatty(fd) == 1;
    return settings;
}

void ProgressDisplay::StartThread() {
    fThread = std::thread([this] {
        std::unique_lock<std::mutex> guard(fLock);
        while (!fStopping) {
            fWake.wait_for(guard, fSettings.terminal ? kRedraw : std::chrono::milliseconds(500));
            if (fStopping) break;
            guard.unlock();
            Tick(Clock::now());
            guard.lock();
        }
    });
}

std::string ProgressDisplay::Format(const std::string& name, uint64_t bytes, uint64_t size,
                                    bool writing, double seconds) {
    std::string line = name + "  " + Grouped(bytes);
    // A file being written has no final size yet; one read may outgrow its size at open.
    bool sized = !writing && size >= bytes && size > 0;
    line += sized ? " of " + Grouped(size) + " bytes" : " bytes";
    line += writing ? " written" : " read";
    double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
    line += "  " + Grouped(static_cast<uint64_t>(rate)) + " B/s";
    if (sized && rate > 0)
        line += "  " + Duration(static_cast<double>(size - bytes) / rate) + " left";
    return line;
}

std::string ProgressDisplay::LineOf(const Transfer& transfer, Clock::time_point now) const {
    double seconds = std::chrono::duration<double>(now - transfer.started).count();
    return Format(transfer.name, transfer.bytes, transfer.size, transfer.writing, seconds);
}

void ProgressDisplay::Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fSettings.fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void ProgressDisplay::Started(uint64_t id, const std::string& name, uint64_t size, bool writing,
                              Clock::time_point now) {
    std::lock_guard<std::mutex> guard(fLock);
    Transfer& transfer = fTransfers[id];
    transfer = Transfer{};
    transfer.name = name;
    transfer.size = size;
    transfer.writing = writing;
    transfer.started = now;
}

void ProgressDisplay::Moved(uint64_t id, uint64_t bytes) {
    std::lock_guard<std::mutex> guard(fLock);
    auto found = fTransfers.find(id);
    if (found != fTransfers.end()) found->second.bytes = bytes;
}

void ProgressDisplay::Ended(uint64_t id, Clock::time_point now) {
    std::string text;
    {
        std::lock_guard<std::mutex> guard(fLock);
        auto found = fTransfers.find(id);
        if (found == fTransfers.end()) return;
        if (found->second.shown) {
            if (fSettings.terminal) text = "\r";
            text += LineOf(found->second, now) + "  done";
            text += fSettings.terminal ? "\033[K\n" : "\n";
        }
        fTransfers.erase(found);
        if (!text.empty()) Write(text);
    }
}

void ProgressDisplay::Tick(Clock::time_point now) {
    std::lock_guard<std::mutex> guard(fLock);
    std::string text;
    if (fSettings.terminal) {
        // The oldest long transfer has the line; the others are counted.
        const Transfer* first = nullptr;
        size_t others = 0;
        for (auto& [id, transfer] : fTransfers) {
            if (now - transfer.started < fSettings.delay) continue;
            transfer.shown = true;
            if (first == nullptr || transfer.started < first->started) {
                if (first != nullptr) others++;
                first = &transfer;
            } else {
                others++;
            }
        }
        if (first == nullptr) return;
        text = "\r" + LineOf(*first, now);
        if (others > 0) text += "  (+" + std::to_string(others) + " more)";
        text += "\033[K";
    } else {
        for (auto& [id, transfer] : fTransfers) {
            if (now - transfer.started < fSettings.delay) continue;
            if (transfer.shown && now - transfer.lastLine < fSettings.every) continue;
            transfer.shown = true;
            transfer.lastLine = now;
            text += LineOf(transfer, now) + "\n";
        }
    }
    if (!text.empty()) Write(text);
}

}  // namespace vantrel
