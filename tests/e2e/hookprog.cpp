// A test build of the installer: the installation library's real entry point
// and driver with test hooks and test engine passes. Every hook and pass logs
// "hook NAME" or "pass NAME" and then does what the environment variable
// E2E_HOOKS asks of it, a list of NAME=ACTION items separated by ';':
//   0        return 0 (FALSE)
//   fault    raise an access violation (after logging the line it is at)
//   cancel   set the cancelled status (2049) and return 0
//   restart  set "files installed" (1), then "restart needed" (2)
//   fail     set an internal error (2050, qualifier 0x1234) and return 0
//   reboot   disable the shutdown privilege, call ForceReboot, and log the
//            privilege's state after it ("shutdown privilege on" or "off")
// Anything not named returns 1 (TRUE) and changes nothing. In a visual run
// ProductInteractive runs the install sequence itself, as the wizard's
// Install button does.
#include <windows.h>
#include <string.h>

#include "hooks.h"
#include "install.h"
#include "log.h"
#include "upgrade.h"
#include "winmain.h"

static char s_Actions[1024];
static BOOL s_ActionsRead;

// The action asked of name, or "" when none.
static const char* ActionOf(const char* name)
{
    if (!s_ActionsRead) {
        s_ActionsRead = TRUE;
        DWORD length = GetEnvironmentVariableA("E2E_HOOKS", s_Actions, sizeof s_Actions);
        if (length >= sizeof s_Actions)
            s_Actions[0] = 0;
    }
    static char action[64];
    size_t nameLength = strlen(name);
    for (const char* item = s_Actions; *item;) {
        const char* end = strchr(item, ';');
        size_t itemLength = end ? (size_t)(end - item) : strlen(item);
        if (itemLength > nameLength && item[nameLength] == '=' && strncmp(item, name, nameLength) == 0) {
            size_t actionLength = itemLength - nameLength - 1;
            if (actionLength >= sizeof action)
                actionLength = sizeof action - 1;
            memcpy(action, item + nameLength + 1, actionLength);
            action[actionLength] = 0;
            return action;
        }
        item += itemLength + (end ? 1 : 0);
    }
    return "";
}

static void RaiseAccessViolation(void)
{
    // The driver reports the position of the last logging call, this one.
    LOG("raising an access violation");
    *(volatile int*)0 = 0;
}

// Disables the shutdown privilege in this process's token; TRUE when it
// was enabled (the previous state lists only privileges that changed).
static BOOL DisableShutdownPrivilege(void)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return FALSE;
    TOKEN_PRIVILEGES off = {1, {{{0, 0}, 0}}}, before = {0, {{{0, 0}, 0}}};
    DWORD size = 0;
    BOOL done = LookupPrivilegeValueA(NULL, "SeShutdownPrivilege", &off.Privileges[0].Luid) &&
                AdjustTokenPrivileges(token, FALSE, &off, sizeof before, &before, &size);
    CloseHandle(token);
    return done && before.PrivilegeCount == 1 && (before.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED);
}

// Logs the call and carries out its action; the result for the caller.
static BOOL Behave(const char* kind, const char* name)
{
    LOG("%s %s", kind, name);
    const char* action = ActionOf(name);
    if (strcmp(action, "0") == 0)
        return FALSE;
    if (strcmp(action, "fault") == 0)
        RaiseAccessViolation();
    if (strcmp(action, "cancel") == 0) {
        STATUS(MSG_CANCELLED, 0);
        return FALSE;
    }
    if (strcmp(action, "restart") == 0) {
        STATUS(MSG_INSTALLED, 0);
        STATUS(MSG_REBOOT_NEEDED, 0);
    }
    if (strcmp(action, "reboot") == 0) {
        DisableShutdownPrivilege();
        ForceReboot();
        LOG("shutdown privilege %s", DisableShutdownPrivilege() ? "on" : "off");
    }
    if (strcmp(action, "fail") == 0) {
        STATUS(MSG_INTERNAL_ERROR, 0x1234);
        return FALSE;
    }
    return TRUE;
}

static ImageFile s_Images[1] = {{"test.txt", "test.txt", "", "test", DIR_TEMP, IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 0}};
static ImageState s_States[1];
static UpgradeContext s_Context = {"", 0, 1, s_Images, s_States, NULL};

BOOL ProductStartup(void) { return Behave("hook", "ProductStartup"); }
BOOL ProductPrecheck(void) { return Behave("hook", "ProductPrecheck"); }
const char* ProductTargetDir(void) { return ""; }
BOOL ProductSilentAllowed(void) { return Behave("hook", "ProductSilentAllowed"); }
UpgradeContext* ProductUpgradeContext(void) { return &s_Context; }
BOOL ProductFinish(void) { return Behave("hook", "ProductFinish"); }
BOOL ProductBeforeInstall(void) { return Behave("hook", "ProductBeforeInstall"); }
BOOL ProductHasUpgrades(UpgradeContext*) { return Behave("hook", "ProductHasUpgrades"); }
BOOL ProductWantsRegistry(UpgradeContext*) { return Behave("hook", "ProductWantsRegistry"); }
void ProductAfterInstall(UpgradeContext*) { Behave("hook", "ProductAfterInstall"); }

void ProductInteractive(void)
{
    if (Behave("hook", "ProductInteractive"))
        RunInstallSequence(ProductUpgradeContext());
}

LONG RegisterUninstaller(void)
{
    Behave("hook", "RegisterUninstaller");
    return ERROR_SUCCESS;
}

BOOL CreateImages(UpgradeContext*) { return Behave("pass", "CreateImages"); }
BOOL DecideUpgrades(UpgradeContext*, BOOL) { return Behave("pass", "DecideUpgrades"); }
BOOL RunRegistryScript(UpgradeContext*) { return Behave("pass", "RunRegistryScript"); }
// RemoveCachedVolumeInfo is the library's own: the driver's file calls it
// directly, so no test version could stand in for it.

BOOL InstallImages(UpgradeContext* context)
{
    context->installStarted = 1;
    return Behave("pass", "InstallImages");
}

BOOL CleanupImages(UpgradeContext*, BOOL full)
{
    LOG("pass CleanupImages full=%d", full ? 1 : 0);
    return TRUE;
}
