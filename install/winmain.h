// The main driver: command-line options, the instance guard, the guarded
// sequence of product hooks and the install sequence.
#ifndef INSTALL_WINMAIN_H
#define INSTALL_WINMAIN_H

#include <windows.h>

struct UpgradeContext;

// The six command-line options; all FALSE by default.
struct InstallerOptions {
    BOOL silent;
    BOOL force;
    BOOL leaveLog;
    BOOL leaveStatus;
    BOOL noReboot;
    BOOL autorun;
};
extern InstallerOptions g_Options;

// The program's module handle, for dialogs and resources.
extern HINSTANCE g_Instance;

// Upper-cases the command line in place (ASCII letters only) and sets each
// option whose keyword occurs anywhere in it.
void ParseOptions(char* commandLine);

// Logs the options line.
void LogOptions(void);

// The product hooks and the environment, inside the exception guard.
void RunGuardedSequence(void);

// The restart decision at the end of a run (message id 2: restart needed).
void DecideRestart(void);

// The restart request on the 95 family, which may end the process before
// the log could be closed: the log is closed first and deleted, as the run
// would delete it, only once the request was accepted; a refused request
// reopens it. TRUE when the request was accepted.
BOOL RebootWithLogClosed(void);

// Extracts, decides, installs, runs the registry script and cleans up.
// TRUE when it ended without a failure; callers read the status word.
BOOL RunInstallSequence(UpgradeContext* context);

// Deletes root\path with every key below it, deepest keys first. TRUE when
// the key was there and every subkey could be visited.
BOOL DeleteKeyTree(HKEY root, const char* path);

#endif
