#include "TokenSpace.h"

#include <mutex>
#include <unordered_map>

namespace kits_private {
namespace {

// Objects by number, behind a lock of their own.
template <typename Object>
class Registry {
public:
    // Keeps `object` under a number never given out before.
    int32 Add(Object* object) {
        std::lock_guard guard(fLock);
        int32 key = fNext++;
        fObjects[key] = object;
        return key;
    }

    void Put(int32 key, Object* object) {
        std::lock_guard guard(fLock);
        fObjects[key] = object;
    }

    void Remove(int32 key) {
        std::lock_guard guard(fLock);
        fObjects.erase(key);
    }

    Object* Find(int32 key) {
        std::lock_guard guard(fLock);
        auto it = fObjects.find(key);
        return it == fObjects.end() ? nullptr : it->second;
    }

    // Never destroyed: handlers and loopers may outlive static destruction (a looper thread
    // still blocked on its port when the process exits).
    static Registry& Process() {
        static Registry* instance = new Registry;
        return *instance;
    }

private:
    std::mutex fLock;
    int32 fNext = 1;
    std::unordered_map<int32, Object*> fObjects;
};

}  // namespace

int32 NewHandlerToken(BHandler* handler) { return Registry<BHandler>::Process().Add(handler); }

void RemoveHandlerToken(int32 token) { Registry<BHandler>::Process().Remove(token); }

BHandler* HandlerForToken(int32 token) { return Registry<BHandler>::Process().Find(token); }

void RegisterLooper(port_id port, BLooper* looper) {
    Registry<BLooper>::Process().Put(port, looper);
}

void UnregisterLooper(port_id port) { Registry<BLooper>::Process().Remove(port); }

BLooper* LooperForPort(port_id port) { return Registry<BLooper>::Process().Find(port); }

}  // namespace kits_private
