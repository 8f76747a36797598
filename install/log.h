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

void SetTracePosition(const char* file, LONG line);
void SetStatus(DWORD messageId, DWORD qualifier);

void OpenLog(const char* path);
BOOL LogMessage(const char* format, ...);
BOOL CloseLog(BOOL keep);

// Every log line and status carries the caller's own position.
#define TRACE_HERE() SetTracePosition(__FILE__, __LINE__)
#define LOG(...) (TRACE_HERE(), LogMessage(__VA_ARGS__))
#define STATUS(id, qualifier) (TRACE_HERE(), SetStatus((id), (qualifier)))

#endif
