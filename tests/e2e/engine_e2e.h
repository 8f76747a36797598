// What the end-to-end tests of the upgrade engine look at besides the log:
// the files of a target directory against a model of what should be there,
// the system's pending-rename records and the engine's move record file.
#ifndef TESTS_E2E_ENGINE_E2E_H
#define TESTS_E2E_ENGINE_E2E_H

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// The payload directory: e2e_SET.exe installers and the files of each set,
// as packed, in SET\ (a Windows path ending in '\').
extern std::string g_PayloadDir;

// The bytes a content label stands for: "SET/NAME" is a packed file of a
// payload set, "=text" the text itself.
std::string ContentOf(const std::string& label);

// Name (lower case) -> content label of every file in a directory; a
// directory is "<dir>", and every image the engine left ("QNB" plus hex
// digits, ".TMP") is filed under "qnb*.tmp" with its label joined by '+'
// when there is more than one.
typedef std::map<std::string, std::string> DirModel;
DirModel ReadDirectory(const std::string& dir, const DirModel& expected);
// One line per difference, "" when equal.
std::string CompareDirectory(const DirModel& expected, const DirModel& actual);
// Writes (or, with an empty label, deletes) a file of the model into dir.
void PlantFile(const std::string& dir, const std::string& name, const std::string& label);

// The Session Manager's PendingFileRenameOperations as written ("" when the
// value is absent), and as (source, target) pairs of long upper-case paths
// without the "\??\" prefix. A target that replaces an existing file keeps
// its "!" in front; an empty target is a deletion.
std::string PendingValue();
typedef std::vector<std::pair<std::string, std::string>> RenamePairs;
RenamePairs PendingPairs(const std::string& value);

// The upper-case long form of a path (the path itself when it has none).
std::string LongUpper(const std::string& path);
std::string ShortPath(const std::string& path);

// The records of a move record file as (source, target) pairs; a damaged
// file gives a pair ("damaged", offset).
RenamePairs MoveRecords(const std::string& bytes);

std::string WindowsDir();  // with a trailing backslash
std::string SystemDir();   // with a trailing backslash

// Waits at most timeoutMs until no wineboot.exe runs and the check passes.
bool WaitForRestart(bool (*done)(void* context), void* context, DWORD timeoutMs);

#endif
