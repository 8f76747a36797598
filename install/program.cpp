// What every program built on this library shares around its own work: the
// command-line options and the instance handle, which every module may read,
// the instance mutex that keeps a second copy (of any such program) from
// running, and the end of a run. They live apart from the installer's entry
// point so that another program (the uninstaller, with an entry point of its
// own) can use them and link the log and the environment without it. What
// they log and report belongs to the main driver's part of the log.
#define TRACE_FILE __FILE__ ":winmain"
#include "winmain.h"

#include <string.h>

#include "log.h"
#include "sehguard.h"
#include "syscalls.h"
#include "text.h"

InstallerOptions g_Options;
HINSTANCE g_Instance;

struct OptionKeyword {
    const char* keyword;
    BOOL* flag;
};

static const OptionKeyword kOptions[] = {
    {"SILENT", &g_Options.silent},         {"FORCE", &g_Options.force},
    {"LEAVELOG", &g_Options.leaveLog},     {"LEAVESTATUS", &g_Options.leaveStatus},
    {"NOREBOOT", &g_Options.noReboot},     {"AUTORUN", &g_Options.autorun},
};

void ParseOptions(char* commandLine)
{
    if (!commandLine)
        return;
    AsciiUpperCase(commandLine);
    for (DWORD i = 0; i < sizeof kOptions / sizeof kOptions[0]; ++i)
        if (strstr(commandLine, kOptions[i].keyword))
            *kOptions[i].flag = TRUE;
}

void LogOptions(void)
{
    LOG("%s %s install, %s logfile on completion, %s reboots. %s launched",
        g_Options.force ? "Forced" : "Unforced", g_Options.silent ? "silent" : "visual",
        g_Options.leaveLog ? "leave" : "delete", g_Options.noReboot ? "don't allow" : "allow",
        g_Options.autorun ? "autorun" : "not autorun");
}

HANDLE BeginProgram(HINSTANCE instance, char* commandLine)
{
    LimitDllSearch();
    ParseOptions(commandLine);
    STATUS(MSG_STARTED, 0);
    HANDLE mutex = CreateMutexA(NULL, FALSE, "RiRoZi32 UPGRADE RiRoZi32");
    if (!mutex || WaitForSingleObject(mutex, 0) == WAIT_TIMEOUT) {
        STATUS(MSG_ALREADY_RUNNING, 0);
        if (mutex)
            CloseHandle(mutex);
        return NULL;
    }
    g_Instance = instance;
    return mutex;
}

int EndProgram(HANDLE mutex)
{
    LOG("Final Status 0x%08lX Qualifier 0x%08lX", g_Status.word, g_Status.qualifier);
    BOOL failed = STATUS_FAILED(g_Status.word) && STATUS_MESSAGE(g_Status.word) != MSG_CANCELLED;
    CloseLog(failed ? TRUE : g_Options.leaveLog);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return (int)g_Status.word;
}

void RunRemovalGuarded(void (*removal)(void*))
{
    DWORD code = 0;
    if (RunGuarded(removal, NULL, &code))
        return;
    LOG("!!! EXCEPTION EXCEPTION EXCEPTION !!!");
    LOG("Removal exception code 0x%08lX", code);
    STATUS(MSG_INTERNAL_ERROR, code);
}
