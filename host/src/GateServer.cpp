#include "host/GateServer.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

#include "GateForwarder.h"
#include "GateSession.h"
#include "GateSocket.h"
#include "host/HostLink.h"

namespace vantrel {

using gate::GateSession;

GateServer::Options::Options() : owner(geteuid()) {}

struct GateServer::State {
    State(HostLink& host, Options options)
        : host(host), options(std::move(options)), forwarder(this->options.replyTimeout) {}

    void Loop();
    void Accept();
    void Refuse(int fd, const char* code, const std::string& text);
    void Serve(GateSession& session, short events);
    void Drop(GateSession& session, const std::string& why);
    void Wake();
    void LinkChanged(bool up);
    void Log(const std::string& line) const { options.log(line); }

    HostLink& host;
    Options options;
    gate::GateForwarder forwarder;
    gate::Listener listener;
    int wakeFd = -1;
    int observer = 0;  // the host's id for LinkChanged
    std::thread loop;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> linkDrops{0};
    int nextNumber = 1;

    mutable std::mutex lock;  // guards sessions against the link observer
    std::list<std::unique_ptr<GateSession>> sessions;
    // Sessions closed by the door, whose workers are still finishing.
    std::list<std::unique_ptr<GateSession>> closing;
};

GateServer::GateServer(HostLink& host, Options options)
    : fState(std::make_unique<State>(host, std::move(options))) {
    if (!fState->options.log) {
        fState->options.log = [](const std::string& line) {
            fprintf(stderr, "vantrel: gate: %s\n", line.c_str());
        };
    }
}

GateServer::~GateServer() { Stop(); }

const std::string& GateServer::Path() const { return fState->listener.path; }

size_t GateServer::Clients() const {
    std::lock_guard<std::mutex> guard(fState->lock);
    return fState->sessions.size();
}

status_t GateServer::Start(std::string& message) {
    State& s = *fState;
    if (s.loop.joinable()) return B_ALREADY_RUNNING;
    std::string path =
        s.options.socketPath.empty() ? gate::DefaultSocketPath() : s.options.socketPath;
    status_t status = gate::OpenListener(path, s.listener, message);
    if (status != B_OK) return status;
    s.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.wakeFd < 0) {
        gate::CloseListener(s.listener);
        message = "cannot make an event descriptor";
        return B_ERROR;
    }
    s.stopping.store(false);
    s.observer = s.host.AddLinkObserver([&s](bool up) { s.LinkChanged(up); });
    s.loop = std::thread([&s] { s.Loop(); });
    message = "gateway door at " + path;
    return B_OK;
}

void GateServer::Stop() {
    State& s = *fState;
    if (!s.loop.joinable()) return;
    s.host.RemoveLinkObserver(s.observer);
    s.stopping.store(true);
    s.Wake();
    s.loop.join();
    std::list<std::unique_ptr<GateSession>> all;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        all.splice(all.end(), s.sessions);
        all.splice(all.end(), s.closing);
    }
    for (auto& session : all) session->Close();
    for (auto& session : all) session->Join();
    all.clear();
    gate::CloseListener(s.listener);
    close(s.wakeFd);
    s.wakeFd = -1;
}

void GateServer::State::Wake() {
    uint64_t one = 1;
    ssize_t written = write(wakeFd, &one, sizeof one);
    (void)written;  // a full counter already wakes the loop
}

void GateServer::State::LinkChanged(bool up) {
    if (!up) linkDrops.fetch_add(1);
    std::lock_guard<std::mutex> guard(lock);
    for (auto& session : sessions) {
        if (up)
            session->LinkCameUp();
        else
            session->LinkDropped();
    }
}

void GateServer::State::Loop() {
    std::vector<pollfd> fds;
    std::vector<GateSession*> polled;
    while (!stopping.load()) {
        fds.clear();
        polled.clear();
        fds.push_back({wakeFd, POLLIN, 0});
        fds.push_back({listener.fd, POLLIN, 0});
        {
            std::lock_guard<std::mutex> guard(lock);
            for (auto& session : sessions) {
                short events = POLLIN;
                if (session->HasOutput()) events |= POLLOUT;
                fds.push_back({session->Fd(), events, 0});
                polled.push_back(session.get());
            }
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            Log(std::string("poll failed: ") + strerror(errno));
            return;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            ssize_t got = read(wakeFd, &count, sizeof count);
            (void)got;
        }
        if (fds[1].revents & POLLIN) Accept();
        for (size_t i = 0; i < polled.size(); ++i) {
            if (fds[i + 2].revents != 0) Serve(*polled[i], fds[i + 2].revents);
        }

        std::lock_guard<std::mutex> guard(lock);
        for (auto it = sessions.begin(); it != sessions.end();) {
            GateSession& session = **it;
            if (session.Overflowed()) {
                Log("dropped client " + std::to_string(session.Number()) +
                    ": it does not read its replies");
                session.Close();
            }
            if (session.Fd() < 0 || session.Overflowed()) {
                int fd = session.TakeFd();
                if (fd >= 0) close(fd);
                session.Close();
                closing.push_back(std::move(*it));
                it = sessions.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = closing.begin(); it != closing.end();) {
            if ((*it)->Finished()) {
                (*it)->Join();
                it = closing.erase(it);
            } else {
                ++it;
            }
        }
    }
}

void GateServer::State::Refuse(int fd, const char* code, const std::string& text) {
    std::string line = gate::ErrorReply("null", code, text);
    ssize_t written = send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    (void)written;  // a refused peer gets one try
    close(fd);
}

void GateServer::State::Accept() {
    for (;;) {
        int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;  // EAGAIN: none left; anything else: try again on the next wake
        gate::Peer peer;
        if (!gate::PeerOf(fd, peer)) {
            Log("refused a client whose credentials cannot be read");
            Refuse(fd, gate::error::kRefused, "credentials unknown");
            continue;
        }
        if (!gate::PeerAllowed(peer, options.owner)) {
            Log("refused a client of uid " + std::to_string(peer.uid) + " (pid " +
                std::to_string(peer.pid) + "): only uid " + std::to_string(options.owner) +
                " and root may use the gateway");
            Refuse(fd, gate::error::kRefused,
                   "this gateway belongs to another user; only its owner and root may use it");
            continue;
        }
        std::lock_guard<std::mutex> guard(lock);
        if (sessions.size() >= options.maxClients) {
            Log("refused a client: " + std::to_string(options.maxClients) +
                " clients are connected already");
            Refuse(fd, gate::error::kTooManyClients,
                   std::to_string(options.maxClients) + " clients are connected already");
            continue;
        }
        gate::SessionContext context{forwarder,          [this] { return host.IsLinkUp(); },
                                     linkDrops,          [this] { Wake(); },
                                     options.maxPending, options.maxOutput};
        auto session = std::make_unique<GateSession>(nextNumber++, fd, std::move(context));
        session->StartWorker();
        sessions.push_back(std::move(session));
    }
}

void GateServer::State::Serve(GateSession& session, short events) {
    if (events & POLLIN) {
        char buffer[16384];
        for (;;) {
            ssize_t got = recv(session.Fd(), buffer, sizeof buffer, 0);
            if (got > 0) {
                session.Received(buffer, static_cast<size_t>(got));
                // Keep the door fair: one client's flood does not hold up the others.
                if (static_cast<size_t>(got) < sizeof buffer || session.Overflowed()) break;
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
            Drop(session, "");  // end of input or a broken connection
            return;
        }
    } else if (events & (POLLHUP | POLLERR | POLLNVAL)) {
        Drop(session, "");
        return;
    }
    while (session.Fd() >= 0) {
        std::string_view pending = session.PendingOutput();
        if (pending.empty()) break;
        ssize_t sent =
            send(session.Fd(), pending.data(), pending.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EINTR) Drop(session, "");
            break;
        }
        session.Written(static_cast<size_t>(sent));
    }
}

void GateServer::State::Drop(GateSession& session, const std::string& why) {
    if (!why.empty()) Log("dropped client " + std::to_string(session.Number()) + ": " + why);
    int fd = session.TakeFd();
    if (fd >= 0) close(fd);
}

}  // namespace vantrel
