// The walk over every failure point of an installation, as each Windows
// family. A context that uses every flag is installed over a world that
// already holds older files (some read-only or hidden), backups of an
// earlier run, and by family: WININIT.INI and no GetFileAttributesExA
// (95), other programs' pending
// renames with characters beyond the code page and a move record file
// (NT 4), or nothing pending at all (2000/XP). First the installation runs
// clean, counting the calls of every system-call table entry; then it runs
// once more for each (entry, n), with the n-th call of that entry failing.
// A second clean run fails on purpose after the files are in place, and the
// walk repeats over the calls of its roll-back. After each run:
//   - a failed run names the failure the failing call reports (message id,
//     module, qualifier) and its log holds that failure's line;
//   - no image, copy, backup or record of the run is left behind;
//   - every file that was there before, backups included, is back with its
//     old bytes and attributes, or, for the entries that are never
//     restored, its old bytes are in its .BAK or an earlier one is back;
//   - the pending renames (the Session Manager's value, WININIT.INI) and the
//     move record file are byte for byte as before;
//   - where the failing call belongs to the roll-back itself, every other
//     step was still taken: only the object its log line names may differ,
//     unless the line says how the roll-back goes round the failure.
// A fault that the engine tolerates (a short name, a version resource) lets
// the run succeed; then every image left behind must be one queued for the
// restart.
// The generic setup's product is walked in the same world: its table made
// from a description, installed as the generic setup installs it, folders
// first; its roll-back also removes the folders it made that stay empty.
#include "engine_test.h"

#include <map>
#include <set>

#include "faults.h"
#include "install.h"
#include "log.h"
#include "moverecord.h"
#include "product.h"
#include "syscalls.h"
#include "text.h"
#include "winmain.h"

namespace {

const DWORD kEverywhere = IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP;
const DWORD kInjected = 0x2000F00D;  // an error no system call reports by itself
const char kInjectedText[] = "0x2000F00D";
const ULONGLONG kOld = DayTime(2001, 3, 1);
const ULONGLONG kNew = DayTime(2002, 5, 17);

// The failure a failing call of each table entry reports, when it is the
// first failure of a run; entries whose failures the engine tolerates (or
// that it does not call) have none.
struct ExpectedFailure {
    const char* entry;
    DWORD messageId;
    bool win32Qualifier;  // qualifier = the call's error; else 0
};
const ExpectedFailure kExpected[] = {
    {"CreateFileA", MSG_OPEN_FAILED, true},       {"ReadFile", MSG_READ_FAILED, true},
    {"WriteFile", MSG_WRITE_FAILED, true},        {"SetFilePointer", MSG_SEEK_FAILED, true},
    {"GetFileSize", MSG_FILE_SIZE_FAILED, true},  {"GetFileTime", MSG_FILE_SIZE_FAILED, true},
    {"CloseHandle", MSG_CLOSE_FAILED, true},      {"CopyFileA", MSG_COPY_FAILED, true},
    {"DeleteFileA", MSG_DELETE_FAILED, true},     {"MoveFileExA", MSG_MOVE_FAILED, true},
    {"MoveFileA", MSG_MOVE_FAILED, true},         {"SetEndOfFile", MSG_WRITE_FAILED, true},
    {"FindFirstFileA", MSG_OPEN_FAILED, true},    {"GetTempFileNameA", MSG_TEMP_FILE_FAILED, true},
    {"GetFileAttributesA", MSG_ATTRIBUTES_READ_FAILED, true},
    {"GetFileAttributesExA", MSG_OPEN_FAILED, true},
    {"SetFileAttributesA", MSG_ATTRIBUTES_FAILED, true},
    {"CreateDirectoryA", MSG_DIRECTORY_FAILED, true},
    {"VirtualAlloc", MSG_OUT_OF_MEMORY, false},   {"HeapAlloc", MSG_OUT_OF_MEMORY, false},
    {"RegOpenKeyExA", MSG_KEY_OPEN_FAILED, true}, {"RegQueryValueExA", MSG_KEY_QUERY_FAILED, true},
    {"RegSetValueExA", MSG_VALUE_SET_FAILED, true}, {"RegCreateKeyExA", MSG_KEY_CREATE_FAILED, true},
    {"RegQueryValueExW", MSG_KEY_QUERY_FAILED, true}, {"RegSetValueExW", MSG_VALUE_SET_FAILED, true},
};

const ExpectedFailure* ExpectedFor(const char* entry)
{
    for (const ExpectedFailure& expected : kExpected)
        if (strcmp(expected.entry, entry) == 0)
            return &expected;
    return nullptr;
}

// Windows 95 has no GetFileAttributesExA: the installer's look-up of it
// fails there, and so does the call.
BOOL WINAPI AttributesExOf95(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

// The table of the walk: every flag, over a world that holds older files.
std::vector<TestEntry> WalkEntries(Family family)
{
    DWORD otherFamily = family == FAMILY_95 ? IMG_ON_NT | IMG_ON_2KXP : IMG_ON_95;
    return {
        // Group 1 follows its later version: the obsolete file goes, the
        // directory comes.
        {"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1},
        {"data.txt", "data.txt", "data", DIR_TARGET, kEverywhere | IMG_NO_VERSION, 2},  // later time
        {"helper.dll", "helper.dll", "helper", DIR_SYSTEM32, kEverywhere | IMG_NO_BACKUP, 3},
        {"drv.sys", "drv.sys", "drv", DIR_DRIVERS, kEverywhere | IMG_AT_RESTART, 4},  // at the restart
        {"now.sys", "now.sys", "now", DIR_DRIVERS, kEverywhere | IMG_AT_RESTART | IMG_MOVE_NOW, 5},
        {"obsolete.dll", "obsolete.dll", "obsolete", DIR_TARGET,
         kEverywhere | IMG_NO_IMAGE | IMG_DELETE_EXISTING, 1},  // not in the archive
        {"retire.dll", "retire.dll", "retire", DIR_TARGET, kEverywhere | IMG_DELETE_EXISTING, 7},
        {"stale.sys", "stale.sys", "stale", DIR_DRIVERS,
         kEverywhere | IMG_NO_IMAGE | IMG_DELETE_EXISTING | IMG_AT_RESTART, 4},  // goes at the restart
        {"needs.dll", "needs.dll", "needs", DIR_TARGET, kEverywhere | IMG_NEED_EXISTING, 9},
        {"newdir", "newdir", "", DIR_TARGET, kEverywhere | IMG_DIRECTORY, 1},
        {"work.tmp", "work.tmp", "", DIR_TEMP, kEverywhere | IMG_WORK_FILE, 11},
        {"g1.dll", "g1.dll", "g1", DIR_SYSTEM32, kEverywhere | IMG_GROUP_CHECK, 12},
        {"g2.dll", "g2.dll", "g2", DIR_SYSTEM32, kEverywhere | IMG_GROUP_CHECK, 12},
        {"french.txt", "french.txt", "french", DIR_TARGET, kEverywhere | 0x01000000, 13},
        {"same.dll", "same.dll", "same", DIR_TARGET, kEverywhere, 14},  // not chosen
        {"script.inf", "script.inf", "", DIR_TEMP, kEverywhere | IMG_REGISTRY_SCRIPT, 15},
        // New files: one at once (beside a backup of an earlier run), one at
        // the restart.
        {"fresh.dll", "fresh.dll", "fresh", DIR_TARGET, kEverywhere, 16},
        {"late.sys", "late.sys", "late", DIR_DRIVERS, kEverywhere | IMG_AT_RESTART, 17},
        // An earlier run queued QNBPEND.TMP to replace it; this run's is newer.
        {"drv2.sys", "drv2.sys", "drv2", DIR_DRIVERS, kEverywhere | IMG_AT_RESTART, 18},
        // Chosen with its group for another family, in a directory this one lacks.
        {"other.vxd", "vxd95\\other.vxd", "vxd95\\other", DIR_TARGET, otherFamily, 1},
    };
}

// Targets never copied back from their backup: their old bytes must be in
// their .BAK when they changed.
const char* const kNeverRestored[] = {"SYSTEM32\\DRIVERS\\NOW.SYS"};
// A target without a backup: what it held cannot come back.
const char kWithoutBackup[] = "SYSTEM32\\HELPER.DLL";

class Walk : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_TRUE(BuildArchive(kTestArchive, {{"APP.DLL", Payload("v1005.dll")},
                                            {"DATA.TXT", "new data"},
                                            {"HELPER.DLL", Payload("v2000.dll")},
                                            {"DRV.SYS", Payload("v1005.dll")},
                                            {"NOW.SYS", Payload("v1005.dll")},
                                            {"RETIRE.DLL", Payload("v1005.dll")},
                                            {"NEEDS.DLL", Payload("v1005.dll")},
                                            {"WORK.TMP", "work"},
                                            {"G1.DLL", Payload("v1004.dll")},
                                            {"G2.DLL", Payload("v1005.dll")},
                                            {"FRENCH.TXT", "francais"},
                                            {"SAME.DLL", Payload("v1004.dll")},
                                            {"SCRIPT.INF", "[HKEY_CURRENT_USER]\r\n"
                                                           "REGKEY = Software\\EngineWalk\r\n"
                                                           "Helper = REG_SZ:%%WINSYSDIR%%helper.dll\r\n"
                                                           "[OPTIONAL]\r\n"
                                                           "Count = REG_DWORD:7\r\n"},
                                            {"FRESH.DLL", Payload("v1005.dll")},
                                            {"LATE.SYS", Payload("v1005.dll")},
                                            {"DRV2.SYS", Payload("v2000.dll")},
                                            {"README.TXT", "only in the archive"}}));
        // The archive's entries carry the time they were added: now.
        world->Put(DIR_TARGET, "app.dll", Payload("v1004.dll"), kOld, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        world->Put(DIR_TARGET, "data.txt", "old data", kOld);
        world->Put(DIR_SYSTEM32, "helper.dll", Payload("v1004.dll"), kOld);
        world->Put(DIR_DRIVERS, "drv.sys", Payload("v1004.dll"), kOld, FILE_ATTRIBUTE_READONLY);
        world->Put(DIR_DRIVERS, "now.sys", Payload("v1004.dll"), kOld);
        world->Put(DIR_TARGET, "obsolete.dll", "obsolete", kOld, FILE_ATTRIBUTE_HIDDEN);
        world->Put(DIR_TARGET, "retire.dll", Payload("v1004.dll"), kOld);
        world->Put(DIR_DRIVERS, "stale.sys", "stale", kOld);
        world->Put(DIR_SYSTEM32, "g1.dll", Payload("v1004.dll"), kNew);
        world->Put(DIR_SYSTEM32, "g2.dll", Payload("v1005.dll"), kNew);
        world->Put(DIR_TARGET, "same.dll", Payload("v1004.dll"), kNew);
        world->Put(DIR_TARGET, "app.BAK", "a backup of an earlier run", kOld, FILE_ATTRIBUTE_READONLY);
        world->Put(DIR_TARGET, "fresh.BAK", "a backup of an earlier run", kOld);
        // Renamed to its backup (archive attribute alone) beside an earlier one.
        world->Put(DIR_TARGET, "data.BAK", "a backup of an earlier run", kOld);
        // A target never restored, with (95: without) an earlier backup.
        if (GetParam() != FAMILY_95)
            world->Put(DIR_DRIVERS, "now.BAK", "a backup of an earlier run", kOld);
        world->Put(DIR_DRIVERS, "drv2.sys", Payload("v1004.dll"), kOld);
        world->Put(DIR_DRIVERS, "QNBPEND.TMP", Payload("v1005.dll"), kOld);
        // Restart work queued before the run, by others and by an earlier run.
        const std::string pendingFile = world->Path(DIR_DRIVERS, "QNBPEND.TMP");
        const std::string pendingTarget = world->Path(DIR_DRIVERS, "DRV2.SYS");
        if (GetParam() == FAMILY_95) {
            world->Put(DIR_WINDOWS, "wininit.ini", "[rename]\r\nNUL=C:\\ENGT\\TEMP\\EARLIER.TMP\r\n" + pendingTarget + "=" +
                                                       pendingFile + "\r\n");
        } else if (GetParam() == FAMILY_NT) {
            // Another program's entry holds characters the code page lacks.
            PendingValue pending;
            pending.exists = true;
            pending.type = REG_MULTI_SZ;
            pending.data = MultiString({L"\\??\\C:\\ENGT\\TEMP\\\u65E5\u672C\u0151.TMP", L"",
                                        Widen("\\??\\" + pendingFile), Widen("!\\??\\" + pendingTarget)});
            WritePendingValue(pending);
        }
        // With nothing pending (2000/XP) the set-up has removed any record file.
        if (GetParam() != FAMILY_2KXP)
            world->Put(DIR_SYSTEM32, "qnbinit.TMP",
                       Record("C:\\QNBOLD.TMP", "C:\\OTHER.DLL") + Record(pendingFile, pendingTarget));
        before = world->Take();
    }
    void TearDown() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\EngineWalk");
        EngineTest::TearDown();
    }

    // One installation from the world as it was before; returns its log.
    // Without a context, the generic product's.
    std::string Run(TestContext* context, int entry, int call)
    {
        RemoveEmptyProductFolders();  // forgets the folders an earlier run made
        world->Restore(before);
        if (context) {
            context->Reset();
        } else if (ResolveTargetDirectory() && BuildFileTable(&generic)) {
            memset(generic.states, 0, generic.count * sizeof *generic.states);
        } else {
            ADD_FAILURE() << "no table of the generic product";
        }
        Restart();
        ResetFaults();
        static auto s_AttributesEx = RealCalls()->GetFileAttributesExA;
        RealCalls()->GetFileAttributesExA = GetParam() == FAMILY_95 ? AttributesExOf95 : s_AttributesEx;
        if (entry >= 0)
            ArmFault(entry, call, kInjected);
        g_Hooks.wantsRegistry = TRUE;
        context ? RunInstallSequence(context->get()) : InstallProduct(&generic);
        // Taken before the shutdown, which is no part of the run.
        counts.assign(FaultEntryCount(), 0);
        for (int i = 0; i < FaultEntryCount(); ++i)
            counts[i] = FaultCallCount(i);
        delivered = FaultDelivered();
        hitRollBack = FaultHitRollBack();
        ResetFaults();
        return TakeLog();
    }

    // What a failed run must leave; "" when it holds. named: objects the
    // failing call's log line names: a file it could not delete may stay,
    // and when the call belongs to the roll-back, what it names may differ.
    std::string CheckRolledBack(const std::set<std::string>& named, bool rollBackFault)
    {
        Snapshot after = world->Take();
        std::string problems;
        for (const auto& file : before.files) {
            const std::string& path = file.first;
            if ((rollBackFault && named.count(path)) || path == kWithoutBackup)
                continue;
            auto now = after.files.find(path);
            if (now != after.files.end() && now->second == file.second) {
                if (after.attributes[path] != before.attributes.at(path))
                    problems += "attributes changed: " + path + "\n";
                continue;
            }
            bool neverRestored = false;
            for (const char* never : kNeverRestored)
                neverRestored = neverRestored || path == never;
            std::string itsBackup = path.substr(0, path.rfind('.')) + ".BAK";
            if (neverRestored && (before.files.count(itsBackup) ||
                                  (after.files.count(itsBackup) && after.files[itsBackup] == file.second)))
                continue;
            problems += (now == after.files.end() ? "gone: " : "changed: ") + path + "\n";
        }
        // Nothing else is left: no image, copy, backup or record, apart
        // from a new file placed at once, a directory made, and the backup
        // of a target never restored that holds its old bytes.
        std::set<std::string> mayStay = {"TARGET\\FRESH.DLL", "TARGET\\NEWDIR\\"};
        for (const char* never : kNeverRestored) {
            std::string path = never;
            std::string itsBackup = path.substr(0, path.rfind('.')) + ".BAK";
            if (after.files.count(itsBackup) && after.files[itsBackup] == before.files.at(path))
                mayStay.insert(itsBackup);
        }
        // A new file of the generic product placed at once stays, with the
        // folders that hold it.
        for (const auto& placed : newFiles) {
            if (!after.files.count(placed.first))
                continue;
            if (after.files[placed.first] != placed.second && !named.count(placed.first))
                problems += placed.first + " holds neither its new bytes nor nothing\n";
            for (size_t at = placed.first.find('\\'); at != std::string::npos; at = placed.first.find('\\', at + 1))
                mayStay.insert(placed.first.substr(0, at + 1));
            mayStay.insert(placed.first);
        }
        for (const auto& file : after.files)
            if (!before.files.count(file.first) && !named.count(file.first) && !mayStay.count(file.first))
                problems += "left behind: " + file.first + "\n";
        // A new file stays or is gone; it never becomes an old backup, and a
        // replacement that waited for the restart leaves nothing.
        auto fresh = after.files.find("TARGET\\FRESH.DLL");
        if (fresh != after.files.end() && fresh->second != Payload("v1005.dll") && !named.count(fresh->first))
            problems += "TARGET\\FRESH.DLL holds neither its new bytes nor nothing\n";
        if (after.files.count("SYSTEM32\\DRIVERS\\LATE.SYS") && !named.count("SYSTEM32\\DRIVERS\\LATE.SYS"))
            problems += "SYSTEM32\\DRIVERS\\LATE.SYS left at a new target\n";
        if (!(rollBackFault && named.count("<pending>")) && !(after.pending == before.pending))
            problems += "PendingFileRenameOperations differs\n";
        return problems;
    }

    // What a run that succeeded despite a fault must leave.
    std::string CheckSucceeded(const std::set<std::string>& named)
    {
        Snapshot after = world->Take();
        std::string record = after.files.count("SYSTEM32\\QNBINIT.TMP") ? after.files["SYSTEM32\\QNBINIT.TMP"] : "";
        std::string upperRecord = record;
        for (char& c : upperRecord)
            c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
        std::string problems;
        for (const auto& file : after.files) {
            std::string name = file.first.substr(file.first.find_last_of('\\') + 1);
            if (name.rfind("QNB", 0) != 0 || name == "QNBINIT.TMP" || named.count(file.first) ||
                before.files.count(file.first))
                continue;
            // An image queued for the restart is named in the move record file.
            if (upperRecord.find(name) == std::string::npos)
                problems += "left behind: " + file.first + "\n";
        }
        return problems;
    }

    // The whole walk over a context's table, or the generic product's.
    void WalkEveryFailurePoint(TestContext* context);

    Snapshot before;
    UpgradeContext generic = {};                  // the generic product's
    std::map<std::string, std::string> newFiles;  // its new files, with their bytes
    std::vector<int> counts;
    bool delivered = false;
    bool hitRollBack = false;
};

// How the line of a failure that the roll-back goes round ends: what such a
// line names must still come out right.
const std::string kGoneRound = ", copying the backup back";

bool GoesRound(const std::string& line)
{
    return line.size() >= kGoneRound.size() &&
           line.compare(line.size() - kGoneRound.size(), kGoneRound.size(), kGoneRound) == 0;
}

// The paths below the world's root (upper case) that the log lines carrying
// the injected error name, and "<pending>" for the pending value.
std::set<std::string> NamedByFailure(const std::string& log)
{
    std::set<std::string> named;
    const std::string root = "C:\\ENGT\\";
    for (const std::string& line : LinesOf(log)) {
        if (line.find(kInjectedText) == std::string::npos || GoesRound(line))
            continue;
        std::string upper = line;
        for (char& c : upper)
            c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
        if (upper.find("PENDINGFILERENAMEOPERATIONS") != std::string::npos ||
            upper.find("SESSION MANAGER") != std::string::npos)
            named.insert("<pending>");
        for (size_t at = upper.find(root); at != std::string::npos; at = upper.find(root, at + 1)) {
            size_t end = upper.find(' ', at);
            named.insert(upper.substr(at + root.size(), end == std::string::npos ? std::string::npos
                                                                                  : end - at - root.size()));
        }
    }
    // A copy of WININIT.INI or of the move record file names the original.
    if (named.count("WINDOWS\\WININIT.INI"))
        named.insert("<pending>");
    return named;
}

// One fault's outcome; "" when the promise held.
std::string Judge(const std::string& log, int entry, bool hitRollBack, const std::string& rollBackProblems,
                  const std::string& successProblems)
{
    std::string problems;
    // The generic setup's own module makes its folders before the engine
    // runs: whatever call fails there, a folder cannot be made.
    static const ExpectedFailure kFolderFailure = {"", MSG_DIRECTORY_FAILED, true};
    bool folders = STATUS_MODULE(g_Status.word) == 0 && HasLineStarting(log, "CreateDirectory ");
    const ExpectedFailure* expected = folders ? &kFolderFailure : ExpectedFor(FaultEntryName(entry));
    if (STATUS_FAILED(g_Status.word)) {
        if (!hitRollBack) {
            if (!expected) {
                problems += "a tolerated fault failed the run\n";
            } else {
                DWORD message = STATUS_MESSAGE(g_Status.word);
                DWORD module = STATUS_MODULE(g_Status.word);
                DWORD qualifier = expected->win32Qualifier ? kInjected : 0;
                bool moduleRight = folders ? module == 0 : module >= 1 && module <= 3;
                if (message != expected->messageId || g_Status.qualifier != qualifier || !moduleRight)
                    problems += "status " + std::to_string(message) + " module " + std::to_string(module) +
                                " qualifier " + std::to_string(g_Status.qualifier) + "\n";
            }
            char statusLine[64];
            wsprintfA(statusLine, "Status 0x%08lX Qualifier 0x%08lX", g_Status.word, g_Status.qualifier);
            if (!HasLine(log, statusLine))
                problems += "no status line\n";
        }
        if (expected && expected->win32Qualifier && log.find(kInjectedText) == std::string::npos)
            problems += "no log line names the failed call\n";
        problems += rollBackProblems;
    } else {
        problems += successProblems;
    }
    return problems;
}

void Walk::WalkEveryFailurePoint(TestContext* context)
{
    // A clean run, to count the calls and to see the installation happen.
    std::string log = Run(context, -1, 0);
    ASSERT_FALSE(STATUS_FAILED(g_Status.word)) << log;
    ASSERT_EQ((DWORD)(context ? MSG_REBOOT_NEEDED : MSG_INSTALLED), STATUS_MESSAGE(g_Status.word)) << log;
    std::vector<int> installCounts = counts;
    if (context) {
        EXPECT_EQ(Payload("v1005.dll"), world->Get(DIR_TARGET, "app.dll"));
        EXPECT_EQ(Payload("v1004.dll"), world->Get(DIR_TARGET, "app.BAK"));
        EXPECT_FALSE(world->Has(DIR_TARGET, "obsolete.dll"));
        EXPECT_FALSE(world->Has(DIR_TARGET, "retire.dll"));
        EXPECT_TRUE(world->Has(DIR_TARGET, "newdir"));
        EXPECT_EQ(Payload("v1004.dll"), world->Get(DIR_DRIVERS, "drv.sys"));  // replaced at the restart
    } else {
        for (const auto& placed : newFiles)
            EXPECT_EQ(placed.second, world->Get(DIR_WINDOWS, placed.first.substr(8))) << placed.first;
        EXPECT_TRUE(world->Has(DIR_WINDOWS, "Acme\\Widget\\Data"));
        EXPECT_FALSE(world->Has(DIR_WINDOWS, "Acme\\Widget\\Other"));  // of the other family
        EXPECT_EQ(Payload("v1005.dll"), world->Get(DIR_DRIVERS, "drv.sys"));
        EXPECT_EQ(Payload("v1004.dll"), world->Get(DIR_DRIVERS, "drv.sys.BAK"));
        EXPECT_EQ(Payload("v2000.dll"), world->Get(DIR_SYSTEM32, "helper.dll"));
        EXPECT_FALSE(world->Has(DIR_SYSTEM32, "helper.dll.BAK"));
    }
    EXPECT_EQ("", CheckSucceeded({})) << log;

    // A run that fails on purpose once everything is in place, to count the
    // calls of a whole roll-back.
    static std::vector<int>* s_AtFailure;
    std::vector<int> atFailure;
    s_AtFailure = &atFailure;
    g_Hooks.afterInstall = [] {
        s_AtFailure->assign(FaultEntryCount(), 0);
        for (int i = 0; i < FaultEntryCount(); ++i)
            (*s_AtFailure)[i] = FaultCallCount(i);
        STATUS(MSG_INTERNAL_ERROR, 0xB0B);
    };
    log = Run(context, -1, 0);
    ASSERT_EQ((DWORD)MSG_INTERNAL_ERROR, STATUS_MESSAGE(g_Status.word)) << log;
    EXPECT_EQ("", CheckRolledBack({}, false)) << log;
    std::vector<int> rollBackCounts = counts;

    int walked = 0, held = 0, tolerated = 0;
    std::string report;
    void (*hook)(void) = g_Hooks.afterInstall;
    for (int pass = 0; pass < 2; ++pass) {
        bool rollBack = pass == 1;
        for (int entry = 0; entry < FaultEntryCount(); ++entry) {
            int first = rollBack ? atFailure[entry] + 1 : 1;
            int last = rollBack ? rollBackCounts[entry] : installCounts[entry];
            for (int call = first; call <= last; ++call) {
                g_Hooks.afterInstall = rollBack ? hook : nullptr;
                s_AtFailure = &atFailure;
                std::vector<int> keep = atFailure;
                log = Run(context, entry, call);
                atFailure = keep;
                if (!delivered)
                    continue;
                ++walked;
                std::set<std::string> named = NamedByFailure(log);
                std::string problems =
                    Judge(log, entry, hitRollBack, CheckRolledBack(named, hitRollBack), CheckSucceeded(named));
                if (!STATUS_FAILED(g_Status.word))
                    ++tolerated;
                if (problems.empty()) {
                    ++held;
                } else {
                    ADD_FAILURE() << FaultEntryName(entry) << " call " << call << (rollBack ? " (roll-back)" : "")
                                  << ":\n" << problems << log;
                }
            }
        }
    }
    std::string unreached;
    for (int entry = 0; entry < FaultEntryCount(); ++entry)
        if (installCounts[entry] == 0 && rollBackCounts[entry] == 0)
            unreached += std::string(" ") + FaultEntryName(entry);
    std::cout << "[ walk     ] " << (context ? "" : "generic, ") << FamilyName(GetParam()) << ": " << walked
              << " failure points, " << held << " held the roll-back promise (" << tolerated
              << " faults tolerated by the engine); never called:" << unreached << "\n";
    EXPECT_EQ(walked, held);
}

TEST_P(Walk, EveryFailurePointRollsBack)
{
    TestContext context(WalkEntries(GetParam()), kTestArchive);
    WalkEveryFailurePoint(&context);
}

// The generic product: a new target folder below Windows, a sub-folder of it
// for one file and an empty one of its own, a file over an older one, one
// without a backup, one of the other family, the registry script.
TEST_P(Walk, GenericProductRollsBackItsFoldersToo)
{
    std::string text = std::string("[PRODUCT]\nMAKER=Acme\nPRODUCT=Widget\nVERSION=1.2.0.3\nREGISTRY=SCRIPT.INF\n"
                                   "TARGET=WINDOWS\\Acme\\Widget\n[FOLDER]\nPATH=TARGET\\Data\n"
                                   "[FILE]\nENTRY=APP.DLL\nFOLDER=TARGET\n"
                                   "[FILE]\nENTRY=DATA.TXT\nFOLDER=TARGET\\Docs\nCOMPARE=TIME\n"
                                   "[FILE]\nENTRY=DRV.SYS\nFOLDER=DRIVERS\n"
                                   "[FILE]\nENTRY=HELPER.DLL\nFOLDER=SYSTEM\nBACKUP=NO\n"
                                   "[FILE]\nENTRY=FRENCH.TXT\nFOLDER=TARGET\\Other\nFAMILIES=") +
                       (GetParam() == FAMILY_95 ? "NT" : "95");
    static ProductDescription description;
    DescError error;
    ASSERT_TRUE(ParseProductDescription(text.c_str(), text.size(), &description, &error)) << error.message;
    g_Product = &description;
    generic.archivePath = kTestArchive;
    newFiles = {{"WINDOWS\\ACME\\WIDGET\\APP.DLL", Payload("v1005.dll")},
                {"WINDOWS\\ACME\\WIDGET\\DOCS\\DATA.TXT", "new data"}};
    WalkEveryFailurePoint(nullptr);
    g_Product = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Families, Walk, ::testing::Values(FAMILY_95, FAMILY_NT, FAMILY_2KXP),
                         [](const ::testing::TestParamInfo<Family>& info) { return FamilyName(info.param); });

}  // namespace
