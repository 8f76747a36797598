// The command-line options and the program's instance handle: process-wide
// values that every module may read. They live apart from the entry point so
// that another program built on this library (the uninstaller, with an entry
// point of its own) can link the log and the environment without it. The
// options line belongs to the main driver's part of the log.
#define TRACE_FILE __FILE__ ":winmain"
#include "winmain.h"

#include <string.h>

#include "log.h"
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
