// The process-wide records of one run put back as a program finds them at
// its start, for a host that runs installations one after another in one
// process, such as a test program. In a file of its own: a program that
// never calls it links none of the engine for it.
#include "winmain.h"

#include <string.h>

#include "install.h"
#include "log.h"
#include "upgrade.h"

void ResetRunState(void)
{
    if (g_Engine.engineReady)
        EngineShutdown();
    RestorePendingRenames(FALSE);
    ReleaseArchive();
    CloseLog(TRUE);
    memset(&g_Log, 0, sizeof g_Log);
    memset(&g_Status, 0, sizeof g_Status);
    memset(&g_Trace, 0, sizeof g_Trace);
    memset(&g_Options, 0, sizeof g_Options);
    memset(&g_System, 0, sizeof g_System);
    memset(&g_Dirs, 0, sizeof g_Dirs);
    memset(&g_Environment, 0, sizeof g_Environment);
    memset(&g_Engine, 0, sizeof g_Engine);
    g_Engine.currentIndex = -1;
}
