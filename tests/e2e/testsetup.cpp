// A test build of the installer: the real driver and upgrade engine with
// product hooks of its own and test file tables, run as a self-extracting
// installer (the payload is appended with "arq sfx"). The environment of a
// run chooses what it does:
//   E2E_CONTEXT   the file table: "main" (files moved at once), "restart"
//                 (files that wait for the restart), "registry" (a file and
//                 a registry script), or "archive" (one entry per file of
//                 the appended archive, for the benchmark)
//   E2E_TARGET    the target directory (directory id 2)
//   E2E_FAIL      "1": the install sequence fails after the files were
//                 placed (status 2050), so the engine rolls back
//   E2E_MEMORY    a file that receives the process's memory figures at exit
// A visual run shows no window: its interactive hook runs the install
// sequence at once, as the wizard's Install button would.
#include <windows.h>
#include <psapi.h>
#include <stdlib.h>
#include <string.h>

#include "cx.h"
#include "hooks.h"
#include "install.h"
#include "log.h"
#include "text.h"
#include "upgrade.h"
#include "winmain.h"

enum {
    ALL = IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP,
    EN = LANG_MASK_ENGLISH,
    DE = LANG_MASK_GERMAN
};

// Files put in place at once; every rule of the upgrade decision has an
// entry of its own. An entry that only deletes needs an existing file, or
// it would be chosen (and take its group with it) whenever the file is gone.
static ImageFile s_Main[] = {
    {"core.dll", "core.dll", "", "core", DIR_TARGET, ALL, 1},
    {"helper.dll", "helper.dll", "", "helper", DIR_TARGET, ALL, 1},
    {"data", "data", "", "", DIR_TARGET, IMG_DIRECTORY | ALL, 1},
    {"old.txt", "old.txt", "", "old", DIR_TARGET, IMG_NO_IMAGE | IMG_NEED_EXISTING | IMG_DELETE_EXISTING | ALL, 1},
    {"notes.txt", "notes.txt", "", "notes", DIR_TARGET, ALL, 2},
    {"opt.dll", "opt.dll", "", "opt", DIR_TARGET, IMG_NEED_EXISTING | ALL, 3},
    {"en.txt", "en.txt", "", "en", DIR_TARGET, ALL | EN, 4},
    {"de.txt", "de.txt", "", "de", DIR_TARGET, ALL | DE, 5},
    {"ga.dll", "ga.dll", "", "ga", DIR_TARGET, IMG_GROUP_CHECK | ALL, 6},
    {"gb.dll", "gb.dll", "", "gb", DIR_TARGET, IMG_GROUP_CHECK | ALL, 6},
    {"on95.txt", "on95.txt", "", "on95", DIR_TARGET, IMG_ON_95, 7},
    {"onnt.txt", "onnt.txt", "", "onnt", DIR_TARGET, IMG_ON_NT, 8},
    {"on2kxp.txt", "on2kxp.txt", "", "on2kxp", DIR_TARGET, IMG_ON_2KXP, 9},
};

// Files that take effect at the next restart: a replacement and a deletion
// that wait for it, and one moved at once all the same.
static ImageFile s_Restart[] = {
    {"drv.sys", "drv.sys", "", "drv", DIR_TARGET, IMG_AT_RESTART | ALL, 1},
    {"stale.sys", "stale.sys", "", "stale", DIR_TARGET,
     IMG_NO_IMAGE | IMG_NEED_EXISTING | IMG_DELETE_EXISTING | IMG_AT_RESTART | ALL, 1},
    {"now.sys", "now.sys", "", "now", DIR_TARGET, IMG_AT_RESTART | IMG_MOVE_NOW | ALL, 2},
};

// A file and the registry script that comes with it.
static ImageFile s_Registry[] = {
    {"reg.inf", "reg.inf", "", "reg", DIR_TEMP, IMG_REGISTRY_SCRIPT | ALL, 0},
    {"core.dll", "core.dll", "", "core", DIR_TARGET, ALL, 1},
};

struct NamedTable {
    const char* name;
    ImageFile* images;
    DWORD count;
};
static const NamedTable kTables[] = {
    {"main", s_Main, sizeof s_Main / sizeof s_Main[0]},
    {"restart", s_Restart, sizeof s_Restart / sizeof s_Restart[0]},
    {"registry", s_Registry, sizeof s_Registry / sizeof s_Registry[0]},
};

static UpgradeContext s_Context;
static BOOL s_ContextBuilt;
static char s_ArchivePath[MAX_PATH];
static char s_Target[MAX_PATH];

// The highest private bytes seen at any progress call.
static SIZE_T s_SampledPeak;

static BOOL ReadSetting(const char* name, char* value, DWORD size)
{
    DWORD length = GetEnvironmentVariableA(name, value, size);
    if (length == 0 || length >= size) {
        value[0] = 0;
        return FALSE;
    }
    return TRUE;
}

static SIZE_T PrivateBytes(SIZE_T* peak)
{
    PROCESS_MEMORY_COUNTERS_EX counters;
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&counters, sizeof counters))
        return 0;
    if (peak)
        *peak = counters.PeakPagefileUsage;
    return counters.PrivateUsage;
}

static BOOL SampleMemory(ProgressRecord*)
{
    SIZE_T now = PrivateBytes(NULL);
    if (now > s_SampledPeak)
        s_SampledPeak = now;
    return TRUE;
}

// "peak=N sampled=N now=N" into the file E2E_MEMORY names, at process exit.
static void WriteMemoryFigures(void)
{
    char path[MAX_PATH];
    if (!ReadSetting("E2E_MEMORY", path, sizeof path))
        return;
    SIZE_T peak = 0;
    SIZE_T now = PrivateBytes(&peak);
    char line[128];
    wsprintfA(line, "peak=%lu sampled=%lu now=%lu\r\n", (DWORD)peak, (DWORD)s_SampledPeak, (DWORD)now);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, lstrlenA(line), &written, NULL);
    CloseHandle(file);
}

// One table entry per file of the appended archive, each its own group, all
// put in the target directory at once.
static BOOL TableFromArchive(UpgradeContext* context)
{
    int16_t slot = cxOpenFile(s_ArchivePath, CX_READ);
    if (slot < 0)
        return FALSE;
    DWORD count = 0, room = 0;
    ImageFile* images = NULL;
    EntryInfo entry;
    memset(&entry, 0, sizeof entry);
    entry.source = slot;
    entry.destination = -1;
    for (int16_t result = cxFirstEntry(&entry); result == CX_OK; result = cxNextEntry(&entry)) {
        if (count == room) {
            room = room ? room * 2 : 64;
            ImageFile* grown = (ImageFile*)realloc(images, room * sizeof(ImageFile));
            if (!grown)
                break;
            images = grown;
        }
        ImageFile* image = &images[count];
        memset(image, 0, sizeof *image);
        char* name = (char*)malloc(strlen(entry.name) + 1);
        if (!name)
            break;
        strcpy(name, entry.name);
        image->archiveName = image->targetName = name;
        GetBaseName(name, image->backupName, sizeof image->backupName);
        image->dirId = DIR_TARGET;
        image->flags = ALL;
        image->group = count;
        ++count;
    }
    cxCloseFile(slot);
    context->images = images;
    context->count = count;
    return images != NULL;
}

BOOL ProductStartup(void) { return TRUE; }
BOOL ProductPrecheck(void) { return TRUE; }
BOOL ProductSilentAllowed(void) { return TRUE; }
BOOL ProductFinish(void) { return TRUE; }
BOOL ProductBeforeInstall(void) { return TRUE; }

const char* ProductTargetDir(void)
{
    if (!s_Target[0] && ReadSetting("E2E_TARGET", s_Target, sizeof s_Target))
        CreateDirectoryA(s_Target, NULL);
    return s_Target;
}

UpgradeContext* ProductUpgradeContext(void)
{
    if (s_ContextBuilt)
        return &s_Context;
    s_ContextBuilt = TRUE;
    atexit(WriteMemoryFigures);
    DWORD length = GetModuleFileNameA(NULL, s_ArchivePath, MAX_PATH - 1);
    s_ArchivePath[length < MAX_PATH ? length : 0] = 0;
    s_Context.archivePath = s_ArchivePath;
    s_Context.progress = SampleMemory;

    char name[32];
    ReadSetting("E2E_CONTEXT", name, sizeof name);
    LOG("Test context %s", name);
    if (strcmp(name, "archive") == 0) {
        if (!TableFromArchive(&s_Context))
            STATUS(MSG_OUT_OF_MEMORY, 0);
    }
    for (const NamedTable& table : kTables) {
        if (strcmp(name, table.name) == 0) {
            s_Context.images = table.images;
            s_Context.count = table.count;
        }
    }
    s_Context.states = (ImageState*)calloc(s_Context.count ? s_Context.count : 1, sizeof(ImageState));
    if (!s_Context.states) {
        s_Context.count = 0;
        STATUS(MSG_OUT_OF_MEMORY, 0);
    }
    return &s_Context;
}

void ProductInteractive(void)
{
    RunInstallSequence(ProductUpgradeContext());
}

BOOL ProductHasUpgrades(UpgradeContext* context)
{
    for (DWORD i = 0; i < context->count; ++i)
        if (context->states[i].upgrade)
            return TRUE;
    return FALSE;
}

// The registry step runs when the table has a script to interpret.
BOOL ProductWantsRegistry(UpgradeContext* context)
{
    for (DWORD i = 0; i < context->count; ++i)
        if (context->images[i].flags & IMG_REGISTRY_SCRIPT)
            return TRUE;
    return FALSE;
}

void ProductAfterInstall(UpgradeContext*)
{
    char fail[4];
    if (ReadSetting("E2E_FAIL", fail, sizeof fail) && strcmp(fail, "1") == 0) {
        LOG("Failing after the install as asked");
        STATUS(MSG_INTERNAL_ERROR, 0x1234);
    }
}

LONG RegisterUninstaller(void)
{
    LOG("hook RegisterUninstaller");
    return ERROR_SUCCESS;
}
