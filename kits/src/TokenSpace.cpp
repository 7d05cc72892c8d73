#include "TokenSpace.h"

#include <mutex>
#include <unordered_map>

namespace kits_private {
namespace {

struct Tables {
    std::mutex lock;
    int32 nextToken = 1;
    std::unordered_map<int32, BHandler*> handlers;
    std::unordered_map<port_id, BLooper*> loopers;
};

// Never destroyed: handlers and loopers may outlive static destruction (a looper thread still
// blocked on its port when the process exits).
Tables& tables() {
    static Tables* instance = new Tables;
    return *instance;
}

}  // namespace

int32 NewHandlerToken(BHandler* handler) {
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    int32 token = t.nextToken++;
    t.handlers[token] = handler;
    return token;
}

void RemoveHandlerToken(int32 token) {
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    t.handlers.erase(token);
}

BHandler* HandlerForToken(int32 token) {
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    auto it = t.handlers.find(token);
    return it == t.handlers.end() ? nullptr : it->second;
}

void RegisterLooper(port_id port, BLooper* looper) {
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    t.loopers[port] = looper;
}

void UnregisterLooper(port_id port) {
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    t.loopers.erase(port);
}

BLooper* LooperForPort(port_id port) {
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    auto it = t.loopers.find(port);
    return it == t.loopers.end() ? nullptr : it->second;
}

}  // namespace kits_private
