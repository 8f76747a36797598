// The main driver: command-line options, the instance guard, the guarded
// sequence of product hooks and the install sequence.
#ifndef INSTALL_WINMAIN_H
#define INSTALL_WINMAIN_H

#include <windows.h>

struct UpgradeContext;

// The six command-line options; all FALSE by default (program.cpp).
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

// The start of a run: reads the options, sets the starting status, keeps
// the instance handle and takes the instance mutex "RiRoZi32 UPGRADE
// RiRoZi32". NULL, with status 2051, when another program holds it: the
// caller then returns the status word at once, without a log.
HANDLE BeginProgram(HINSTANCE instance, char* commandLine);

// The end of a run: logs the final status, closes the log (kept after a
// failure other than a cancellation, or with LEAVELOG), releases the mutex;
// returns the status word, the exit code.
int EndProgram(HANDLE mutex);

// An uninstaller's removal inside the exception guard: a fault is logged
// and becomes status 2050.
void RunRemovalGuarded(void (*removal)(void*));

// The product hooks and the environment, inside the exception guard.
void RunGuardedSequence(void);

// The restart decision at the end of a run (message id 2: restart needed).
void DecideRestart(void);

// The restart request on the 95 family, which may end the process before
// the log could be closed: the log is closed first and deleted, as the run
// would delete it, only once the request was accepted; a refused request
// reopens it. TRUE when the request was accepted.
BOOL RebootWithLogClosed(void);

// Puts every process-wide record of a run back as the program finds it at
// its start: the log closed (its file kept), status, trace, options, system
// facts, directories, environment marks and engine state cleared, the
// engine shut down, the installer's file let go and the pending-rename
// safekeeping released.
void ResetRunState(void);

// Extracts, decides, installs, runs the registry script and cleans up.
// TRUE when it ended without a failure; callers read the status word.
BOOL RunInstallSequence(UpgradeContext* context);

#endif
