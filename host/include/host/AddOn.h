// A client add-on of the host: a shared object with the data exports InfoVersion and
// InfoLine1..3, and the functions Initialise, RunClient and (optionally) ConfigView.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/SupportDefs.h"

namespace vantrel {

class AddOn {
public:
    typedef int32 (*InitialiseFunc)();
    typedef int32 (*RunClientFunc)(int32 version);

    ~AddOn();  // unloads the shared object

    // Loads `path` and checks its exports; null (with `error` set) when it is no add-on.
    static std::unique_ptr<AddOn> Load(const std::string& path, std::string& error);

    const std::string& Path() const { return fPath; }
    const std::string& Name() const { return fName; }  // file name without ".so"
    const char* InfoVersion() const { return fInfoVersion; }
    const char* InfoLine1() const { return fInfoLines[0]; }
    const char* InfoLine2() const { return fInfoLines[1]; }
    const char* InfoLine3() const { return fInfoLines[2]; }

    int32 Initialise() const;
    int32 RunClient(int32 version) const;
    RunClientFunc RunClientFunction() const { return fRunClient; }
    // The ConfigView export, BView* (*)(BRect), or null when the add-on has none. The
    // application object calls it; the host itself has no views.
    void* ConfigViewSymbol() const { return fConfigView; }
    // Any other symbol of the add-on, or null.
    void* Symbol(const char* name) const;

private:
    AddOn() = default;
    std::string fPath;
    std::string fName;
    void* fHandle = nullptr;
    const char* fInfoVersion = "";
    const char* fInfoLines[3] = {"", "", ""};
    InitialiseFunc fInitialise = nullptr;
    RunClientFunc fRunClient = nullptr;
    void* fConfigView = nullptr;
};

// Appends the shared objects ("*.so") of a folder to `paths`, sorted by name so that add-ons
// load in a stable order. False when the folder cannot be read.
bool ListAddOnFiles(const std::string& folder, std::vector<std::string>* paths);

}  // namespace vantrel
