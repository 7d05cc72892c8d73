// The gateway door through its real socket, in front of linkgate and the simulated Series 3:
// what programs see, what reaches the wire, and what bad input and misbehaving clients get.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "DoorClient.h"
#include "LinkGateHost.h"
#include "host/GateServer.h"
#include "host/PacketText.h"

namespace {

namespace fs = std::filesystem;
using handheld::TraceEvent;
using handheld::TraceRecord;

// "M:\NOTES.TXT": FINFO (22), 13 bytes of name.
const std::string kFinfoHex = "16000d004d3a5c4e4f5445532e54585400";
constexpr uint32_t kNotesTime = 1700000000;  // 0x6553f100
const std::string kNotes = "hello tavro";    // 11 bytes

// FINFO's answer for NOTES.TXT: response 0x2A, 18 bytes follow, status 0, then the entry:
// 0, attributes (writable), size 11, the modification time, 0.
const std::string kFinfoReplyHex =
    "2a001200"
    "0000"
    "0000"
    "0100"
    "0b000000"
    "00f15365"
    "00000000";

fs::path MakeTempFolder(const char* name) {
    std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    return made;
}

class GateDoor : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // linkgate reads it when each link starts: a server the handheld does not know costs
        // a second per connect request instead of three.
        setenv("TAVRO_GATE_CONNECT_MS", "1000", 1);
        drive = new fs::path(MakeTempFolder("gate-drive"));
        std::ofstream(*drive / "NOTES.TXT") << kNotes;
        chmod((*drive / "NOTES.TXT").c_str(), 0644);
        utimbuf times{kNotesTime, kNotesTime};
        utime((*drive / "NOTES.TXT").c_str(), &times);

        vantrel::HostOptions options;
        options.drives.push_back({'M', "INTERNAL", drive->string()});
        stack = new LinkGateHost(options);
        ASSERT_EQ(stack->Start(), B_OK);
        host = stack->host.get();
    }
    static void TearDownTestSuite() {
        delete stack;
        fs::remove_all(*drive);
        delete drive;
        unsetenv("TAVRO_GATE_CONNECT_MS");
    }

    void SetUp() override {
        ASSERT_EQ(stack->Relink(), B_OK);
        folder = MakeTempFolder("gate-door");
        path = (folder / "tavro" / "gate.sock").string();
    }
    void TearDown() override {
        door.reset();
        fs::remove_all(folder);
    }

    // A door for this test; `tune` adjusts its options. Log lines are kept.
    void OpenDoor(std::function<void(vantrel::GateServer::Options&)> tune = nullptr) {
        vantrel::GateServer::Options options;
        options.socketPath = path;
        options.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(logLock);
            log += line + "\n";
        };
        if (tune) tune(options);
        door = std::make_unique<vantrel::GateServer>(*host, options);
        std::string message;
        ASSERT_EQ(door->Start(message), B_OK) << message;
    }
    std::string Log() {
        std::lock_guard<std::mutex> guard(logLock);
        return log;
    }

    // Connects to `server` and returns the channel (0 when it failed).
    static int Connect(DoorClient& client, const std::string& server, int id = 1) {
        json reply = client.Ask({{"id", id}, {"op", "connect"}, {"server", server}});
        EXPECT_EQ(reply.value("ok", false), true) << reply.dump();
        EXPECT_EQ(reply["id"], id);
        return reply.value("channel", 0);
    }

    // The door open and `client` connected through it to the file service, on `*chan`; the
    // wire's trace starts after the connect.
    void ConnectToFileService(DoorClient& client, int* chan) {
        OpenDoor();
        ASSERT_TRUE(client.Open(path));
        *chan = Connect(client, "SYS$RFSV");
        ASSERT_GT(*chan, 0);
        host->Trace().Reset();
    }

    static std::vector<TraceRecord> Wire(TraceEvent event) {
        std::vector<TraceRecord> out;
        for (const TraceRecord& record : host->Trace().Records())
            if (record.event == event) out.push_back(record);
        return out;
    }

    static fs::path* drive;
    static LinkGateHost* stack;
    static vantrel::HostLink* host;
    fs::path folder;
    std::string path;
    std::unique_ptr<vantrel::GateServer> door;
    std::mutex logLock;
    std::string log;
};

fs::path* GateDoor::drive = nullptr;
LinkGateHost* GateDoor::stack = nullptr;
vantrel::HostLink* GateDoor::host = nullptr;

}  // namespace

TEST_F(GateDoor, FileServiceAnswersFinfoWithTheRightBytes) {
    DoorClient client;
    int chan = 0;
    ASSERT_NO_FATAL_FAILURE(ConnectToFileService(client, &chan));

    json reply = client.Ask({{"id", "q1"}, {"op", "send"}, {"channel", chan}, {"hex", kFinfoHex}});
    EXPECT_EQ(reply, json({{"id", "q1"}, {"ok", true}, {"size", 22}, {"hex", kFinfoReplyHex}}));
    // The packet went out on the channel exactly as given.
    std::vector<TraceRecord> sent = Wire(TraceEvent::Request);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].channel, chan);
    EXPECT_EQ(vantrel::ToHex(sent[0].bytes), kFinfoHex);

    // The same in base64, answered in base64.
    std::string packet64 = vantrel::ToBase64(*vantrel::FromHex(kFinfoHex));
    reply = client.Ask({{"id", 2}, {"op", "send"}, {"channel", chan}, {"base64", packet64}});
    EXPECT_EQ(reply.value("base64", ""), vantrel::ToBase64(*vantrel::FromHex(kFinfoReplyHex)));

    EXPECT_EQ(client.Ask({{"id", 3}, {"op", "channels"}}),
              json({{"id", 3},
                    {"ok", true},
                    {"channels", {{{"channel", chan}, {"server", "SYS$RFSV"}}}}}));
    EXPECT_EQ(client.Ask({{"id", 4}, {"op", "disconnect"}, {"channel", chan}}),
              json({{"id", 4}, {"ok", true}, {"channel", chan}}));
    // linkgate has sent it; the host puts it on the wire in its own time.
    for (int i = 0; i < 500 && Wire(TraceEvent::Disconnect).empty(); ++i) snooze(10000);
    ASSERT_EQ(Wire(TraceEvent::Disconnect).size(), 1u);
    EXPECT_EQ(Wire(TraceEvent::Disconnect)[0].channel, chan);
    EXPECT_EQ(client.Ask({{"id", 5}, {"op", "channels"}})["channels"], json::array());
}

TEST_F(GateDoor, AServerStartedThroughTheLinkServer) {
    OpenDoor();
    DoorClient client(path);
    host->Trace().Reset();
    int chan = Connect(client, "ECHO");
    ASSERT_GT(chan, 0);
    // Refused at first, registered with LINK, then connected.
    std::vector<TraceRecord> connects = Wire(TraceEvent::Connect);
    std::vector<TraceRecord> requests = Wire(TraceEvent::Request);
    ASSERT_EQ(connects.size(), 3u);  // ECHO, LINK, ECHO again
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes.size(), 8u);  // register request for "ECHO"
    EXPECT_EQ(std::string(requests[0].bytes.begin() + 3, requests[0].bytes.end() - 1), "ECHO");

    json reply =
        client.Ask({{"id", 9}, {"op", "send"}, {"channel", chan}, {"hex", "68 65 6C 6C 6F"}});
    EXPECT_EQ(reply.value("hex", ""), "68656c6c6f");
    // An empty packet, an empty reply.
    reply = client.Ask({{"id", 10}, {"op", "send"}, {"channel", chan}, {"hex", ""}});
    EXPECT_EQ(reply, json({{"id", 10}, {"ok", true}, {"size", 0}, {"hex", ""}}));
}

TEST_F(GateDoor, ServerThatCannotBeReachedIsAnErrorAndNoChannel) {
    OpenDoor();
    DoorClient client(path);
    // Unknown to the handheld: two connect attempts go unanswered, LINK declines.
    json reply = client.Ask({{"id", 1}, {"op", "connect"}, {"server", "NOSUCH"}});
    EXPECT_EQ(reply.value("ok", true), false);
    EXPECT_EQ(reply.value("error", ""), "unreachable");
    EXPECT_EQ(client.Ask({{"id", 2}, {"op", "channels"}})["channels"], json::array());
}

TEST_F(GateDoor, LinkDownAndUpAreEventsAndTheChannelsGo) {
    DoorClient client;
    int chan = 0;
    ASSERT_NO_FATAL_FAILURE(ConnectToFileService(client, &chan));
    EXPECT_EQ(client.Ask({{"id", 2}, {"op", "link"}}),
              json({{"id", 2}, {"ok", true}, {"link", "up"}}));

    ASSERT_EQ(host->LinkDown(), B_OK);
    EXPECT_EQ(client.Read(), json({{"event", "link"}, {"state", "down"}, {"closed", {chan}}}));
    EXPECT_EQ(client.Ask({{"id", 3}, {"op", "link"}})["link"], "down");
    json reply = client.Ask({{"id", 4}, {"op", "send"}, {"channel", chan}, {"hex", kFinfoHex}});
    EXPECT_EQ(reply.value("error", ""), "not-your-channel");
    reply = client.Ask({{"id", 5}, {"op", "connect"}, {"server", "SYS$RFSV"}});
    EXPECT_EQ(reply.value("error", ""), "link-down");

    ASSERT_EQ(host->LinkUp(), B_OK);
    EXPECT_EQ(client.Read(), json({{"event", "link"}, {"state", "up"}}));
    int again = Connect(client, "SYS$RFSV", 6);
    ASSERT_GT(again, 0);
    reply = client.Ask({{"id", 7}, {"op", "send"}, {"channel", again}, {"hex", kFinfoHex}});
    EXPECT_EQ(reply.value("hex", ""), kFinfoReplyHex);
}

TEST_F(GateDoor, TwoClientsEachWithTheirOwnChannels) {
    OpenDoor();
    DoorClient first(path), second(path);
    int files = Connect(first, "SYS$RFSV");
    int echo = Connect(second, "ECHO");
    ASSERT_GT(files, 0);
    ASSERT_GT(echo, 0);
    ASSERT_NE(files, echo);

    // Another client's channel is refused, and stays usable for its owner.
    json reply = second.Ask({{"id", 2}, {"op", "send"}, {"channel", files}, {"hex", kFinfoHex}});
    EXPECT_EQ(reply.value("error", ""), "not-your-channel");
    reply = second.Ask({{"id", 3}, {"op", "disconnect"}, {"channel", files}});
    EXPECT_EQ(reply.value("error", ""), "not-your-channel");
    EXPECT_EQ(second.Ask({{"id", 4}, {"op", "channels"}})["channels"],
              json({{{"channel", echo}, {"server", "ECHO"}}}));

    // Both at once, many times over.
    std::atomic<int> good{0};
    auto work = [&](DoorClient& client, int chan, const std::string& hex, const std::string& want) {
        for (int i = 0; i < 25; ++i) {
            json answer =
                client.Ask({{"id", 100 + i}, {"op", "send"}, {"channel", chan}, {"hex", hex}});
            if (answer.value("hex", "") == want && answer["id"] == 100 + i) ++good;
        }
    };
    std::thread a([&] { work(first, files, kFinfoHex, kFinfoReplyHex); });
    std::thread b([&] { work(second, echo, "0102", "0102"); });
    a.join();
    b.join();
    EXPECT_EQ(good.load(), 50);

    // A client that goes away has its channels disconnected; the other keeps its own.
    host->Trace().Reset();
    first.Close();
    for (int i = 0; i < 1000 && Wire(TraceEvent::Disconnect).empty(); ++i) snooze(10000);
    std::vector<TraceRecord> closed = Wire(TraceEvent::Disconnect);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].channel, files);
    for (int i = 0; i < 1000 && door->Clients() != 1; ++i) snooze(10000);
    EXPECT_EQ(door->Clients(), 1u);
    EXPECT_EQ(second.Ask({{"id", 5}, {"op", "send"}, {"channel", echo}, {"hex", "ff"}})["hex"],
              "ff");
}

TEST_F(GateDoor, FolderAndSocketArePrivate) {
    OpenDoor();
    struct stat info;
    ASSERT_EQ(lstat((folder / "tavro").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, geteuid());
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    door->Stop();
    EXPECT_FALSE(fs::exists(path));  // the socket goes with the door
}

TEST_F(GateDoor, AnotherUserIsRefusedAndTheRefusalLogged) {
    uid_t stranger;
    if (geteuid() == 0) {
        // Root runs the door; a real client of another uid knocks. The folder and socket are
        // opened up here only so that the knock reaches the credential check.
        stranger = 65534;
        OpenDoor();
        chmod(folder.c_str(), 0711);
        chmod((folder / "tavro").c_str(), 0711);
        chmod(path.c_str(), 0666);
    } else {
        // No other uid at hand: the door is told it belongs to someone else.
        stranger = geteuid();
        OpenDoor([](vantrel::GateServer::Options& options) { options.owner = geteuid() + 1; });
    }
    int answer[2];
    ASSERT_EQ(pipe(answer), 0);
    pid_t child = fork();
    if (child == 0) {
        close(answer[0]);
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0))
            _exit(3);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(4);
        // The door may have closed the connection already: no SIGPIPE, the answer is read below.
        const char request[] = "{\"id\":1,\"op\":\"link\"}\n";
        (void)send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
        char buffer[512];
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) > 0) {
            if (write(answer[1], buffer, static_cast<size_t>(got)) < 0) _exit(6);
        }
        _exit(0);  // the door closed the connection
    }
    close(answer[1]);
    std::string heard;
    char buffer[512];
    for (ssize_t got; (got = read(answer[0], buffer, sizeof buffer)) > 0;)
        heard.append(buffer, static_cast<size_t>(got));
    close(answer[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    json refusal = json::parse(heard, nullptr, false);
    ASSERT_TRUE(refusal.is_object()) << heard;
    EXPECT_EQ(refusal.value("error", ""), "refused");
    EXPECT_EQ(refusal.value("ok", true), false);
    EXPECT_NE(Log().find("refused a client of uid " + std::to_string(stranger)), std::string::npos)
        << Log();
    EXPECT_EQ(door->Clients(), 0u);
    // The door goes on serving its own user.
    DoorClient own(path);
    EXPECT_EQ(own.Ask({{"id", 1}, {"op", "link"}})["link"], "up");
}

TEST_F(GateDoor, RootIsLetInToAnyUsersDoor) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    OpenDoor([](vantrel::GateServer::Options& options) { options.owner = 4242; });
    DoorClient client(path);
    EXPECT_EQ(client.Ask({{"id", 1}, {"op", "link"}})["link"], "up");
}

TEST_F(GateDoor, BadInputIsAnsweredAndTheConnectionStaysUsable) {
    DoorClient client;
    int chan = 0;
    ASSERT_NO_FATAL_FAILURE(ConnectToFileService(client, &chan));
    auto errorOf = [&](const std::string& line) {
        EXPECT_TRUE(client.SendRaw(line + "\n"));
        json reply = client.Read();
        EXPECT_EQ(reply.value("ok", true), false) << line;
        EXPECT_FALSE(reply.value("message", "").empty()) << line;
        return std::make_pair(reply.value("error", ""), reply["id"]);
    };
    using Answer = std::pair<std::string, json>;
    EXPECT_EQ(errorOf("this is not json"), Answer("malformed", nullptr));
    EXPECT_EQ(errorOf("{\"id\":1,\"op\":\"link\""), Answer("malformed", nullptr));
    EXPECT_EQ(errorOf("[1,2,3]"), Answer("malformed", nullptr));
    EXPECT_EQ(errorOf("{\"id\":2}"), Answer("bad-request", 2));
    EXPECT_EQ(errorOf("{\"id\":3,\"op\":\"fly\"}"), Answer("unknown-op", 3));
    EXPECT_EQ(errorOf("{\"id\":[1],\"op\":\"link\"}"), Answer("bad-request", nullptr));
    EXPECT_EQ(errorOf("{\"id\":4,\"op\":\"connect\",\"server\":\"ABCDEFGHIJKLMN\"}"),
              Answer("name-too-long", 4));
    EXPECT_EQ(errorOf("{\"id\":5,\"op\":\"connect\",\"server\":\"A\\u0000B\"}"),
              Answer("bad-name", 5));
    EXPECT_EQ(errorOf("{\"id\":6,\"op\":\"connect\",\"server\":42}"), Answer("bad-request", 6));
    std::string big = "{\"id\":7,\"op\":\"send\",\"channel\":" + std::to_string(chan) +
                      ",\"hex\":\"" + std::string(2 * 2049, 'a') + "\"}";
    EXPECT_EQ(errorOf(big), Answer("too-large", 7));
    EXPECT_EQ(errorOf("{\"id\":8,\"op\":\"send\",\"channel\":" + std::to_string(chan) +
                      ",\"hex\":\"0g\"}"),
              Answer("bad-request", 8));
    EXPECT_EQ(errorOf("{\"id\":9,\"op\":\"send\",\"channel\":70000,\"hex\":\"00\"}"),
              Answer("bad-request", 9));
    EXPECT_EQ(errorOf("{\"id\":10,\"op\":\"send\",\"channel\":" + std::to_string(chan) +
                      ",\"hex\":\"00\",\"base64\":\"AA==\"}"),
              Answer("bad-request", 10));
    EXPECT_EQ(errorOf("{\"id\":11,\"op\":\"disconnect\",\"channel\":65000}"),
              Answer("not-your-channel", 11));
    // A line beyond the limit is answered once and skipped to its end.
    EXPECT_EQ(errorOf(std::string(40000, 'x')), Answer("too-large", nullptr));
    // Nothing of it reached the handheld.
    EXPECT_TRUE(Wire(TraceEvent::Request).empty());
    EXPECT_TRUE(Wire(TraceEvent::Connect).empty());

    json reply = client.Ask({{"id", 12}, {"op", "send"}, {"channel", chan}, {"hex", kFinfoHex}});
    EXPECT_EQ(reply.value("hex", ""), kFinfoReplyHex);
}

TEST_F(GateDoor, AFloodIsTurnedAwayBeyondTheQueue) {
    OpenDoor([](vantrel::GateServer::Options& options) { options.maxPending = 4; });
    DoorClient client(path);
    int chan = Connect(client, "ECHO");
    ASSERT_GT(chan, 0);
    // Every reply comes late, so the requests pile up behind the first.
    constexpr int kRequests = 20;
    vantrel::FaultRule late;
    late.kind = vantrel::FaultKind::LateReply;
    late.count = kRequests;
    late.delay = 300000;
    host->SetFaults({late});
    std::string flood;
    for (int i = 0; i < kRequests; ++i)
        flood += json({{"id", i}, {"op", "send"}, {"channel", chan}, {"hex", "01"}}).dump() + "\n";
    ASSERT_TRUE(client.SendRaw(flood));
    int done = 0, busy = 0;
    std::set<int> answered;
    for (int i = 0; i < kRequests; ++i) {
        json reply = client.Read();
        answered.insert(reply.value("id", -1));
        if (reply.value("ok", false)) ++done;
        if (reply.value("error", "") == "busy") ++busy;
    }
    EXPECT_EQ(answered.size(), static_cast<size_t>(kRequests));  // each exactly once
    EXPECT_EQ(done + busy, kRequests);
    EXPECT_GE(busy, 1);
    EXPECT_LE(done, 5);  // the one at work and the four that fit
}

TEST_F(GateDoor, AClientThatDoesNotReadIsDroppedAndOthersGoOn) {
    OpenDoor([](vantrel::GateServer::Options& options) {
        options.maxOutput = 4096;
        options.maxPending = 100000;
    });
    DoorClient lazy(path), busy(path);
    // Ask and ask, never reading, until the door gives up on it.
    int flags = fcntl(lazy.Fd(), F_GETFL);
    fcntl(lazy.Fd(), F_SETFL, flags | O_NONBLOCK);
    const std::string request = "{\"id\":1,\"op\":\"link\"}\n";
    bool cut = false;
    for (int i = 0; i < 2000000 && !cut; ++i) {
        ssize_t n = send(lazy.Fd(), request.data(), request.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EAGAIN) {
            snooze(1000);
            if (i % 100 == 0 && door->Clients() == 1) cut = true;
            continue;
        }
        if (n < 0) cut = true;  // EPIPE or ECONNRESET: dropped
    }
    EXPECT_TRUE(cut);
    for (int i = 0; i < 1000 && door->Clients() != 1; ++i) snooze(10000);
    EXPECT_EQ(door->Clients(), 1u);
    EXPECT_NE(Log().find("does not read its replies"), std::string::npos) << Log();
    EXPECT_EQ(busy.Ask({{"id", 1}, {"op", "link"}})["link"], "up");
}

TEST_F(GateDoor, AStaleSocketIsReplacedAndALiveOneIsNotStolen) {
    // What a killed host leaves behind: a socket file nobody listens on.
    fs::create_directories(folder / "tavro");
    chmod((folder / "tavro").c_str(), 0700);
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    ASSERT_TRUE(fs::exists(path));
    OpenDoor();
    DoorClient client(path);
    EXPECT_EQ(client.Ask({{"id", 1}, {"op", "link"}})["link"], "up");

    vantrel::GateServer::Options options;
    options.socketPath = path;
    options.log = [](const std::string&) {};
    vantrel::GateServer second(*host, options);
    std::string message;
    EXPECT_EQ(second.Start(message), B_NAME_IN_USE);
    EXPECT_NE(message.find("another vantrel"), std::string::npos) << message;
    // The first door is untouched.
    EXPECT_EQ(client.Ask({{"id", 2}, {"op", "link"}})["link"], "up");
    DoorClient late(path);
    EXPECT_EQ(late.Ask({{"id", 1}, {"op", "channels"}})["ok"], true);
}

TEST_F(GateDoor, APathThatIsNotASocketIsLeftAlone) {
    fs::create_directories(folder / "tavro");
    chmod((folder / "tavro").c_str(), 0700);
    std::ofstream(path) << "precious";
    vantrel::GateServer::Options options;
    options.socketPath = path;
    vantrel::GateServer door(*host, options);
    std::string message;
    EXPECT_NE(door.Start(message), B_OK);
    EXPECT_NE(message.find("not a socket"), std::string::npos) << message;
    std::ifstream kept(path);
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "precious");
}

TEST_F(GateDoor, ClientsBeyondTheLimitAreTurnedAway) {
    OpenDoor([](vantrel::GateServer::Options& options) { options.maxClients = 1; });
    DoorClient first(path);
    EXPECT_EQ(first.Ask({{"id", 1}, {"op", "link"}})["link"], "up");
    DoorClient second(path);
    json refusal = second.Read();
    EXPECT_EQ(refusal.value("error", ""), "too-many-clients");
    EXPECT_TRUE(second.ClosedByDoor());
    EXPECT_EQ(first.Ask({{"id", 2}, {"op", "link"}})["link"], "up");
}
