// One client of the gateway door: the lines it sent, the requests waiting for their turn, the
// replies waiting to be read, and the channels it opened. The door's thread feeds it bytes and
// takes its output; a worker thread of its own carries its requests to linkgate, one at a
// time, so that a slow device holds up this client only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "GateForwarder.h"
#include "host/GateProtocol.h"

namespace vantrel::gate {

struct SessionContext {
    GateForwarder& forwarder;
    std::function<bool()> linkUp;
    // Counts link drops: a channel opened before the latest drop is dead.
    const std::atomic<uint64_t>& linkDrops;
    std::function<void()> wake;  // output is waiting
    size_t maxPending;           // requests waiting per client
    size_t maxOutput;            // bytes of replies waiting per client
};

class GateSession {
public:
    GateSession(int number, int fd, SessionContext context);
    ~GateSession();  // after Close and Join
    GateSession(const GateSession&) = delete;
    GateSession& operator=(const GateSession&) = delete;

    int Number() const { return fNumber; }
    int Fd() const { return fFd; }
    void StartWorker();

    // Door thread: bytes read from the client. Complete lines become requests or error
    // replies; a line over the limit is answered once and skipped up to its end.
    void Received(const char* bytes, size_t size);
    // Door thread: output not yet written (empty when none).
    bool HasOutput();
    // Door thread: hands out what to write next and takes back how much was written.
    std::string_view PendingOutput();
    void Written(size_t size);
    // The client let replies pile up beyond the limit: it is to be dropped.
    bool Overflowed() const { return fOverflowed.load(); }

    // Queues a line for the client (replies, events).
    void Post(std::string line);
    // The link went down: its channels are gone. Returns them, and tells the client.
    void LinkDropped();
    void LinkCameUp();

    // The client went away (or is dropped): waiting requests are discarded, and the worker
    // disconnects the channels it still holds, then ends.
    void Close();
    bool Finished() const { return fFinished.load(); }
    void Join();
    int TakeFd();  // the door closes the socket

private:
    void Work();
    std::string Handle(const Request& request);
    std::string HandleConnect(const Request& request);
    // The request's channel when this connection opened it (forgotten, with `forget`): "";
    // else the refusal to send back.
    std::string OwnChannel(const Request& request, bool forget, GateChannel& channel);
    std::string HandleSend(const Request& request);
    std::string HandleDisconnect(const Request& request);
    std::string HandleChannels(const Request& request);
    void Line(std::string_view line);

    const int fNumber;
    int fFd;
    SessionContext fContext;
    std::thread fWorker;

    // Door thread only.
    std::string fInput;
    bool fSkippingLongLine = false;

    std::mutex fLock;
    std::condition_variable fWork;
    std::deque<Request> fRequests;
    std::deque<std::string> fOutput;
    size_t fOutputBytes = 0;
    size_t fFrontWritten = 0;
    std::map<uint16, std::pair<GateChannel, std::string>> fChannels;
    bool fClosing = false;
    std::atomic<bool> fOverflowed{false};
    std::atomic<bool> fFinished{false};
};

}  // namespace vantrel::gate
