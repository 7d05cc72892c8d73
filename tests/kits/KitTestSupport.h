// Handlers for kit tests that record what reaches them, for a test thread to wait on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "kits/Handler.h"
#include "kits/Looper.h"
#include "kits/Message.h"

// Records every message it receives (a copy), then does what its policy says.
class RecordingHandler : public BHandler {
public:
    enum Policy { kKeep, kPassOn, kReply };

    explicit RecordingHandler(const char* name, Policy policy = kKeep)
        : BHandler(name), fPolicy(policy) {}

    void MessageReceived(BMessage* message) override {
        BMessage copy(*message);
        wasReply = message->IsReply();
        if (fPolicy == kReply) {
            BMessage reply('repl');
            reply.AddString("from", Name());
            replyStatus = message->SendReply(&reply);
        }
        {
            std::lock_guard guard(fLock);
            fReceived.push_back(copy);
        }
        fChanged.notify_all();
        if (fPolicy == kPassOn) BHandler::MessageReceived(message);
    }

    // Waits up to 5 s for at least count messages; returns how many there are.
    size_t WaitFor(size_t count) {
        std::unique_lock held(fLock);
        fChanged.wait_for(held, std::chrono::seconds(5), [&] { return fReceived.size() >= count; });
        return fReceived.size();
    }

    std::vector<uint32> Whats() {
        std::lock_guard guard(fLock);
        std::vector<uint32> whats;
        for (const BMessage& message : fReceived) whats.push_back(message.what);
        return whats;
    }

    BMessage At(size_t index) {
        std::lock_guard guard(fLock);
        return fReceived.at(index);
    }

    std::atomic<status_t> replyStatus{B_ERROR};
    std::atomic<bool> wasReply{false};

private:
    Policy fPolicy;
    std::mutex fLock;
    std::condition_variable fChanged;
    std::vector<BMessage> fReceived;
};

// A looper with one recording handler of the given policy, running; quits on destruction.
struct RunningLooper {
    explicit RunningLooper(RecordingHandler::Policy policy = RecordingHandler::kKeep,
                           const char* name = "target")
        : looper(new BLooper(name)), handler(new RecordingHandler("handler", policy)) {
        looper->AddHandler(handler);
        EXPECT_GE(looper->Run(), 0);
    }
    ~RunningLooper() {
        looper->Quit();
        delete handler;
    }
    RunningLooper(const RunningLooper&) = delete;
    RunningLooper& operator=(const RunningLooper&) = delete;

    BLooper* looper;
    RecordingHandler* handler;
};
