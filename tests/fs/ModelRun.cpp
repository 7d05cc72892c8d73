#include "ModelRun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

namespace model {

namespace {

struct Node {
    bool directory = false;
    std::string data;
    bool operator==(const Node& other) const {
        return directory == other.directory && data == other.data;
    }
};

// Every entry of the drive by its path ("DIR/FILE.TXT"); the root is not in it.
using Tree = std::map<std::string, Node>;

std::string Parent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() ? name : dir + "/" + name;
}

bool Inside(const std::string& path, const std::string& dir) {
    return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
}

size_t Depth(const std::string& path) { return std::count(path.begin(), path.end(), '/'); }

// What the drive holds, read from the folder behind it.
Tree ReadDrive(const std::string& folder) {
    Tree tree;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::string path = it->path().lexically_relative(folder).generic_string();
        Node node;
        node.directory = it->is_directory();
        if (!node.directory) {
            std::ifstream in(it->path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            node.data = bytes.str();
        }
        tree[path] = node;
    }
    return tree;
}

std::string Describe(const Tree& tree, const std::string& path) {
    auto it = tree.find(path);
    if (it == tree.end()) return "absent";
    if (it->second.directory) return "a folder";
    return "a file of " + std::to_string(it->second.data.size()) + " bytes";
}

// The first path whose entry differs between two trees, with both sides.
std::string FirstDifference(const Tree& want, const Tree& got) {
    for (auto& [path, node] : want) {
        auto it = got.find(path);
        if (it == got.end() || !(it->second == node)) {
            std::string text =
                path + ": expected " + Describe(want, path) + ", found " + Describe(got, path);
            if (it != got.end() && !node.directory && !it->second.directory) {
                const std::string &a = node.data, &b = it->second.data;
                size_t at = 0;
                while (at < a.size() && at < b.size() && a[at] == b[at]) at++;
                text += " (first difference at byte " + std::to_string(at) + ")";
            }
            return text;
        }
    }
    for (auto& [path, node] : got)
        if (want.find(path) == want.end())
            return path + ": expected absent, found " + Describe(got, path);
    return "";
}

// Aborts the process when one operation runs past the limit: a hang must not pass for a slow
// test.
class Watchdog {
public:
    explicit Watchdog(double seconds) : limit(seconds), thread([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(lock);
            done = true;
        }
        wake.notify_all();
        thread.join();
    }
    void Start(const std::string& what) {
        std::lock_guard<std::mutex> guard(lock);
        current = what;
        started = std::chrono::steady_clock::now();
        running = true;
    }
    void Stop() {
        std::lock_guard<std::mutex> guard(lock);
        running = false;
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> guard(lock);
        while (!done) {
            wake.wait_for(guard, std::chrono::milliseconds(500));
            if (!running) continue;
            double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (seconds > limit) {
                fprintf(stderr, "model run: %s hangs (%.0f s)\n", current.c_str(), seconds);
                abort();
            }
        }
    }
    double limit;
    std::mutex lock;
    std::condition_variable wake;
    std::string current;
    std::chrono::steady_clock::time_point started;
    bool running = false;
    bool done = false;
    std::thread thread;
};

enum class Op {
    Create,
    Write,
    Append,
    Truncate,
    SetSize,
    Read,
    Stat,
    List,
    Rename,
    Mkdir,
    Rmdir,
    Unlink
};

const char* OpName(Op op) {
    switch (op) {
        case Op::Create:
            return "create";
        case Op::Write:
            return "write";
        case Op::Append:
            return "append";
        case Op::Truncate:
            return "truncate";
        case Op::SetSize:
            return "set-size";
        case Op::Read:
            return "read";
        case Op::Stat:
            return "stat";
        case Op::List:
            return "list";
        case Op::Rename:
            return "rename";
        case Op::Mkdir:
            return "mkdir";
        case Op::Rmdir:
            return "rmdir";
        case Op::Unlink:
            return "unlink";
    }
    return "?";
}

class Runner {
public:
    Runner(Target& target, const Faults& faults, const Settings& settings)
        : target(target), faults(faults), settings(settings), random(settings.seed) {}

    Report Go() {
        Watchdog watchdog(settings.hangSeconds);
        dog = &watchdog;
        model = ReadDrive(settings.hostFolder);
        for (uint32_t i = 0; i < settings.operations; i++) {
            index = i;
            Step();
            if (settings.progressEvery != 0 && (i + 1) % settings.progressEvery == 0)
                fprintf(stderr, "model run seed %u: %u operations, %llu faults, %zu divergences\n",
                        settings.seed, i + 1, static_cast<unsigned long long>(report.faultsStruck),
                        report.divergences.size());
            if (report.divergences.size() >= 20) break;  // enough to go on with
        }
        if (faults.clear) faults.clear();
        FinalCheck();
        dog = nullptr;
        return report;
    }

private:
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(random() % n); }
    bool Chance(uint32_t oneIn) { return Below(oneIn) == 0; }

    // The same path in a random mix of cases: the drive must not care.
    std::string Spell(const std::string& path) {
        std::string out = path;
        for (char& c : out)
            if (isalpha(static_cast<unsigned char>(c)) && Chance(2))
                c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return out;
    }

    std::string RandomBytes(size_t size) {
        std::string out(size, '\0');
        for (char& c : out) c = static_cast<char>(random());
        return out;
    }

    std::vector<std::string> Paths(bool directories, bool files) {
        std::vector<std::string> out;
        for (auto& [path, node] : model)
            if (node.directory ? directories : files) out.push_back(path);
        return out;
    }

    std::string AnyOf(const std::vector<std::string>& paths) { return paths[Below(paths.size())]; }

    // A folder to work in: the root or a folder of the model not too deep.
    std::string SomeFolder() {
        std::vector<std::string> dirs{""};
        for (auto& path : Paths(true, false))
            if (Depth(path) < 2) dirs.push_back(path);
        return AnyOf(dirs);
    }

    // A name from a small pool, so that names meet again: upper case, as the drive stores it.
    std::string SomeName(bool directory) {
        static const char* shortBases[] = {"A", "B", "CASE1", "REN1", "DATA", "X7"};
        static const char* shortExtensions[] = {"", ".TXT", ".BIN"};
        // Long names keep their case: one spelling each, so that names never clash by case.
        static const char* longBases[] = {
            "a", "B", "Letter to Anna", "Ren 1 long", "Caf\xC3\xA9 Data", "x7.v2"};
        static const char* longExtensions[] = {"", ".txt", ".Bin"};
        const char* const* bases = settings.family.longNames ? longBases : shortBases;
        const char* const* extensions =
            settings.family.longNames ? longExtensions : shortExtensions;
        std::string name = bases[Below(6)];
        if (!directory || Chance(4)) name += extensions[Below(3)];
        return name;
    }

    std::string NewPath(bool directory) { return Join(SomeFolder(), SomeName(directory)); }

    bool Exists(const std::string& path) const { return path.empty() || model.count(path) != 0; }
    bool IsFolder(const std::string& path) const {
        if (path.empty()) return true;
        auto it = model.find(path);
        return it != model.end() && it->second.directory;
    }
    bool HasChildren(const std::string& dir) const {
        for (auto& [path, node] : model)
            if (Inside(path, dir)) return true;
        return false;
    }

    void Diverge(const std::string& what) {
        std::string line = "seed " + std::to_string(settings.seed) + " op " +
                           std::to_string(index) + " (" + current + "): " + what;
        fprintf(stderr, "model run: %s\n", line.c_str());
        report.divergences.push_back(line);
    }

    void ArmFault() {
        if (settings.faultEvery == 0 || !faults.arm || !Chance(settings.faultEvery)) return;
        handheld::FaultRule rule;
        uint32_t kind = Below(100);
        if (kind < 35) {
            rule.kind = handheld::FaultKind::NoReply;  // carried out, reply lost
        } else if (kind < 50) {
            rule.kind = handheld::FaultKind::LateReply;
            rule.delay = settings.lateDelay;
        } else if (kind < 75) {
            rule.kind = handheld::FaultKind::TruncatedReply;
            rule.keepBytes = Below(12);
        } else {
            rule.kind = handheld::FaultKind::GarbageReply;
        }
        rule.nth = 1 + Below(4);
        rule.server = "SYS$RFSV";
        faults.arm(rule);
        armed = rule.ToString();
    }

    // One operation: what it is, what the model says it does, what the file system says, and
    // the checks.
    struct Plan {
        Op op;
        std::string path, other;  // other: rename target
        std::string data;
        size_t offset = 0, length = 0;
        bool throughOpen = false;
        bool expectSuccess = true;
        Tree after;  // the drive after a success
    };

    void Step() {
        Plan plan = Choose();
        armed.clear();
        current = std::string(OpName(plan.op)) + " " + plan.path +
                  (plan.other.empty() ? "" : " -> " + plan.other);
        uint32_t before = faults.strikes ? faults.strikes() : 0;
        ArmFault();
        if (!armed.empty()) current += " [" + armed + "]";

        dog->Start(current);
        std::string readData;
        bool statDir = false;
        uint64_t statSize = 0;
        std::vector<std::string> listed;
        size_t written = 0;
        int status = Perform(plan, &readData, &statDir, &statSize, &listed, &written);
        dog->Stop();

        if (faults.clear) faults.clear();
        bool struck = faults.strikes && faults.strikes() != before;
        report.operations++;
        if (struck) report.faultsStruck++;
        bool ok = status >= 0;
        if (!struck && !ok && plan.expectSuccess && target.IsLinkError(status)) {
            report.unprovokedFailures++;
            struck = true;  // a reply that came too late on a busy machine is a fault too
        }
        if (struck && !ok) report.failedUnderFault++;

        target.Settle();
        Tree drive = ReadDrive(settings.hostFolder);

        if (ok && !plan.expectSuccess) {
            Diverge("reported success where it must fail (status " + std::to_string(status) + ")");
        } else if (!ok && plan.expectSuccess && !struck) {
            Diverge("failed with status " + std::to_string(status) + " and no fault");
        }

        if (ok && plan.expectSuccess) {
            CheckAnswer(plan, readData, statDir, statSize, listed);
            std::string difference = FirstDifference(plan.after, drive);
            if (!difference.empty())
                Diverge(std::string(struck ? "reported success under a fault, " : "") +
                        "drive differs: " + difference);
        } else if (!plan.expectSuccess) {
            std::string difference = FirstDifference(model, drive);
            if (!difference.empty()) Diverge("refused, yet the drive changed: " + difference);
        } else {
            CheckPlausible(plan, drive, written);
        }
        model = drive;
        if (struck) CheckViewAfterFault(plan);
    }

    Plan Choose() {
        static const std::pair<Op, int> weights[] = {
            {Op::Create, 14}, {Op::Write, 12}, {Op::Append, 8}, {Op::Truncate, 5},
            {Op::SetSize, 2}, {Op::Read, 14},  {Op::Stat, 10},  {Op::List, 8},
            {Op::Rename, 9},  {Op::Mkdir, 6},  {Op::Rmdir, 5},  {Op::Unlink, 8}};
        int total = 0;
        for (auto& w : weights) total += w.second;
        int pick = static_cast<int>(Below(total));
        Op op = Op::Create;
        for (auto& w : weights) {
            if (pick < w.second) {
                op = w.first;
                break;
            }
            pick -= w.second;
        }
        std::vector<std::string> files = Paths(false, true);
        bool needsFile = op == Op::Write || op == Op::Append || op == Op::Truncate ||
                         op == Op::SetSize || op == Op::Read;
        if (needsFile && files.empty()) op = Op::Create;
        if (op == Op::Create && files.size() > 40) op = Op::Unlink;  // keep the drive small

        Plan plan;
        plan.op = op;
        plan.after = model;
        switch (op) {
            case Op::Create: {
                plan.path = NewPath(false);
                plan.data = RandomBytes(Below(4) == 0 ? 0 : Below(1500));
                plan.expectSuccess = !Exists(plan.path);
                plan.after[plan.path] = Node{false, plan.data};
                break;
            }
            case Op::Write:
            case Op::Append: {
                plan.path = AnyOf(files);
                std::string old = model[plan.path].data;
                plan.data = RandomBytes(1 + Below(1200));
                plan.offset = op == Op::Append ? old.size() : Below(old.size() + 1);
                std::string next = old.substr(0, plan.offset) + plan.data;
                if (plan.offset + plan.data.size() < old.size())
                    next += old.substr(plan.offset + plan.data.size());
                plan.after[plan.path].data = next;
                break;
            }
            case Op::Truncate:
                plan.path = AnyOf(files);
                plan.throughOpen = Chance(2);
                plan.after[plan.path].data.clear();
                break;
            case Op::SetSize:
                plan.path = AnyOf(files);
                plan.length = 1 + Below(3000);
                if (plan.length == model[plan.path].data.size()) plan.length++;
                plan.expectSuccess = settings.family.anySize;
                plan.after[plan.path].data.resize(plan.length, '\0');
                break;
            case Op::Read: {
                plan.path = AnyOf(files);
                size_t size = model[plan.path].data.size();
                plan.offset = Chance(3) ? 0 : Below(size + 10);
                plan.length = Chance(3) ? size + 100 : 1 + Below(1500);
                break;
            }
            case Op::Stat:
                plan.path = Chance(3)
                                ? NewPath(Chance(2))
                                : AnyOf(Paths(true, true).empty() ? std::vector<std::string>{"A"}
                                                                  : Paths(true, true));
                plan.expectSuccess = Exists(plan.path);
                break;
            case Op::List:
                plan.path = SomeFolder();
                break;
            case Op::Rename:
                ChooseRename(plan);
                break;
            case Op::Mkdir:
                plan.path = NewPath(true);
                plan.expectSuccess = !Exists(plan.path);
                plan.after[plan.path] = Node{true, {}};
                break;
            case Op::Rmdir: {
                std::vector<std::string> dirs = Paths(true, false);
                plan.path = !dirs.empty() && !Chance(6) ? AnyOf(dirs) : NewPath(Chance(2));
                plan.expectSuccess =
                    IsFolder(plan.path) && Exists(plan.path) && !HasChildren(plan.path);
                plan.after.erase(plan.path);
                break;
            }
            case Op::Unlink: {
                std::vector<std::string> any = Paths(true, true);
                plan.path = !files.empty() && !Chance(8)
                                ? AnyOf(files)
                                : (any.empty() ? NewPath(false) : AnyOf(any));
                plan.expectSuccess = Exists(plan.path) && !IsFolder(plan.path);
                plan.after.erase(plan.path);
                break;
            }
        }
        if (!plan.expectSuccess) plan.after = model;
        return plan;
    }

    void ChooseRename(Plan& plan) {
        std::vector<std::string> any = Paths(true, true);
        if (any.empty()) {
            plan.op = Op::Stat;
            plan.path = NewPath(false);
            plan.expectSuccess = false;
            return;
        }
        plan.path = AnyOf(any);
        bool directory = IsFolder(plan.path);
        bool found = false;
        for (int attempt = 0; attempt < 10 && !found; attempt++) {
            plan.other = NewPath(directory);
            if (plan.other == plan.path) continue;
            if (directory && Inside(plan.other, plan.path)) {
                plan.expectSuccess = false;  // into itself: must fail
                return;
            }
            // A new name, or a file that replaces a file.
            found = !Exists(plan.other) || (!directory && !IsFolder(plan.other));
        }
        if (!found) {
            plan.op = Op::Stat;
            plan.other.clear();
            return;
        }
        if (Exists(plan.other) && !settings.renameReplaces) {
            plan.expectSuccess = false;
            return;
        }
        Tree after;
        for (auto& [path, node] : model) {
            if (path == plan.other) continue;
            if (path == plan.path)
                after[plan.other] = node;
            else if (Inside(path, plan.path))
                after[plan.other + path.substr(plan.path.size())] = node;
            else
                after[path] = node;
        }
        plan.after = after;
    }

    // A name to be made: the folder in any case; the new name as spelt where names keep case.
    std::string SpellNew(const std::string& path) {
        if (!settings.family.longNames) return Spell(path);
        size_t slash = path.rfind('/');
        return slash == std::string::npos ? path
                                          : Spell(path.substr(0, slash)) + path.substr(slash);
    }

    int Perform(const Plan& plan, std::string* readData, bool* statDir, uint64_t* statSize,
                std::vector<std::string>* listed, size_t* written) {
        std::string path = Spell(plan.path);
        switch (plan.op) {
            case Op::Create:
                return target.CreateExclusive(SpellNew(plan.path), plan.data, written);
            case Op::Write:
                return target.WriteAt(path, plan.offset, plan.data, false, written);
            case Op::Append:
                return target.WriteAt(path, 0, plan.data, true, written);
            case Op::Truncate:
                return target.TruncateToZero(path, plan.throughOpen);
            case Op::SetSize:
                return target.SetSize(path, plan.length);
            case Op::Read:
                return target.Read(path, plan.offset, plan.length, readData);
            case Op::Stat:
                return target.Stat(path, statDir, statSize);
            case Op::List:
                return target.List(path, listed);
            case Op::Rename:
                return target.Rename(path, SpellNew(plan.other));
            case Op::Mkdir:
                return target.Mkdir(SpellNew(plan.path));
            case Op::Rmdir:
                return target.Rmdir(path);
            case Op::Unlink:
                return target.Unlink(path);
        }
        return -1;
    }

    std::vector<std::string> Children(const Tree& tree, const std::string& dir) {
        std::vector<std::string> names;
        for (auto& [path, node] : tree)
            if (Parent(path) == dir) names.push_back(path.substr(dir.empty() ? 0 : dir.size() + 1));
        return names;
    }

    // What a read, stat or listing answered against the model (the drive did not change).
    void CheckAnswer(const Plan& plan, const std::string& readData, bool statDir, uint64_t statSize,
                     std::vector<std::string> listed) {
        if (plan.op == Op::Read) {
            const std::string& data = model[plan.path].data;
            std::string want =
                plan.offset < data.size() ? data.substr(plan.offset, plan.length) : "";
            if (readData != want) {
                size_t at = 0;
                while (at < want.size() && at < readData.size() && want[at] == readData[at]) at++;
                Diverge("read " + std::to_string(readData.size()) + " bytes at " +
                        std::to_string(plan.offset) + ", expected " + std::to_string(want.size()) +
                        "; first difference at " + std::to_string(at));
            }
        } else if (plan.op == Op::Stat) {
            const Node& node = model[plan.path];
            if (statDir != node.directory || (!statDir && statSize != node.data.size()))
                Diverge(
                    std::string("stat says ") +
                    (statDir ? "a folder" : "a file of " + std::to_string(statSize) + " bytes") +
                    ", drive holds " + Describe(model, plan.path));
        } else if (plan.op == Op::List) {
            std::vector<std::string> want = Children(model, plan.path);
            std::sort(listed.begin(), listed.end());
            if (listed != want) {
                std::string text;
                for (auto& name : listed) text += " " + name;
                std::string expected;
                for (auto& name : want) expected += " " + name;
                Diverge("listing [" + text + " ] instead of [" + expected + " ]");
            }
        }
    }

    // A failed change left the drive in its old or its new state; a failed write left old or
    // new bytes only, with every byte reported written in place.
    void CheckPlausible(const Plan& plan, const Tree& drive, size_t written) {
        bool write = plan.op == Op::Create || plan.op == Op::Write || plan.op == Op::Append;
        if (!write) {
            if (FirstDifference(model, drive).empty() || FirstDifference(plan.after, drive).empty())
                return;
            Diverge("failed, and the drive is neither as before nor as after: " +
                    FirstDifference(plan.after, drive));
            return;
        }
        // Everything but the written file as before.
        Tree others = drive;
        others.erase(plan.path);
        Tree modelOthers = model;
        modelOthers.erase(plan.path);
        std::string difference = FirstDifference(modelOthers, others);
        if (!difference.empty()) {
            Diverge("failed write changed another entry: " + difference);
            return;
        }
        auto it = drive.find(plan.path);
        if (it == drive.end()) {
            if (plan.op != Op::Create) Diverge("failed write removed the file");
            return;
        }
        if (it->second.directory) {
            Diverge("failed write left a folder");
            return;
        }
        const std::string& got = it->second.data;
        std::string old = plan.op == Op::Create ? "" : model[plan.path].data;
        if (plan.op == Op::Create && model.count(plan.path) != 0) old = model[plan.path].data;
        size_t end = plan.offset + plan.data.size();
        if (got.size() < old.size() || got.size() > std::max(old.size(), end)) {
            Diverge("failed write left " + std::to_string(got.size()) + " bytes, old " +
                    std::to_string(old.size()) + ", new end " + std::to_string(end));
            return;
        }
        for (size_t i = 0; i < got.size(); i++) {
            bool inRange = i >= plan.offset && i < end;
            bool isOld = i < old.size() && got[i] == old[i];
            bool isNew = inRange && got[i] == plan.data[i - plan.offset];
            bool reported = inRange && i - plan.offset < written;
            if ((reported && !isNew) || (!isOld && !isNew)) {
                Diverge("failed write left a wrong byte at " + std::to_string(i) + " (" +
                        std::to_string(written) + " bytes reported written at " +
                        std::to_string(plan.offset) + ")");
                return;
            }
        }
    }

    // After a fault, with the faults off: the file system shows what the drive holds for every
    // name the operation touched, at once.
    void CheckViewAfterFault(const Plan& plan) {
        std::vector<std::string> paths{plan.path};
        if (!plan.other.empty()) paths.push_back(plan.other);
        for (const std::string& path : paths) {
            if (path.empty()) continue;  // the root: its listing is checked below
            bool dir = false;
            uint64_t size = 0;
            int status = target.Stat(Spell(path), &dir, &size);
            bool exists = Exists(path);
            if ((status >= 0) != exists) {
                Diverge("after the fault, stat " + path + " gives " + std::to_string(status) +
                        " while the drive holds " + Describe(model, path));
                continue;
            }
            if (!exists) continue;
            const Node& node = model[path];
            if (dir != node.directory || (!dir && size != node.data.size())) {
                Diverge("after the fault, stat " + path + " says " +
                        (dir ? std::string("a folder") : "a file of " + std::to_string(size)) +
                        ", drive holds " + Describe(model, path));
                continue;
            }
            if (!dir) {
                std::string data;
                status = target.Read(Spell(path), 0, node.data.size() + 100, &data);
                if (status < 0 || data != node.data)
                    Diverge("after the fault, " + path + " reads " + std::to_string(data.size()) +
                            " bytes (status " + std::to_string(status) + ") unlike the drive's " +
                            std::to_string(node.data.size()));
            }
        }
        std::vector<std::string> dirs{Parent(plan.path)};
        if (!plan.other.empty()) dirs.push_back(Parent(plan.other));
        for (const std::string& dir : dirs) {
            if (!IsFolder(dir)) continue;
            std::vector<std::string> listed;
            int status = target.List(Spell(dir), &listed);
            std::sort(listed.begin(), listed.end());
            if (status < 0 || listed != Children(model, dir))
                Diverge("after the fault, the listing of '" + dir + "' (status " +
                        std::to_string(status) + ", " + std::to_string(listed.size()) +
                        " names) differs from the drive's " +
                        std::to_string(Children(model, dir).size()));
        }
    }

    // Faults off: every entry of the drive shows and reads as the drive holds it, and the
    // drive still takes a new file.
    void FinalCheck() {
        current = "final check";
        index = settings.operations;
        dog->Start(current);
        target.Settle();
        model = ReadDrive(settings.hostFolder);
        for (auto& [path, node] : model) {
            bool dir = false;
            uint64_t size = 0;
            if (target.Stat(Spell(path), &dir, &size) < 0 || dir != node.directory) {
                Diverge("at the end, " + path + " does not show as the drive holds it");
                continue;
            }
            if (!dir) {
                std::string data;
                if (target.Read(path, 0, node.data.size() + 100, &data) < 0 || data != node.data)
                    Diverge("at the end, " + path + " does not read as the drive holds it");
            }
        }
        std::vector<std::string> dirs{""};
        for (auto& path : Paths(true, false)) dirs.push_back(path);
        for (auto& dir : dirs) {
            std::vector<std::string> listed;
            int status = target.List(dir, &listed);
            std::sort(listed.begin(), listed.end());
            if (status < 0 || listed != Children(model, dir))
                Diverge("at the end, the listing of '" + dir + "' differs from the drive");
        }
        std::string name = "FINAL.CHK";
        if (!Exists(name)) {
            std::string data = RandomBytes(2000);
            size_t written = 0;
            std::string back;
            if (target.CreateExclusive(name, data, &written) < 0 ||
                target.Read(name, 0, 4000, &back) < 0 || back != data || target.Unlink(name) < 0)
                Diverge("at the end, a new file could not be written, read and removed");
        }
        dog->Stop();
    }

    Target& target;
    const Faults& faults;
    const Settings& settings;
    std::mt19937 random;
    Tree model;
    Report report;
    Watchdog* dog = nullptr;
    uint32_t index = 0;
    std::string current;
    std::string armed;
};

}  // namespace

int ReadRange(const ReadCall& read, size_t offset, size_t length, std::string* out) {
    std::string buffer(length, '\0');
    size_t got = 0;
    int status = 0;
    while (got < length) {
        int64_t n = read(offset + got, buffer.data() + got, length - got);
        if (n < 0) status = static_cast<int>(n);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    out->assign(buffer.data(), got);
    return status;
}

int WriteRange(const WriteCall& write, size_t offset, const std::string& data, size_t* written,
               int stalled) {
    size_t done = 0;
    int status = 0;
    while (done < data.size()) {
        int64_t n = write(offset + done, data.data() + done, data.size() - done);
        if (n <= 0) {
            status = n < 0 ? static_cast<int>(n) : stalled;
            break;
        }
        done += static_cast<size_t>(n);
    }
    *written = done;
    return status;
}

Report Run(Target& target, const Faults& faults, const Settings& settings) {
    Runner runner(target, faults, settings);
    return runner.Go();
}

}  // namespace model
