// The status word with its completion record, and the installer log.
#include "log.h"

#include <stdarg.h>

#include "registry.h"
#include "install.h"
#include "ownfile.h"
#include "text.h"
#include "winmain.h"

TracePosition g_Trace;
StatusRecord g_Status;
LogState g_Log;

// The formatter's buffers hold 1024 bytes; one spare byte guards against a
// formatter that writes its terminator behind a full buffer.
enum { FORMAT_SIZE = 1024 };

static const char* const kModuleNames[] = {"install", "upgrade", "registry", "winmain", "log"};

static const char kBanner[] = "*****************************************************************";

void SetTracePosition(const char* file, LONG line)
{
    g_Trace.file = file;
    g_Trace.line = line;
}

DWORD ModuleIdOf(const char* traceFile)
{
    char name[MAX_PATH];
    GetBaseName(traceFile ? traceFile : "", name, sizeof name);
    for (DWORD i = 0; i < sizeof kModuleNames / sizeof kModuleNames[0]; ++i)
        if (AsciiCompareNoCase(name, kModuleNames[i]) == 0)
            return i + 1;
    return 0;
}

// Mirrors the status into HKLM\SOFTWARE\Vornak\UpgWizCompletion\<program>.
// Any failure leaves the record unwritten without a word.
static void WriteCompletionRecord(void)
{
    char program[MAX_PATH];
    GetProgramBaseName(program, sizeof program);
    AsciiLowerCase(program);

    LONG error = ERROR_SUCCESS;
    HKEY key = CreateRegistryKey("SOFTWARE\\Vornak", HKEY_LOCAL_MACHINE, FALSE, &error);
    key = CreateRegistryKey("UpgWizCompletion", key, TRUE, &error);
    key = CreateRegistryKey(program, key, TRUE, &error);
    if (error != ERROR_SUCCESS)
        return;
    DWORD status = g_Status.word;
    DWORD qualifier = g_Status.qualifier;
    RegSetValueExA(key, "Status", 0, REG_DWORD, (const BYTE*)&status, sizeof status);
    RegSetValueExA(key, "Qualifier", 0, REG_DWORD, (const BYTE*)&qualifier, sizeof qualifier);
    RegCloseKey(key);
}

void SetStatus(DWORD messageId, DWORD qualifier)
{
    DWORD module = ModuleIdOf(g_Trace.file);
    if (STATUS_FAILED(g_Status.word))
        return;
    g_Status.word = (messageId << 20) | (module << 16) | ((DWORD)g_Trace.line & 0xFFFF);
    g_Status.qualifier = qualifier;
    // The caller's trace position is still in place for this line.
    LogMessage("Status 0x%08lX Qualifier 0x%08lX", g_Status.word, g_Status.qualifier);
    if (g_Options.leaveStatus)
        WriteCompletionRecord();
}

void FormatDateStamp(char* out, const SYSTEMTIME* time)
{
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day = time->wDayOfWeek < 7 ? kDays[time->wDayOfWeek] : "???";
    const char* month = (time->wMonth >= 1 && time->wMonth <= 12) ? kMonths[time->wMonth - 1] : "???";
    wsprintfA(out, "%s %s %02d %02d:%02d:%02d %d", day, month, (int)time->wDay, (int)time->wHour,
              (int)time->wMinute, (int)time->wSecond, (int)time->wYear);
}

static void FormatNow(char* out)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatDateStamp(out, &now);
}

// The default log path: the temporary directory, the program's base name
// and ".LOG". FALSE when that does not fit in size characters.
static BOOL DefaultLogPath(char* out, DWORD size)
{
    char program[MAX_PATH];
    char temp[MAX_PATH + 1];
    GetProgramBaseName(program, sizeof program);
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length > MAX_PATH)
        return FALSE;
    temp[length] = 0;
    NormalizeDirPath(temp);
    return CopyText(out, temp, size) && AppendText(out, "\\", size) && AppendText(out, program, size) &&
           AppendText(out, ".LOG", size);
}

// The log is opened for deletion too where the system deletes through a
// handle.
static DWORD LogAccess(void)
{
    return GENERIC_WRITE | (DeletesThroughHandles() ? DELETE : 0);
}

// A log file that did not exist, created under the log path with a number
// added to its base name (SETUP1.LOG, SETUP2.LOG, ...); the path becomes
// the new file's. INVALID_HANDLE_VALUE when none could be made.
static HANDLE CreateFreshLog(char* path, DWORD size)
{
    char stem[MAX_PATH];
    CopyText(stem, path, sizeof stem);
    const char* separator = FindLastOf(stem, "\\/:");
    char* dot = (char*)FindLastOf(separator ? separator + 1 : stem, ".");
    char extension[MAX_PATH] = "";
    if (dot) {
        CopyText(extension, dot, sizeof extension);
        *dot = 0;
    }
    for (DWORD number = 1; number < 100; ++number) {
        char candidate[MAX_PATH + 16];
        wsprintfA(candidate, "%s%lu%s", stem, number, extension);
        if (!CopyText(path, candidate, size))
            break;
        // A new name creates nothing through a link left at it.
        HANDLE file = CreateFileA(path, LogAccess(), 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        if (!ForeignFileReason(file, path))
            return file;
        CloseHandle(file);
    }
    path[0] = 0;
    return INVALID_HANDLE_VALUE;
}

// The log at path when it is a file of its own: a plain disk file with one
// name, reached without a link. Another name of another file (a hard or
// symbolic link planted in the shared Temp folder), a directory or a device
// would take or swallow what this run writes; *reason then says what was
// found. *existed is set when the file was there before.
static HANDLE OpenOwnLog(const char* path, BOOL* existed, const char** reason)
{
    *reason = NULL;
    HANDLE file = CreateFileA(path, LogAccess(), 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | NoFollowFlag(), NULL);
    *existed = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
        file = CreateFileA(path, LogAccess(), 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *reason = *existed ? "cannot be opened" : "cannot be opened or created";
        return INVALID_HANDLE_VALUE;
    }
    *reason = ForeignFileReason(file, path);
    if (!*reason)
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

void OpenLog(const char* path)
{
    // A path that does not fit is not cut: a cut path names another file.
    // The log then stays closed, as when the file cannot be created.
    char logPath[MAX_PATH];
    if (path ? !CopyText(logPath, path, sizeof logPath) : !DefaultLogPath(logPath, sizeof logPath)) {
        CloseLog(TRUE);
        return;
    }
    char name[MAX_PATH];
    GetBaseName(logPath, name, sizeof name);
    AsciiUpperCase(logPath);
    AsciiUpperCase(name);

    CloseLog(TRUE);
    CopyText(g_Log.path, logPath, sizeof g_Log.path);
    BOOL existed = FALSE;
    const char* refused = NULL;
    HANDLE file = OpenOwnLog(g_Log.path, &existed, &refused);
    if (refused) {
        file = CreateFreshLog(g_Log.path, sizeof g_Log.path);
        if (file == INVALID_HANDLE_VALUE)
            return;
        existed = FALSE;
    }
    // Without a position at the end, a line would overwrite what the file
    // holds: such a log is closed at once, untouched, and the run goes on
    // without one.
    SetLastError(0);
    if (SetFilePointer(file, 0, NULL, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != 0) {
        CloseHandle(file);
        return;
    }
    g_Log.handle = file;
    g_Log.preExisting = existed;

    char stamp[64];
    FormatNow(stamp);
    LOG("%s", kBanner);
    LOG("Starting %s installer on %s", name, stamp);
    if (refused)
        LOG("Log file %s refused (%s), logging to %s", logPath, refused, g_Log.path);
}

BOOL LogMessage(const char* format, ...)
{
    if (!g_Log.handle)
        return FALSE;
    char message[FORMAT_SIZE + 1];
    va_list args;
    va_start(args, format);
    wvsprintfA(message, format, args);
    va_end(args);
    message[FORMAT_SIZE - 1] = 0;

    char module[MAX_PATH];
    GetBaseName(g_Trace.file ? g_Trace.file : "", module, sizeof module);
    AsciiUpperCase(module);

    // A line cut at the buffer's end loses its CR LF.
    char line[FORMAT_SIZE + 1];
    wsprintfA(line, "%8s%04ld: %s\r\n", module, g_Trace.line, message);
    line[FORMAT_SIZE - 1] = 0;

    DWORD length = (DWORD)lstrlenA(line);
    DWORD written = 0;
    return WriteFile(g_Log.handle, line, length, &written, NULL) && written == length;
}

BOOL CloseLog(BOOL keep)
{
    if (!g_Log.handle)
        return FALSE;
    char stamp[64];
    FormatNow(stamp);
    LOG("Closing installer log on %s", stamp);
    LOG("%s\r\n", kBanner);

    // A log to delete goes through its handle: once closed, its name in
    // the shared Temp folder may be someone else's.
    BOOL remove = !keep && !g_Log.preExisting;
    BOOL byHandle = DeletesThroughHandles();
    BOOL marked = remove && byHandle && DeleteWhenClosed(g_Log.handle);
    BOOL result = CloseHandle(g_Log.handle);
    g_Log.handle = NULL;
    if (result && remove)
        result = byHandle ? marked : DeleteFileA(g_Log.path);
    return result;
}
