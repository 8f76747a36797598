// Whole installations through the install sequence, in a world of their own,
// as each Windows family: a fresh install, and replacements that wait for
// the restart: how they are queued (MoveFileExA on the NT family, the
// [RENAME] section of WININIT.INI on the 95 family), the move record file
// that remembers them and queues its own deletion, and a second run before
// the restart, which refreshes the pending file instead of queuing again;
// roll-backs of such runs and of files renamed into place.
#include "engine_test.h"

#include "install.h"
#include "log.h"
#include "moverecord.h"
#include "syscalls.h"
#include "text.h"
#include "winmain.h"

namespace {

const DWORD kEverywhere = IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP;

class Install : public EngineTest {
protected:
    // A run made to fail once everything is in place: its roll-back leaves
    // the world as it was. The engine is set up again for the next run.
    void FailOnce(TestContext& context)
    {
        Snapshot was = world->Take();
        g_Hooks.afterInstall = [] { STATUS(MSG_INTERNAL_ERROR, 0xB0B); };
        EXPECT_FALSE(RunInstallSequence(context.get()));
        g_Hooks.afterInstall = nullptr;
        std::string log = TakeLog();
        EXPECT_EQ("", CompareSnapshots(was, world->Take())) << log;
        Restart();
        context.Reset();
    }
};

// Upper case over every byte, zero bytes included.
std::string Upper(std::string text)
{
    for (char& c : text)
        c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    return text;
}

TEST_P(Install, FreshInstallPutsEveryFileInPlace)
{
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"APP.DLL", Payload("v1005.dll")}, {"README.TXT", "read me\r\n"}}));
    TestContext context({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1},
                         {"readme.txt", "readme.txt", "readme", DIR_SYSTEM32, kEverywhere, 2}},
                        kTestArchive);
    EXPECT_TRUE(RunInstallSequence(context.get()));
    std::string log = TakeLog();
    EXPECT_EQ((DWORD)MSG_INSTALLED, STATUS_MESSAGE(g_Status.word)) << log;
    EXPECT_EQ(Payload("v1005.dll"), world->Get(DIR_TARGET, "app.dll"));
    EXPECT_EQ("read me\r\n", world->Get(DIR_SYSTEM32, "readme.txt"));
    EXPECT_FALSE(world->Has(DIR_TARGET, "app.BAK"));  // nothing to back up
    EXPECT_TRUE(HasLine(log, "File " + std::string(g_Dirs.path[DIR_TARGET]) + "app.dll does not exist")) << log;
    EXPECT_TRUE(HasLine(log, "Starting image file cleanup pass - partial cleanup")) << log;
}

TEST_P(Install, ReplacementsWaitForTheRestartAndASecondRunRefreshesThem)
{
    world->Put(DIR_DRIVERS, "drv.sys", Payload("v1004.dll"));
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"DRV.SYS", Payload("v1005.dll")}}));
    TestContext context({{"drv.sys", "drv.sys", "drv", DIR_DRIVERS, kEverywhere | IMG_AT_RESTART, 1}}, kTestArchive);
    FailOnce(context);
    // A run that died after creating the move record file left it empty: it
    // holds no records, and its deletion at the restart is queued anew.
    world->Put(DIR_SYSTEM32, "qnbinit.TMP", "");
    ASSERT_TRUE(RunInstallSequence(context.get()));
    std::string log = TakeLog();
    EXPECT_EQ((DWORD)MSG_REBOOT_NEEDED, STATUS_MESSAGE(g_Status.word)) << log;
    EXPECT_EQ(Payload("v1004.dll"), world->Get(DIR_DRIVERS, "drv.sys"));
    EXPECT_EQ(Payload("v1004.dll"), world->Get(DIR_DRIVERS, "drv.BAK"));
    std::string image = std::string(context.image(0).imageName) + ".TMP";
    EXPECT_EQ(Payload("v1005.dll"), world->Get(DIR_DRIVERS, image));

    // The record of the replacement, with the short paths it was queued by.
    std::string recordFile = world->Get(DIR_SYSTEM32, "qnbinit.TMP");
    char source[MOVE_RECORD_PATH_MAX], target[MOVE_RECORD_PATH_MAX];
    size_t offset;
    ASSERT_EQ(MOVE_RECORD_FOUND, FindMoveRecordIn((const uint8_t*)recordFile.data(), recordFile.size(),
                                                  world->Path(DIR_DRIVERS, "drv.sys").c_str(), source, target,
                                                  &offset));
    EXPECT_EQ(Upper(world->Path(DIR_DRIVERS, image)), Upper(source));
    EXPECT_EQ(MoveRecordLength(source, target), recordFile.size());
    std::string recordPath = std::string(g_Dirs.path[DIR_SYSTEM32]) + "qnbinit.TMP";
    if (GetParam() == FAMILY_95) {
        // Each line goes right behind the header: the record file's own
        // deletion was queued last.
        EXPECT_EQ(Upper("[RENAME]\r\nNUL=" + recordPath + "\r\n" + target + "=" + source + "\r\n"),
                  world->Get(DIR_WINDOWS, "wininit.ini"));
        EXPECT_FALSE(ReadPendingValue().exists);
    } else {
        // Replace-existing shows as '!' before the target; a deletion has an
        // empty target.
        std::string expected = MultiString({Widen(std::string("\\??\\") + source), Widen(std::string("!\\??\\") + target),
                                            Widen("\\??\\" + recordPath), L""});
        EXPECT_EQ(Upper(expected), Upper(ReadPendingValue().data));
        EXPECT_FALSE(world->Has(DIR_WINDOWS, "wininit.ini"));
    }
    Snapshot queued = world->Take();

    // A second run before the restart, with a newer file: it goes into the
    // pending file; nothing more is queued.
    Restart();
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"DRV.SYS", Payload("v2000.dll")}}));
    TestContext second({{"drv.sys", "drv.sys", "drv", DIR_DRIVERS, kEverywhere | IMG_AT_RESTART, 1}}, kTestArchive);
    FailOnce(second);
    ASSERT_TRUE(RunInstallSequence(second.get()));
    log = TakeLog();
    EXPECT_EQ((DWORD)MSG_REBOOT_NEEDED, STATUS_MESSAGE(g_Status.word)) << log;
    EXPECT_EQ(1, second.state(0).existing.pending);
    std::string newImage = std::string(g_Dirs.path[DIR_DRIVERS]) + second.image(0).imageName + ".TMP";
    EXPECT_TRUE(HasLine(log, "Duplicate installation - substituting temporary file " + newImage + " for " + source))
        << log;
    Snapshot refreshed = world->Take();
    std::string pendingKey = Upper(source).substr(strlen("C:\\ENGT\\"));
    EXPECT_EQ(Payload("v2000.dll"), refreshed.files[pendingKey]);
    refreshed.files[pendingKey] = queued.files[pendingKey];
    EXPECT_EQ("", CompareSnapshots(queued, refreshed)) << log;
}

TEST_P(Install, ARenameLineAlreadyQueuedIsNotQueuedTwice)
{
    if (GetParam() != FAMILY_95)
        GTEST_SKIP() << "WININIT.INI is the 95 family's";
    world->Put(DIR_DRIVERS, "drv.sys", Payload("v1004.dll"));
    world->Put(DIR_DRIVERS, "QNBSAME.TMP", Payload("v1005.dll"));
    std::string target = world->Path(DIR_DRIVERS, "drv.sys");
    std::string source = world->Path(DIR_DRIVERS, "QNBSAME.TMP");
    std::string wininit = Upper("[Rename]\r\n" + target + "=" + source + "\r\n");
    world->Put(DIR_WINDOWS, "wininit.ini", wininit);
    EXPECT_TRUE(MoveImage(source.c_str(), target.c_str(), TRUE, TRUE));
    EXPECT_TRUE(HasLine(TakeLog(), "Duplicate [RENAME] line, not changing WININIT.INI"));
    EXPECT_EQ(wininit, world->Get(DIR_WINDOWS, "wininit.ini"));
    EXPECT_FALSE(world->Has(DIR_SYSTEM32, "qnbinit.TMP"));
}

// An installed file in use (open for reading, sharing reading and deleting,
// as a running program's file is) cannot be written, so a copy over it
// fails: the upgrade fails so too, and the file stays as it was. Once free,
// it is upgraded: its backup keeps its bytes and time.
TEST_P(Install, AFileInUseIsNotReplaced)
{
    const ULONGLONG old = DayTime(2001, 3, 1);
    world->Put(DIR_TARGET, "app.dll", Payload("v1004.dll"), old);
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"APP.DLL", Payload("v1005.dll")}}));
    TestContext context({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1}}, kTestArchive);
    HANDLE held = CreateFileA(world->Path(DIR_TARGET, "app.dll").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(RunInstallSequence(context.get()));
    CloseHandle(held);
    std::string log = TakeLog();
    EXPECT_EQ((DWORD)MSG_COPY_FAILED, STATUS_MESSAGE(g_Status.word)) << log;
    EXPECT_EQ(Payload("v1004.dll"), world->Get(DIR_TARGET, "app.dll"));

    Restart();
    context.Reset();
    EXPECT_TRUE(RunInstallSequence(context.get())) << TakeLog();
    Snapshot after = world->Take();
    EXPECT_EQ(Payload("v1005.dll"), after.files["TARGET\\APP.DLL"]);
    EXPECT_EQ(Payload("v1004.dll"), after.files["TARGET\\APP.BAK"]);
    EXPECT_EQ(old, after.times["TARGET\\APP.BAK"]);
}

// Two chosen entries that would write one path, a target or a backup (its
// name's extension is replaced), are refused before anything is touched;
// of several such pairs, the first in table order is named. A new file
// makes no backup, so it installs (the last row).
TEST_P(Install, EntriesThatShareAPathAreRefused)
{
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"A.DLL", Payload("v1005.dll")}, {"A.B.DLL", Payload("v1005.dll")},
                                            {"A2.DLL", Payload("v2000.dll")}, {"P.DLL", "p"}, {"Q.DLL", "q"},
                                            {"R.DLL", "r"}, {"S.DLL", "s"}}));
    world->Put(DIR_TARGET, "a.dll", Payload("v1004.dll"));
    world->Put(DIR_TARGET, "a.b.dll", Payload("v1004.dll"));
    struct Row {
        const char* what;
        std::vector<TestEntry> others;
        const char* line;
    } rows[] = {
        {"one backup", {{"a.b.dll", "a.b.dll", "a.b", DIR_TARGET, kEverywhere, 2}},
         "Entries a.dll and a.b.dll would both write c:\\engt\\target\\a.BAK"},
        {"one target", {{"a2.dll", "a.dll", "a2", DIR_TARGET, kEverywhere, 2}},
         "Entries a.dll and a2.dll would both write c:\\engt\\target\\a.dll"},
        {"one target in other letters", {{"a2.dll", "A.DLL", "a2", DIR_TARGET, kEverywhere, 2}},
         "Entries a.dll and a2.dll would both write c:\\engt\\target\\a.dll"},
        {"two pairs", {{"p.dll", "z.dll", "p", DIR_TARGET, kEverywhere, 3},
                       {"q.dll", "Z.DLL", "q", DIR_TARGET, kEverywhere, 4},
                       {"r.dll", "0.dll", "r", DIR_TARGET, kEverywhere, 5},
                       {"s.dll", "0.dll", "s", DIR_TARGET, kEverywhere, 6}},
         "Entries p.dll and q.dll would both write c:\\engt\\target\\z.dll"},
        {"a new file", {{"a.b.dll", "a.x.dll", "a.x", DIR_TARGET, kEverywhere, 2}}, nullptr},
    };
    Snapshot before = world->Take();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<TestEntry> table = {{"a.dll", "a.dll", "a", DIR_TARGET, kEverywhere, 1}};
        table.insert(table.end(), row.others.begin(), row.others.end());
        TestContext context(table, kTestArchive);
        EXPECT_EQ(!row.line, !!RunInstallSequence(context.get()));
        std::string log = TakeLog();
        if (!row.line)
            break;
        EXPECT_EQ((DWORD)MSG_INTERNAL_ERROR, STATUS_MESSAGE(g_Status.word)) << log;
        EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, g_Status.qualifier);
        EXPECT_TRUE(HasLine(log, row.line)) << log;
        EXPECT_EQ("", CompareSnapshots(before, world->Take())) << log;
        Restart();
    }
}

// Many files in one folder, in groups spread over a table in the reverse
// order of the archive and in other letters: a fresh
// install puts every one in place; an upgrade over older copies backs every
// one up (its old bytes and time) and replaces it, files small for the
// folder and large ones alike (they go different ways), and so does one
// more over the backups of the first; an upgrade that fails once the files
// are in place puts the folder back as it was.
TEST_P(Install, ManyFilesInOneFolder)
{
    const int kFiles = 120;
    std::vector<std::string> names, lower, bases, bytes, older;
    std::vector<std::pair<std::string, std::string>> packed;
    for (int i = 0; i < kFiles; ++i) {
        char name[16];
        wsprintfA(name, "F%03d.DAT", i);
        names.push_back(name);
        bases.push_back(std::string(name, 4));
        AsciiLowerCase(name);
        lower.push_back(name);
        bool large = i % 10 == 0;  // larger than its backup copy is worth here
        bytes.push_back(large ? std::string(200000, (char)('A' + i % 26)) : "file " + std::to_string(i));
        older.push_back(large ? std::string(150000, 'o') : "older " + std::to_string(i));
        packed.push_back({names[i], bytes[i]});
    }
    std::vector<TestEntry> table;
    for (int i = kFiles - 1; i >= 0; --i)
        table.push_back({lower[i].c_str(), names[i].c_str(), bases[i].c_str(), DIR_TARGET,
                         kEverywhere | IMG_NO_VERSION, (DWORD)(i % 7)});
    ASSERT_TRUE(BuildArchive(kTestArchive, packed));
    TestContext context(table, kTestArchive);
    ASSERT_TRUE(RunInstallSequence(context.get())) << TakeLog();
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(bytes[i] == world->Get(DIR_TARGET, names[i])) << names[i];
    EXPECT_EQ(kFiles, (int)world->Take().files.size() - 6);  // beside the six directories

    const ULONGLONG old = DayTime(2001, 3, 1);
    for (int i = 0; i < kFiles; ++i)
        world->Put(DIR_TARGET, names[i], older[i], old);
    Snapshot installed = world->Take();
    Restart();
    context.Reset();
    ASSERT_TRUE(RunInstallSequence(context.get()));
    std::string log = TakeLog();
    EXPECT_EQ(kFiles, CountLinesStarting(log, "Backup ")) << log;
    Snapshot upgraded = world->Take();
    for (int i = 0; i < kFiles; ++i) {
        std::string target = "TARGET\\" + names[i], backup = "TARGET\\" + bases[i] + ".BAK";
        EXPECT_TRUE(bytes[i] == upgraded.files[target]) << target;
        EXPECT_TRUE(older[i] == upgraded.files[backup]) << backup;
        EXPECT_EQ(old, upgraded.times[backup]) << backup;
        EXPECT_EQ(0u, upgraded.attributes[backup]) << backup;
    }
    EXPECT_EQ(2 * kFiles, (int)upgraded.files.size() - 6);

    // Once more, over copies older again: each earlier backup is set aside
    // and goes once the new one is made.
    for (int i = 0; i < kFiles; ++i)
        world->Put(DIR_TARGET, names[i], "older again " + std::to_string(i), old);
    Restart();
    context.Reset();
    ASSERT_TRUE(RunInstallSequence(context.get())) << TakeLog();
    Snapshot twice = world->Take();
    for (int i = 0; i < kFiles; ++i) {
        std::string target = "TARGET\\" + names[i], backup = "TARGET\\" + bases[i] + ".BAK";
        EXPECT_TRUE(bytes[i] == twice.files[target]) << target;
        EXPECT_EQ("older again " + std::to_string(i), twice.files[backup]) << backup;
    }
    EXPECT_EQ(2 * kFiles, (int)twice.files.size() - 6) << TakeLog();

    world->Restore(installed);
    Restart();
    context.Reset();
    g_Hooks.afterInstall = [] { STATUS(MSG_INTERNAL_ERROR, 0xB0B); };
    EXPECT_FALSE(RunInstallSequence(context.get()));
    log = TakeLog();
    EXPECT_EQ("", CompareSnapshots(installed, world->Take())) << log;
}

// Calls on one path that the roll-back finds refused, as a file in use or a
// name taken refuses them; the stand-ins pass every other call on.
enum { REFUSE_DELETE = 1, REFUSE_MOVE = 2, REFUSE_COPY = 4 };
std::string s_Refused;  // upper case
int s_RefusedCalls;     // set by the failing hook below from s_ArmedCalls
int s_ArmedCalls;
SystemCalls s_Calls;

bool Refuses(LPCSTR path, int call)
{
    if (!(s_RefusedCalls & call) || Upper(path) != s_Refused)
        return false;
    SetLastError(ERROR_SHARING_VIOLATION);
    return true;
}
BOOL WINAPI RefusingDelete(LPCSTR path) { return !Refuses(path, REFUSE_DELETE) && s_Calls.DeleteFileA(path); }
BOOL WINAPI RefusingMove(LPCSTR from, LPCSTR to) { return !Refuses(from, REFUSE_MOVE) && s_Calls.MoveFileA(from, to); }
BOOL WINAPI RefusingCopy(LPCSTR from, LPCSTR to, BOOL failIfExists)
{
    return !Refuses(from, REFUSE_COPY) && s_Calls.CopyFileA(from, to, failIfExists);
}

// An installed file with the archive attribute alone becomes its backup by a
// rename (an earlier backup is set aside), and the image takes its name. A
// roll-back renames the backup back; where the new file cannot be deleted or
// the backup cannot be renamed, it copies the backup back. Either way the
// target and the earlier backup are as they were. A backup that cannot be
// put back at all keeps the target's old bytes, and the earlier backup stays
// where it was set aside.
TEST_P(Install, RollBackPutsARenamedFileBack)
{
    world->Put(DIR_TARGET, "app.dll", Payload("v1004.dll"), DayTime(2001, 3, 1));
    world->Put(DIR_TARGET, "app.BAK", "a backup of an earlier run");
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"APP.DLL", Payload("v1005.dll")}}));
    TestContext context({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1}}, kTestArchive);
    const std::string target = g_Dirs.path[DIR_TARGET] + std::string("app.dll");
    const std::string backup = g_Dirs.path[DIR_TARGET] + std::string("app.BAK");
    struct Row {
        const char* what;
        std::string refused;
        int calls;
        std::string line;  // the start of a line of the roll-back
        bool restored;
    } rows[] = {
        {"renamed back", "", 0, "Restore " + backup + " to " + target, true},
        {"the new file cannot be deleted", target, REFUSE_DELETE,
         "DeleteFile " + target + " failed 0x00000020, copying the backup back", true},
        {"the backup cannot be renamed back", backup, REFUSE_MOVE,
         "MoveFile " + backup + " to " + target + " 0x00000020, copying the backup back", true},
        {"the backup cannot be put back", backup, REFUSE_MOVE | REFUSE_COPY, "Earlier backup kept at ", false},
    };
    Snapshot before = world->Take();
    s_Calls = g_Sys;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        world->Restore(before);
        s_Refused = Upper(row.refused);
        s_ArmedCalls = row.calls;
        g_Hooks.afterInstall = [] {
            s_RefusedCalls = s_ArmedCalls;
            STATUS(MSG_INTERNAL_ERROR, 0xB0B);
        };
        g_Sys.DeleteFileA = RefusingDelete;
        g_Sys.MoveFileA = RefusingMove;
        g_Sys.CopyFileA = RefusingCopy;
        EXPECT_FALSE(RunInstallSequence(context.get()));
        g_Sys = s_Calls;
        s_RefusedCalls = 0;
        std::string log = TakeLog();
        EXPECT_EQ(1, context.state(0).backupMoved) << log;
        EXPECT_TRUE(HasLineStarting(log, row.line)) << log;
        Snapshot after = world->Take();
        if (row.restored) {
            EXPECT_EQ("", CompareSnapshots(before, after)) << log;
        } else {
            EXPECT_EQ(Payload("v1004.dll"), after.files["TARGET\\APP.BAK"]) << log;
            int earlier = 0;
            for (const auto& file : after.files)
                earlier += !before.files.count(file.first) && file.second == "a backup of an earlier run";
            EXPECT_EQ(1, earlier) << log;
        }
        Restart();
        context.Reset();
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Install, ::testing::Values(FAMILY_95, FAMILY_NT, FAMILY_2KXP),
                         [](const ::testing::TestParamInfo<Family>& info) { return FamilyName(info.param); });

}  // namespace
