// Helpers of the end-to-end tests: they run a program under test as its own
// process, with the Windows version Wine reports to it, and read back what it
// left behind (exit code, log file, registry).
#ifndef TESTS_E2E_E2E_H
#define TESTS_E2E_E2E_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Windows paths of the programs under test and of the scratch directory,
// taken from the command line (Unix paths are mapped to drive Z:).
struct E2EPaths {
    std::string setup;    // setup.exe
    std::string hooks;    // the hook test program
    std::string work;     // scratch directory for copies, ends in '\'
};
extern E2EPaths g_Paths;

// Reads --setup=, --hooks= and --work= after GoogleTest took its own flags.
void ParseE2EArguments(int argc, char** argv);
std::string WindowsPath(const std::string& path);

// Sets the Windows version Wine reports to programs of that file name
// (empty version: the value is removed).
bool SetReportedVersion(const std::string& name, const std::string& version);

// Copies program to work\name and sets the Windows version Wine reports to
// that file name. Returns the copy.
std::string PrepareProgram(const std::string& program, const std::string& name, const std::string& version);

// True while a process of that executable file name (any case) runs.
bool ProcessRunning(const char* exeName);

// What one run left behind.
struct RunResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    DWORD elapsedMs = 0;
    bool logExists = false;
    std::string log;  // the whole log file, when it exists
};

// Runs "path arguments" with extra environment variables (NAME=VALUE pairs,
// set for the child only) and waits at most timeoutMs. The log is read from
// the temporary directory afterwards (base name in upper case + ".LOG").
// With whileSuspended, the process is made suspended, before its first
// instruction, and goes on once that has returned.
RunResult RunProgram(const std::string& path, const std::string& arguments,
                     const std::vector<std::string>& environment = {}, DWORD timeoutMs = 60000,
                     const std::function<void()>& whileSuspended = nullptr);

// The log path a program writes: temporary directory + BASE + ".LOG".
std::string LogPathOf(const std::string& program);
std::string TempDir();  // with one trailing backslash
bool ReadWholeFile(const std::string& path, std::string* contents);
bool WriteWholeFile(const std::string& path, const std::string& contents);
bool FileExistsAt(const std::string& path);
std::string LowerCase(std::string text);
std::string UpperCase(std::string text);

// On a Japanese or Chinese system (ANSI code page 932, 950 or 936) this
// program and every program it starts become a user whose name is written
// in that script, with profile and Temp under it: C:\タナカ\Temp, C:\林\Temp,
// C:\蘇\Temp (second bytes i, J, L, K are letters). Returns characters whose
// second bytes are backslashes (ソ表, 許功, 淺) for targets; "" elsewhere.
std::string BecomeEastAsianUser();

// Log lines without their CR LF; message() is the text after "NAME0123: ".
std::vector<std::string> LogLines(const std::string& log);
std::string MessageOf(const std::string& line);
// Index of the first line whose message starts with prefix, from index from;
// -1 when there is none.
int FindMessage(const std::vector<std::string>& lines, const std::string& prefix, int from = 0);
int CountMessages(const std::vector<std::string>& lines, const std::string& prefix);
// The source line a log line carries ("TLMRINST0042: ..." gives 42), -1 if none.
long LineNumberOf(const std::string& line);

// Every "Status 0x%08lX Qualifier ..." line of a log: the word's module id
// and line field agree with the module name and source line the log line
// carries. Returns the first disagreeing line, or "" when all agree.
std::string InconsistentStatusLine(const std::string& log);

// The completion record of a program base name (lower case); false when the
// key or a value is missing.
bool ReadCompletionRecord(const std::string& baseName, DWORD* status, DWORD* qualifier);
void DeleteCompletionRecord(const std::string& baseName);

// A restart request makes Wine run its restart tasks (wineboot), which end
// the session of the prefix's console programs. KeepThroughRestarts keeps
// this program running; WinebootRunning says whether the tasks still run.
void KeepThroughRestarts();
bool WinebootRunning();

// Status word fields.
inline DWORD StatusMessage(DWORD word) { return word >> 20; }
inline DWORD StatusModule(DWORD word) { return (word >> 16) & 0xF; }
std::string Hex8(DWORD value);  // "0x%08lX"

#endif
