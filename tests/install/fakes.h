// Test versions of the product hooks and the engine passes (the registry
// step's is in fake_registry.cpp), driven by one record, and helpers that
// reset the installer's process-wide state.
#ifndef TESTS_INSTALL_FAKES_H
#define TESTS_INSTALL_FAKES_H

#include <windows.h>

#include <string>

struct UpgradeContext;

struct FakeControl {
    // Results of the hooks and passes.
    BOOL startup, precheck, silentAllowed, beforeInstall, hasUpgrades, wantsRegistry;
    BOOL createImages, decideUpgrades, installImages, runRegistry;
    // A failing pass also sets this failure (0: none).
    DWORD failureId;
    // InstallImages sets this progress id (0: none) and marks the install started.
    DWORD installProgressId;
    BOOL installMarksStarted;
    // ProductPrecheck sets this progress id before it runs (0: none), then
    // writes through a null pointer when crashInPrecheck is set.
    DWORD precheckProgressId;
    BOOL crashInPrecheck;
    // Every call in order, comma-separated, e.g. "Create,Decide(0),Cleanup(1)".
    std::string calls;
};
extern FakeControl g_Fake;

// Every hook and pass succeeds and records its call.
void ResetFakes(void);

// Adds a call to g_Fake.calls.
void Record(const std::string& call);
// Records a pass's call and returns result; a failing pass also sets
// g_Fake.failureId.
BOOL Pass(const char* name, BOOL result);

// Closes the log and clears status, trace, options, system facts,
// directories, the environment marks and the engine state.
void ResetInstaller(void);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    // The directory with one trailing backslash.
    const std::string& path() const { return path_; }
    std::string file(const char* name) const { return path_ + name; }

private:
    std::string path_;
};

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
BOOL PathExists(const std::string& path);

#endif
