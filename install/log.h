// The installer log, the trace position and the status word.
#ifndef INSTALL_LOG_H
#define INSTALL_LOG_H

#include <windows.h>

// The source location of the last logging or status call. The file is the
// compiler's recorded path, relative to the source tree (install/upgrade.cpp);
// its base name names the module.
struct TracePosition {
    const char* file;
    LONG line;
};
extern TracePosition g_Trace;

// The outcome of the run: message id (bits 31..20), module id (19..16),
// line (15..0); negative once a failure was recorded, and frozen from then.
struct StatusRecord {
    DWORD word;
    DWORD qualifier;
};
extern StatusRecord g_Status;

#define STATUS_MESSAGE(word) ((DWORD)(word) >> 20)

#define STATUS_MODULE(word) (((DWORD)(word) >> 16) & 0xF)
#define STATUS_LINE(word) ((DWORD)(word) & 0xFFFF)
#define STATUS_FAILED(word) ((LONG)(word) < 0)

void SetTracePosition(const char* file, LONG line);
void SetStatus(DWORD messageId, DWORD qualifier);

// The module id of a trace file: its base name looked up in the module
// table ("install" 1, "upgrade" 2, "registry" 3, "winmain" 4, "log" 5),
// any other name 0.
DWORD ModuleIdOf(const char* traceFile);

// The log state. The handle is NULL while the log is closed.
struct LogState {
    char path[MAX_PATH];
    HANDLE handle;
    BOOL preExisting;
};
extern LogState g_Log;

void OpenLog(const char* path);
BOOL LogMessage(const char* format, ...);
BOOL CloseLog(BOOL keep);

// "Fri May 17 09:05:03 2002" for the log's header and trailer.
void FormatDateStamp(char* out, const SYSTEMTIME* time);

// Message ids of the status word (the failure ids equal the string ids of
// the texts the user sees).
enum {
    MSG_STARTED = 0,
    MSG_INSTALLED = 1,
    MSG_REBOOT_NEEDED = 2,
    MSG_REBOOTING = 3,
    MSG_CANCELLED = 2049,
    MSG_INTERNAL_ERROR = 2050,
    MSG_ALREADY_RUNNING = 2051,
    MSG_UNSUPPORTED_PLATFORM = 2052,
    MSG_SCRIPT_CORRUPTED = 2053,
    MSG_OUT_OF_MEMORY = 2054,
    MSG_NOT_ADMIN = 2055,
    MSG_REBOOT_PRIVILEGE = 2064,
    MSG_OPEN_FAILED = 2067,
    MSG_DECOMPRESS_FAILED = 2069,
    MSG_DELETE_FAILED = 2070,
    MSG_REBOOT_REQUEST = 2071,
    MSG_FILE_SIZE_FAILED = 2072,
    MSG_REBOOT_TOKEN = 2076,
    MSG_CREATE_KEY_FAILED = 2077,
    MSG_SET_VALUE_FAILED = 2078,
    MSG_READ_FAILED = 2084,
    MSG_WRITE_FAILED = 2085,
    MSG_SEEK_FAILED = 2086,
    MSG_CLOSE_FAILED = 2087
};

// Every log line and status carries the caller's own position.
#define TRACE_HERE() SetTracePosition(__FILE__, __LINE__)
#define LOG(...) (TRACE_HERE(), LogMessage(__VA_ARGS__))
#define STATUS(id, qualifier) (TRACE_HERE(), SetStatus((id), (qualifier)))

#endif
