// tavro-gate: talk to any server on the handheld through vantrel's gateway door.
//
//   tavro-gate connect 'SYS$RFSV' \; send . 16000d004d3a5c4e4f5445532e54585400
//   printf 'connect ECHO\nsend . 01 02 03\n' | tavro-gate
//   tavro-gate                      (interactive, with line editing and history)
#include <editline/readline.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "GateClient.h"
#include "host/PacketText.h"

namespace {

using nlohmann::json;
using tavrogate::GateClient;

const char kUsage[] =
    "Usage: tavro-gate [--socket PATH] [COMMAND [ARG...] [';' COMMAND [ARG...]]...]\n"
    "Without commands, reads them from standard input (interactive on a terminal).\n"
    "commands:\n"
    "  connect SERVER      open a channel to a server of the handheld (e.g. SYS$RFSV)\n"
    "  send CHANNEL HEX    send a packet and print the server's reply\n"
    "  disconnect CHANNEL  close a channel\n"
    "  channels            list the channels this session holds\n"
    "  link                tell whether the link to the handheld is up\n"
    "  help, quit\n"
    "CHANNEL '.' is the channel the latest connect opened. The session's channels close\n"
    "when tavro-gate ends. The socket is $TAVRO_GATE, else vantrel's default place.\n";

std::string DefaultSocket() {
    if (const char* path = getenv("TAVRO_GATE"); path != nullptr && path[0] != '\0') return path;
    if (geteuid() == 0) return "/run/tavro/gate.sock";
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/tavro/gate.sock";
    return "/tmp/tavro-" + std::to_string(geteuid()) + "/gate.sock";
}

class Session {
public:
    explicit Session(GateClient& client) : fClient(client) {}

    // Runs one command; false (after saying why on standard error) when it failed.
    bool Run(const std::vector<std::string>& words) {
        if (words.empty()) return true;
        const std::string& verb = words[0];
        json request;
        if (verb == "connect" && words.size() == 2) {
            request = {{"op", "connect"}, {"server", words[1]}};
        } else if (verb == "send" && words.size() >= 3) {
            long channel;
            if (!Channel(words[1], channel)) return false;
            std::string hex;
            for (size_t i = 2; i < words.size(); ++i) hex += words[i];
            if (!vantrel::FromHex(hex)) return Fail(verb, "the packet is not hexadecimal bytes");
            request = {{"op", "send"}, {"channel", channel}, {"hex", hex}};
        } else if (verb == "disconnect" && words.size() == 2) {
            long channel;
            if (!Channel(words[1], channel)) return false;
            request = {{"op", "disconnect"}, {"channel", channel}};
        } else if ((verb == "channels" || verb == "link") && words.size() == 1) {
            request = {{"op", verb}};
        } else if (verb == "help") {
            fputs(kUsage, stdout);
            return true;
        } else {
            return Fail(verb, "unknown command or wrong arguments (try help)");
        }
        json reply;
        std::string error;
        bool asked = fClient.Ask(request, reply, error);
        ShowEvents();
        if (!asked) return Fail(verb, error);
        if (!reply.value("ok", false))
            return Fail(verb, reply.value("message", std::string("failed")));
        Show(verb, reply);
        return true;
    }

    void ShowEvents() {
        for (const json& event : fClient.TakeEvents()) {
            if (event.value("state", "") == "up") {
                printf("event: link up\n");
                continue;
            }
            std::string closed;
            for (const json& chan : event.value("closed", json::array()))
                closed += (closed.empty() ? "" : " ") + chan.dump();
            printf("event: link down%s\n",
                   closed.empty() ? "" : (", channels closed: " + closed).c_str());
        }
        fflush(stdout);
    }

private:
    bool Fail(const std::string& verb, const std::string& why) {
        fprintf(stderr, "tavro-gate: %s: %s\n", verb.c_str(), why.c_str());
        return false;
    }

    bool Channel(const std::string& word, long& channel) {
        if (word == ".") {
            if (fLastChannel == 0) return Fail("channel", "no connect has opened a channel yet");
            channel = fLastChannel;
            return true;
        }
        char* end = nullptr;
        channel = strtol(word.c_str(), &end, 10);
        if (word.empty() || *end != '\0' || channel < 1 || channel > 65535)
            return Fail("channel", "not a channel number: " + word);
        return true;
    }

    void Show(const std::string& verb, const json& reply) {
        if (verb == "connect") {
            fLastChannel = reply.value("channel", 0L);
            printf("connected to %s on channel %ld\n", reply.value("server", "").c_str(),
                   fLastChannel);
        } else if (verb == "send") {
            auto bytes = vantrel::FromHex(reply.value("hex", "")).value_or(vantrel::PacketBytes{});
            printf("reply: %zu bytes\n%s", bytes.size(), vantrel::HexDump(bytes).c_str());
        } else if (verb == "disconnect") {
            printf("channel %ld disconnected\n", reply.value("channel", 0L));
        } else if (verb == "channels") {
            json list = reply.value("channels", json::array());
            if (list.empty()) printf("no channels open\n");
            for (const json& open : list)
                printf("channel %ld: %s\n", open.value("channel", 0L),
                       open.value("server", "").c_str());
        } else if (verb == "link") {
            printf("link %s\n", reply.value("link", "").c_str());
        }
        fflush(stdout);
    }

    GateClient& fClient;
    long fLastChannel = 0;
};

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

bool IsQuit(const std::vector<std::string>& words) {
    return words.size() == 1 && (words[0] == "quit" || words[0] == "exit");
}

int Interactive(Session& session) {
    std::string history;
    if (const char* home = getenv("HOME")) {
        history = std::string(home) + "/.tavro_gate_history";
        read_history(history.c_str());
    }
    printf("tavro-gate: type help for the commands, quit to leave\n");
    for (;;) {
        char* text = readline("gate> ");
        if (text == nullptr) break;
        std::string line = text;
        free(text);
        std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        add_history(line.c_str());
        if (IsQuit(words)) break;
        session.Run(words);  // a failure is shown; the session goes on
    }
    if (!history.empty()) write_history(history.c_str());
    return 0;
}

// Commands from a pipe or file: the first failure ends the run.
int Script(Session& session) {
    for (std::string line; std::getline(std::cin, line);) {
        std::vector<std::string> words = Words(line);
        if (words.empty() || words[0][0] == '#') continue;
        if (IsQuit(words)) break;
        if (!session.Run(words)) return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = DefaultSocket();
    int first = 1;
    if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--socket") {
        if (argc < 3) {
            fputs(kUsage, stderr);
            return 2;
        }
        path = argv[2];
        first = 3;
    }
    GateClient client;
    std::string error;
    if (!client.Open(path, error)) {
        fprintf(stderr, "tavro-gate: %s\n", error.c_str());
        return 1;
    }
    Session session(client);
    if (first < argc) {
        std::vector<std::string> words;
        for (int i = first; i <= argc; ++i) {
            if (i == argc || std::string(argv[i]) == ";") {
                if (!session.Run(words)) return 1;
                words.clear();
            } else {
                words.push_back(argv[i]);
            }
        }
        return 0;
    }
    return isatty(0) ? Interactive(session) : Script(session);
}
