#include "fakes.h"

#include <string.h>

#include "hooks.h"
#include "install.h"
#include "log.h"
#include "upgrade.h"
#include "winmain.h"
#include "winfiles.h"

FakeControl g_Fake;

void ResetFakes(void)
{
    g_Fake = FakeControl();
    g_Fake.startup = g_Fake.precheck = g_Fake.silentAllowed = TRUE;
    g_Fake.beforeInstall = g_Fake.hasUpgrades = g_Fake.wantsRegistry = TRUE;
    g_Fake.createImages = g_Fake.decideUpgrades = g_Fake.installImages = g_Fake.runRegistry = TRUE;
    g_Fake.failureId = MSG_INTERNAL_ERROR;
    g_Fake.installMarksStarted = TRUE;
}

void Record(const std::string& call)
{
    if (!g_Fake.calls.empty())
        g_Fake.calls += ",";
    g_Fake.calls += call;
}

BOOL Pass(const char* name, BOOL result)
{
    Record(name);
    if (!result && g_Fake.failureId)
        STATUS(g_Fake.failureId, 0);
    return result;
}

static UpgradeContext s_Context;

BOOL ProductStartup(void) { Record("Startup"); return g_Fake.startup; }

BOOL ProductPrecheck(void)
{
    Record("Precheck");
    if (g_Fake.precheckProgressId)
        STATUS(g_Fake.precheckProgressId, 0);
    if (g_Fake.crashInPrecheck) {
        LOG("about to fault");
        *(volatile int*)0 = 1;
    }
    return g_Fake.precheck;
}

const char* ProductTargetDir(void) { return ""; }
void ProductInteractive(void) { Record("Interactive"); }
BOOL ProductSilentAllowed(void) { Record("SilentAllowed"); return g_Fake.silentAllowed; }
UpgradeContext* ProductUpgradeContext(void) { Record("Context"); return &s_Context; }
BOOL ProductFinish(void) { Record("Finish"); return TRUE; }
BOOL ProductBeforeInstall(void) { Record("Before"); return g_Fake.beforeInstall; }
BOOL ProductHasUpgrades(UpgradeContext*) { Record("HasUpgrades"); return g_Fake.hasUpgrades; }
BOOL ProductWantsRegistry(UpgradeContext*) { Record("WantsRegistry"); return g_Fake.wantsRegistry; }
void ProductAfterInstall(UpgradeContext*) { Record("After"); }
LONG RegisterUninstaller(void) { Record("RegisterUninstaller"); return 0; }

BOOL CreateImages(UpgradeContext*) { return Pass("Create", g_Fake.createImages); }

BOOL DecideUpgrades(UpgradeContext*, BOOL force)
{
    return Pass(force ? "Decide(1)" : "Decide(0)", g_Fake.decideUpgrades);
}

BOOL InstallImages(UpgradeContext* context)
{
    context->installStarted = 0;
    if (g_Fake.installMarksStarted)
        context->installStarted = 1;
    if (g_Fake.installProgressId)
        STATUS(g_Fake.installProgressId, 0);
    return Pass("Install", g_Fake.installImages);
}

BOOL CleanupImages(UpgradeContext*, BOOL full)
{
    Record(full ? "Cleanup(1)" : "Cleanup(0)");
    return TRUE;
}

void ResetInstaller(void)
{
    ResetRunState();
    memset(&s_Context, 0, sizeof s_Context);
}

TempDir::TempDir()
{
    static int counter;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[64];
    wsprintfA(name, "insttest%lu_%d\\", GetCurrentProcessId(), ++counter);
    path_ = std::string(temp) + name;
    CreateDirectoryA(path_.c_str(), NULL);
}

TempDir::~TempDir()
{
    RemoveTree(path_);
}

std::string ReadFileText(const std::string& path)
{
    return ReadWhole(path);
}

void WriteFileText(const std::string& path, const std::string& text)
{
    WriteWhole(path, text);
}

BOOL PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
