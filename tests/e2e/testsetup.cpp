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
//   E2E_FIGURES   a file that receives, at exit, the process's peak private
//                 bytes and the time each pass took (for the benchmark)
//   E2E_MARKER    a name: at the start of the sequence, of each pass, after
//                 the install and at exit the run creates an event named
//                 NAME-WHAT, so that a trace of its wineserver requests can
//                 be cut into steps (bench/wine_requests.sh)
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

// The highest private bytes (page-file usage) the process reported at any
// progress call or at its exit. Wine reports its "peak" as the current
// figure, so the peak is taken here from the samples as well.
static SIZE_T s_PeakPrivate;

// Read as wide text and turned into the ANSI code page: Wine's ANSI call
// cuts a value with double-byte characters short by one byte for each.
static BOOL ReadSetting(const char* name, char* value, DWORD size)
{
    WCHAR wideName[64], wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 64);
    DWORD length = GetEnvironmentVariableW(wideName, wide, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        !WideCharToMultiByte(CP_ACP, 0, wide, -1, value, (int)size, NULL, NULL)) {
        value[0] = 0;
        return FALSE;
    }
    return TRUE;
}

static SIZE_T SamplePrivateBytes(void)
{
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    SIZE_T peak = counters.PeakPagefileUsage > counters.PagefileUsage ? counters.PeakPagefileUsage
                                                                        : counters.PagefileUsage;
    if (peak > s_PeakPrivate)
        s_PeakPrivate = peak;
    return counters.PagefileUsage;
}

// A named event, created and closed: two wineserver requests that show
// where a step begins in a trace of them.
static void Mark(const char* what)
{
    char name[MAX_PATH];
    if (!ReadSetting("E2E_MARKER", name, sizeof name - 16))
        return;
    lstrcatA(name, "-");
    lstrcatA(name, what);
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, name);
    if (event)
        CloseHandle(event);
}

// When the install sequence began, and when the first progress call of
// each pass came (indexed by code - PROGRESS_EXTRACT; 0 until then).
static LARGE_INTEGER s_SequenceStart;
static LARGE_INTEGER s_PassStart[4];

// Asking for the memory figures costs Wine a read of /proc: samples are
// taken at each new entry and pass, and otherwise at most every 10 ms, so
// that the measuring does not weigh on what is measured.
static BOOL SampleProgress(ProgressRecord* record)
{
    static LONG lastIndex = -2;
    static LARGE_INTEGER lastSample;
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    DWORD pass = record->code - PROGRESS_EXTRACT;
    BOOL newPass = pass < 4 && !s_PassStart[pass].QuadPart;
    if (newPass) {
        s_PassStart[pass] = now;
        static const char* const kPassNames[4] = {"extract", "decide", "install", "registry"};
        Mark(kPassNames[pass]);
    }
    if (newPass || record->index != lastIndex || (now.QuadPart - lastSample.QuadPart) * 100 > frequency.QuadPart) {
        SamplePrivateBytes();
        lastIndex = record->index;
        lastSample = now;
    }
    return TRUE;
}

static DWORD MillisecondsBetween(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    if (!from.QuadPart || !to.QuadPart || !frequency.QuadPart)
        return 0;
    return (DWORD)((to.QuadPart - from.QuadPart) * 1000 / frequency.QuadPart);
}

// "peak=N exit=N extract=MS decide=MS install=MS" into the file E2E_FIGURES
// names, at process exit: peak and exit private bytes, the time from the
// start of the sequence to the decision (archive test and extraction),
// the decision, and from the first file placed to the exit (placing,
// cleanup, shut-down).
static void WriteFigures(void)
{
    Mark("exit");
    char path[MAX_PATH];
    if (!ReadSetting("E2E_FIGURES", path, sizeof path))
        return;
    SIZE_T atExit = SamplePrivateBytes();
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    LARGE_INTEGER decide = s_PassStart[PROGRESS_DECIDE - PROGRESS_EXTRACT];
    LARGE_INTEGER install = s_PassStart[PROGRESS_INSTALL - PROGRESS_EXTRACT];
    char line[160];
    wsprintfA(line, "peak=%lu exit=%lu extract=%lu decide=%lu install=%lu\r\n", (DWORD)s_PeakPrivate,
              (DWORD)atExit, MillisecondsBetween(s_SequenceStart, decide), MillisecondsBetween(decide, install),
              MillisecondsBetween(install, end));
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, lstrlenA(line), &written, NULL);
    CloseHandle(file);
}

// One table entry per file of the appended archive, each its own group, all
// put in the target directory at once. They are compared by time stamp
// alone, so installed copies made older than the packed files are all
// upgraded.
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
        // The backup takes the place of the last extension: the whole name
        // keeps A.B.DLL and A.DLL apart.
        CopyText(image->backupName, name, sizeof image->backupName);
        image->dirId = DIR_TARGET;
        image->flags = ALL | IMG_NO_VERSION;
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
    atexit(WriteFigures);
    DWORD length = GetModuleFileNameA(NULL, s_ArchivePath, MAX_PATH - 1);
    s_ArchivePath[length < MAX_PATH ? length : 0] = 0;
    s_Context.archivePath = s_ArchivePath;
    s_Context.progress = SampleProgress;

    char name[32];
    ReadSetting("E2E_CONTEXT", name, sizeof name);
    LOG("Test context %s", name);
    if (strcmp(name, "archive") == 0 && !TableFromArchive(&s_Context)) {
        LOG("No table from the archive %s", s_ArchivePath);
        STATUS(MSG_DECOMPRESS_FAILED, 0);
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
    QueryPerformanceCounter(&s_SequenceStart);
    Mark("sequence");
    return &s_Context;
}

void ProductInteractive(void)
{
    RunInstallSequence(ProductUpgradeContext());
}

BOOL ProductHasUpgrades(UpgradeContext* context)
{
    return AnyUpgrade(context);
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
    Mark("after");
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
