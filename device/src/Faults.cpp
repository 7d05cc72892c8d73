#include "device/Faults.h"

#include <cstdlib>

#include "NameRules.h"
#include "platform/NameTable.h"

namespace handheld {

namespace {

bool ParseNumber(const std::string& text, uint64& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (*end != 0) return false;
    value = parsed;
    return true;
}

constexpr NamedValue<FaultKind> kFaultKinds[] = {
    {FaultKind::NoReply, "drop"},
    {FaultKind::LateReply, "late"},
    {FaultKind::TruncatedReply, "truncate"},
    {FaultKind::GarbageReply, "garbage"},
    {FaultKind::LinkCut, "cut"},
};

const char* KindName(FaultKind kind) { return NameOf(kFaultKinds, kind); }

}  // namespace

std::optional<FaultRule> FaultRule::Parse(const std::string& input) {
    FaultRule rule;
    std::string text = input;
    size_t at = text.find('@');
    if (at != std::string::npos) {
        rule.server = text.substr(at + 1);
        text.resize(at);
        if (rule.server.empty()) return std::nullopt;
    }
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    std::optional<FaultKind> kind = ValueNamed(kFaultKinds, fields[0]);
    if (!kind) return std::nullopt;
    rule.kind = *kind;

    size_t maxFields =
        (rule.kind == FaultKind::LateReply || rule.kind == FaultKind::TruncatedReply) ? 3 : 2;
    if (fields.size() < 2 || fields.size() > maxFields) return std::nullopt;
    {
        std::string nth = fields[1];
        size_t x = nth.find('x');
        uint64 value;
        if (x != std::string::npos) {
            if (!ParseNumber(nth.substr(x + 1), value) || value == 0 || value > UINT32_MAX)
                return std::nullopt;
            rule.count = static_cast<uint32>(value);
            nth.resize(x);
        }
        if (!ParseNumber(nth, value) || value == 0 || value > UINT32_MAX) return std::nullopt;
        rule.nth = static_cast<uint32>(value);
    }
    if (fields.size() == 3) {
        uint64 value;
        if (!ParseNumber(fields[2], value)) return std::nullopt;
        if (rule.kind == FaultKind::LateReply) {
            if (value > 3600 * 1000) return std::nullopt;
            rule.delay = static_cast<bigtime_t>(value) * 1000;
        } else {
            rule.keepBytes = static_cast<size_t>(value);
        }
    }
    return rule;
}

std::string FaultRule::ToString() const {
    std::string text = std::string(KindName(kind)) + ":" + std::to_string(nth);
    if (count != 1) text += "x" + std::to_string(count);
    if (kind == FaultKind::LateReply) text += ":" + std::to_string(delay / 1000);
    if (kind == FaultKind::TruncatedReply) text += ":" + std::to_string(keepBytes);
    if (!server.empty()) text += "@" + server;
    return text;
}

FaultInjector::FaultInjector(uint32 seed) : fRandom(seed) {}

void FaultInjector::Set(std::vector<FaultRule> faults) {
    std::lock_guard<std::mutex> guard(fLock);
    fFaults.clear();
    for (FaultRule& rule : faults) fFaults.push_back({std::move(rule), 0});
}

void FaultInjector::Add(const FaultRule& fault) {
    std::lock_guard<std::mutex> guard(fLock);
    fFaults.push_back({fault, 0});
}

void FaultInjector::Clear() {
    std::lock_guard<std::mutex> guard(fLock);
    fFaults.clear();
}

uint32 FaultInjector::Strikes() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fStrikes;
}

FaultDecision FaultInjector::Apply(const std::string& server, Bytes& reply) {
    std::lock_guard<std::mutex> guard(fLock);
    FaultDecision decision;
    for (Armed& armed : fFaults) {
        const FaultRule& rule = armed.rule;
        if (!rule.server.empty() && !NameRules::SameName(rule.server, server)) continue;
        uint32 seen = ++armed.seen;
        // Every fault counts the request; the first that is due decides.
        if (decision.action != FaultDecision::Action::Deliver || decision.name != nullptr) continue;
        if (seen < rule.nth || seen - rule.nth >= rule.count) continue;
        ++fStrikes;
        decision.name = KindName(rule.kind);
        switch (rule.kind) {
            case FaultKind::NoReply:
                decision.action = FaultDecision::Action::Drop;
                break;
            case FaultKind::LateReply:
                decision.action = FaultDecision::Action::Delay;
                decision.delay = rule.delay;
                break;
            case FaultKind::TruncatedReply:
                if (reply.size() > rule.keepBytes) reply.resize(rule.keepBytes);
                break;
            case FaultKind::GarbageReply:
                for (uint8& byte : reply) byte = static_cast<uint8>(fRandom());
                break;
            case FaultKind::LinkCut:
                decision.action = FaultDecision::Action::CutLink;
                break;
        }
    }
    return decision;
}

}  // namespace handheld
