// The upgrade engine end to end: a test build of the installer with its
// payload appended by "arq sfx" runs as its own process under each Windows
// family, silent, over a target directory of its own. Each scenario is a
// table of runs; after each run the exit code, the log, every file of the
// target directory (names and bytes), and where it matters the system's
// pending-rename records and the engine's move record file are checked.
#include <gtest/gtest.h>
#include <string.h>

#include "e2e.h"
#include "engine_e2e.h"
#include "winfiles.h"

namespace {

struct Family {
    const char* name;     // also the Windows version Wine reports
    bool is95;            // 95 family: WININIT.INI; else MoveFileExA
    const char* onlyTag;  // the file of the main table meant for this family alone
};

// Characters of the system's code page in every target's name ("" on a
// Western system).
std::string g_TargetPart;

const Family kFamilies[] = {
    {"win95", true, "95"}, {"win98", true, "95"},    {"winme", true, "95"},
    {"nt40", false, "nt"}, {"win2k", false, "2kxp"}, {"winxp", false, "2kxp"},
};

// A file of the target directory: its content label (see ContentOf), "<dir>",
// "@NAME" for what the file NAME holds at that moment, or null when it must
// not exist. "%F" stands for the family's tag.
struct FileState {
    const char* name;
    const char* label;
};

// One run of the installer and what it must leave behind.
struct Step {
    const char* set;                 // payload set: runs e2e_SET.exe
    const char* arguments;
    const char* environment;         // one more NAME=VALUE, or ""
    std::vector<FileState> before;   // written into the target before the run
    DWORD message;                   // message id of the exit code
    std::vector<FileState> after;    // what the run changes in the target
    // Log lines that must start a line's message; "!" first: no line may
    // start so; "95|" or "NT|" first: only for that family. "%T" stands for
    // the target directory as the installer writes it.
    std::vector<const char*> log;
};

// Files put in place at once, through the first release (A), an upgrade
// (B), the same and an older payload (B, C), a mixed group, FORCE, and a
// failure after the files were placed (D).
const std::vector<Step> kMainSteps = {
    {"A", "/silent /leavelog", "", {}, 1,
     {{"core.dll", "A/CORE.DLL"}, {"helper.dll", "A/HELPER.DLL"}, {"data", "<dir>"}, {"notes.txt", "A/NOTES.TXT"},
      {"en.txt", "A/EN.TXT"}, {"ga.dll", "A/GA.DLL"}, {"gb.dll", "A/GB.DLL"}, {"on%F.txt", "A/ON%F.TXT"}},
     {"Skipping archive only file EXTRA.TXT", "Extract from: EN.TXT", "!Extract from: DE.TXT",
      "No existing file to compare, upgrade/operation recommended",
      "No existing file to compare, upgrade/operation *not* recommended", "Create directory %Tdata",
      "Starting image file cleanup pass - partial cleanup", "!Backup ", "!Move delayed"}},
    // An obsolete file the group deletes, and an installed copy that the
    // need-existing entry may now replace.
    {"B", "/silent /leavelog", "", {{"old.txt", "=obsolete"}, {"opt.dll", "A/OPT.DLL"}}, 1,
     {{"core.dll", "B/CORE.DLL"}, {"core.bak", "A/CORE.DLL"}, {"helper.dll", "B/HELPER.DLL"},
      {"helper.bak", "A/HELPER.DLL"}, {"old.txt", nullptr}, {"old.bak", "=obsolete"}, {"notes.txt", "B/NOTES.TXT"},
      {"notes.bak", "A/NOTES.TXT"}, {"opt.dll", "B/OPT.DLL"}, {"opt.bak", "A/OPT.DLL"}},
     {"Image file has later version, upgrade recommended", "Image file has later time/date stamp, upgrade recommended",
      "Backup %Tcore.dll to %Tcore.BAK", "Move immediate from %Told.txt to NULL(DELETE)",
      "!Create directory", "Starting image file cleanup pass - partial cleanup"}},
    {"B", "/silent /leavelog", "", {}, 0, {},
     {"!Image file has later", "!Backup ", "!Move ", "Starting image file cleanup pass - full cleanup"}},
    {"C", "/silent /leavelog", "", {}, 0, {}, {"!Image file has later", "!Backup ", "!Group "}},
    // A group whose installed members differ is replaced as a whole, though
    // no image is newer.
    {"C", "/silent /leavelog", "", {{"ga.dll", "B/CORE.DLL"}}, 1,
     {{"ga.dll", "C/GA.DLL"}, {"ga.bak", "B/CORE.DLL"}, {"gb.dll", "C/GB.DLL"}, {"gb.bak", "A/GB.DLL"}},
     {"Group 6 file versions differ (8/9), upgrade recommended", "!Image file has later"}},
    // FORCE chooses every compared entry, a need-existing one without a
    // file too.
    {"C", "/silent /leavelog /force", "", {{"opt.dll", nullptr}}, 1,
     {{"core.bak", "@core.dll"}, {"core.dll", "C/CORE.DLL"}, {"helper.bak", "@helper.dll"},
      {"helper.dll", "C/HELPER.DLL"}, {"notes.bak", "@notes.txt"}, {"notes.txt", "C/NOTES.TXT"},
      {"opt.dll", "C/OPT.DLL"}, {"en.bak", "@en.txt"}, {"ga.bak", "@ga.dll"}, {"gb.bak", "@gb.dll"},
      {"on%F.bak", "@on%F.txt"}},
     {"Forced silent install", "No existing file to compare, upgrade/operation *not* recommended",
      "!Extract from: DE.TXT", "Starting image file cleanup pass - partial cleanup"}},
    // The run fails after CORE was copied over: it is copied back, and the
    // backups of the earlier run are as they were.
    {"D", "/silent /leavelog", "E2E_FAIL=1", {}, 2050, {},
     {"Image file has later version, upgrade recommended", "Failing after the install as asked",
      "Starting image file cleanup pass - full cleanup", "Restore %Tcore.BAK to %Tcore.dll"}},
};

// Files that wait for the restart: a failed run that queued its renames
// (RA), the run that queues them (RA), a second run before the restart (RB)
// and a third that restarts the system itself (RC), then a run after the
// restart that finds stale work files (RC). The special checks of each run
// are in the test below.
const std::vector<Step> kRestartSteps = {
    {"RA", "/silent /leavelog", "E2E_FAIL=1", {{"drv.sys", "=drv old"}, {"stale.sys", "=stale"}}, 2050,
     {{"now.sys", "RA/NOW.SYS"}},
     {"Move delayed from ", "Move immediate from ", "Starting image file cleanup pass - full cleanup", "!Restore ",
      "Deleting MoveFileRecord at ", "95|Deleting WININIT.INI at ",
      "NT|Attempting PendingFileRenameOperations value restore"}},
    {"RA", "/silent /leavelog", "", {}, 2, {{"drv.bak", "=drv old"}, {"stale.bak", "=stale"}, {"qnb*.tmp", "RA/DRV.SYS"}},
     {"Move/delete operations are NOT currently pending", "Backup %Tdrv.sys to %Tdrv.BAK",
      "Move delayed from %Tstale.sys to NULL(DELETE)", "!Move immediate", "Finished, files upgraded and reboot needed",
      "hook RegisterUninstaller", "Reboot supressed, silent install",
      "Starting image file cleanup pass - partial cleanup"}},
    {"RB", "/silent /leavelog", "", {}, 2, {{"qnb*.tmp", "RB/DRV.SYS"}},
     {"Move/delete operations are currently pending", "!Deleting QNBINIT", "!Backup %Tdrv.sys",
      "Duplicate installation - substituting temporary file ", "95|Duplicate [RENAME] line, not changing WININIT.INI"}},
    {"RC", "/leavelog", "", {}, 3, {{"drv.sys", "RC/DRV.SYS"}, {"stale.sys", nullptr}, {"qnb*.tmp", nullptr}},
     {"Duplicate installation - substituting temporary file ", "Finished, files upgraded and reboot needed",
      "95|Pre95 reboot status "}},
    {"RC", "/silent /leavelog", "", {}, 0, {},
     {"Move/delete operations are NOT currently pending", "Deleting WININIT file found at ",
      "Deleting QNBINIT file found at ", "!Move "}},
};

std::string Replace(std::string text, const std::string& what, const std::string& with)
{
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// The runs of one family in one target directory, and the model of what
// that directory should hold.
class Sequence {
  public:
    Sequence(const Family& family, const std::string& target, const char* context)
        : family_(family), target_(target), context_(context)
    {
        RemoveTree(target_);
        CreateDirectoryA(target_.c_str(), NULL);
    }

    const std::string& target() const { return target_; }
    const std::string& log() const { return log_; }

    void Apply(const std::vector<FileState>& changes, bool plant)
    {
        for (const FileState& change : changes) {
            std::string name = Replace(change.name, "%F", family_.onlyTag);
            std::string label = change.label ? Replace(change.label, "%F", family_.onlyTag) : "";
            if (label[0] == '@')
                label = model_.count(label.substr(1)) ? model_[label.substr(1)] : "";
            if (plant)
                PlantFile(target_, name, label);
            if (label.empty())
                model_.erase(name);
            else
                model_[name] = label;
        }
    }

    std::string Differences() const { return CompareDirectory(model_, ReadDirectory(target_, model_)); }

    // Directories beside the target whose names are its own cut inside its
    // double-byte characters.
    std::string CutTargets() const
    {
        std::string cut, root = "C:\\e2e\\", name = target_.substr(root.size(), target_.size() - root.size() - 1);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((root + "*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
            if (strlen(found.cFileName) + g_TargetPart.size() >= name.size() && name.size() > strlen(found.cFileName) &&
                name.find(found.cFileName) == 0)
                cut += root + found.cFileName + " ";
        FindClose(search);
        return cut;
    }

    // Runs one step; its index names it in the messages.
    void Run(const Step& step, size_t index)
    {
        SCOPED_TRACE(std::string(family_.name) + " " + context_ + " step " + std::to_string(index) + " (" +
                     step.set + " " + step.arguments + " " + step.environment + ")");
        Apply(step.before, true);
        std::string name = std::string(family_.name) + "_" + step.set + ".exe";
        std::string copy = PrepareProgram(g_PayloadDir + "e2e_" + step.set + ".exe", name, family_.name);
        ASSERT_FALSE(copy.empty()) << name;
        DeleteFileA(LogPathOf(copy).c_str());
        std::vector<std::string> environment = {std::string("E2E_CONTEXT=") + context_, "E2E_TARGET=" + target_};
        if (*step.environment)
            environment.push_back(step.environment);
        RunResult run = RunProgram(copy, step.arguments, environment);
        log_ = run.log;
        ASSERT_TRUE(run.started && !run.timedOut) << name;
        EXPECT_EQ(StatusMessage(run.exitCode), step.message) << Hex8(run.exitCode) << "\n" << run.log;
        EXPECT_EQ(InconsistentStatusLine(run.log), "");
        // On the 95 family a restarting run closes its log before the end.
        if (!(step.message == 3 && family_.is95)) {
            EXPECT_EQ(CountMessages(LogLines(run.log), "Final Status " + Hex8(run.exitCode)), 1) << run.log;
        }
        CheckLog(step.log);
        EXPECT_EQ(CutTargets(), "");
        Apply(step.after, false);
        if (step.message != 3) {
            EXPECT_EQ(Differences(), "") << run.log;
        }
    }

    void CheckLog(const std::vector<const char*>& expectations)
    {
        std::vector<std::string> lines = LogLines(log_);
        std::string targetLog = LowerCase(target_);
        for (const char* expectation : expectations) {
            std::string text = expectation;
            if (text.compare(0, 3, "95|") == 0 || text.compare(0, 3, "NT|") == 0) {
                if ((text[0] == '9') != family_.is95)
                    continue;
                text.erase(0, 3);
            }
            bool absent = text[0] == '!';
            text = Replace(text.substr(absent ? 1 : 0), "%T", targetLog);
            EXPECT_EQ(CountMessages(lines, text) > 0, !absent)
                << (absent ? "unexpected: " : "missing: ") << text << "\n" << log_;
        }
    }

  private:
    const Family& family_;
    std::string target_;
    const char* context_;
    DirModel model_;
    std::string log_;
};

void PrintTo(const Family& family, std::ostream* out)
{
    *out << family.name;
}

class Engine : public testing::TestWithParam<Family> {
  protected:
    void SetUp() override
    {
        if (g_PayloadDir.empty())
            GTEST_SKIP() << "no --payload= directory given";
        CreateDirectoryA("C:\\e2e", NULL);
    }
    std::string Target(const char* suffix) const
    {
        return std::string("C:\\e2e\\") + GetParam().name + suffix + g_TargetPart + "\\";
    }
};

TEST_P(Engine, ImmediateInstallsUpgradesAndRollBack)
{
    LANGID language = PRIMARYLANGID(GetUserDefaultLangID());
    ASSERT_TRUE(language == LANG_ENGLISH || language == LANG_JAPANESE || language == LANG_CHINESE)
        << "the tables expect a system that takes the English entries";
    Sequence sequence(GetParam(), Target(""), "main");
    for (size_t i = 0; i < kMainSteps.size() && !HasFatalFailure(); ++i)
        sequence.Run(kMainSteps[i], i);
}

// The pending-rename records of the running family as they stand.
struct Pending {
    std::string value;    // NT: PendingFileRenameOperations ("" when absent)
    std::string wininit;  // 95: WININIT.INI ("<none>" when absent)
    std::string record;   // the move record file ("<none>" when absent)
    bool operator==(const Pending& other) const
    {
        return value == other.value && wininit == other.wininit && record == other.record;
    }
};

std::string FileOrNone(const std::string& path)
{
    std::string bytes;
    return ReadWholeFile(path, &bytes) ? bytes : "<none>";
}

std::string MoveRecordPath() { return SystemDir() + "qnbinit.TMP"; }
std::string WininitPath() { return WindowsDir() + "wininit.ini"; }

Pending ReadPending()
{
    return Pending{PendingValue(), FileOrNone(WininitPath()), FileOrNone(MoveRecordPath())};
}

std::ostream& operator<<(std::ostream& out, const Pending& pending)
{
    std::string value = pending.value;
    for (char& c : value)
        if (!c)
            c = '|';
    return out << "value [" << value << "] wininit [" << pending.wininit << "] record ["
               << pending.record.size() << " bytes]";
}

std::string Upper(const std::string& path) { return UpperCase(ShortPath(path)); }

bool RestartDone(void* sequence)
{
    const Sequence* s = (const Sequence*)sequence;
    return s->Differences().empty() && PendingValue().empty() && !FileExistsAt(WininitPath()) &&
           !FileExistsAt(MoveRecordPath());
}

TEST_P(Engine, DelayedMovesSecondRunAndRestart)
{
    KeepThroughRestarts();
    const Family& family = GetParam();
    Sequence sequence(family, Target("r"), "restart");
    const std::string target = sequence.target();
    Pending before = ReadPending();
    ASSERT_EQ(before.record, "<none>") << "a move record file is left from an earlier test";
    ASSERT_EQ(before.wininit, "<none>") << "a WININIT.INI is left from an earlier test";
    ASSERT_EQ(before.value, "") << "renames are pending from an earlier test";
    // In a 64-bit prefix this program's system32 would be syswow64, and the
    // restart would look for the move record in the other one.
    ASSERT_FALSE(FileExistsAt(WindowsDir() + "syswow64")) << "the test prefix is not a 32-bit one";

    // A failed run puts every record back as it was.
    sequence.Run(kRestartSteps[0], 0);
    EXPECT_EQ(ReadPending(), before);

    // The replacement and the deletions wait for the restart: in the move
    // record file, and in the family's own pending-rename records.
    sequence.Run(kRestartSteps[1], 1);
    Pending queued = ReadPending();
    RenamePairs records = MoveRecords(queued.record);
    ASSERT_EQ(records.size(), 1u) << queued;
    std::string image = records[0].first;
    EXPECT_EQ(ContentOf("RA/DRV.SYS"), FileOrNone(image));
    EXPECT_EQ(LongUpper(image).substr(0, target.size()), UpperCase(target)) << image;
    EXPECT_EQ(LongUpper(records[0].second), UpperCase(target + "DRV.SYS"));
    if (family.is95) {
        EXPECT_EQ(queued.wininit, "[RENAME]\r\nNUL=" + Upper(target + "stale.sys") + "\r\nNUL=" +
                                      Upper(MoveRecordPath()) + "\r\n" + Upper(target + "drv.sys") + "=" +
                                      Upper(image) + "\r\n");
        EXPECT_EQ(queued.value, "");
    } else {
        // MoveFileExA flags 5 (replace at restart) and 4 (delete at restart).
        RenamePairs expected = {{LongUpper(image), "!" + UpperCase(target + "DRV.SYS")},
                                {UpperCase(MoveRecordPath()), ""},
                                {UpperCase(target + "STALE.SYS"), ""}};
        EXPECT_EQ(PendingPairs(queued.value), expected) << queued;
        EXPECT_EQ(queued.wininit, "<none>");
    }

    // A second run before the restart refreshes the pending file and queues
    // no second replacement (on NT the deletion is queued once more).
    sequence.Run(kRestartSteps[2], 2);
    Pending again = ReadPending();
    EXPECT_EQ(again.record, queued.record);
    EXPECT_EQ(ContentOf("RB/DRV.SYS"), FileOrNone(image));
    if (family.is95) {
        EXPECT_EQ(again.wininit, queued.wininit);
    } else {
        RenamePairs expected = PendingPairs(queued.value);
        expected.emplace_back(UpperCase(target + "STALE.SYS"), "");
        EXPECT_EQ(PendingPairs(again.value), expected) << again;
    }

    // A visual run restarts the system: every file ends in place and the
    // records are gone.
    sequence.Run(kRestartSteps[3], 3);
    bool done = WaitForRestart(RestartDone, &sequence, 60000);
    EXPECT_TRUE(done) << sequence.Differences() << ReadPending();

    // The run after the restart deletes work files it finds lying about.
    std::string staleWininit = TempDir() + "wininit.TMP";
    ASSERT_TRUE(WriteWholeFile(staleWininit, "stale"));
    ASSERT_TRUE(WriteWholeFile(MoveRecordPath(), "stale"));
    sequence.Run(kRestartSteps[4], 4);
    EXPECT_FALSE(FileExistsAt(staleWininit));
    EXPECT_FALSE(FileExistsAt(MoveRecordPath()));
    EXPECT_EQ(ReadPending(), before);
}

// An entry marked for one language is installed on a system of that
// language only (the tests run once more under a German locale).
TEST_P(Engine, LanguageEntries)
{
    // E2E_LANGUAGE names the language the locale of the run should give.
    const char* wanted = getenv("E2E_LANGUAGE");
    bool german = wanted && strcmp(wanted, "german") == 0;
    ASSERT_EQ(PRIMARYLANGID(GetUserDefaultLangID()), german ? LANG_GERMAN : LANG_ENGLISH);
    Step fresh = kMainSteps[0];
    for (FileState& file : fresh.after)
        if (strcmp(file.name, "en.txt") == 0)
            file = german ? FileState{"de.txt", "A/DE.TXT"} : file;
    fresh.log = {german ? "Extract from: DE.TXT" : "Extract from: EN.TXT",
                 german ? "!Extract from: EN.TXT" : "!Extract from: DE.TXT"};
    Sequence sequence(GetParam(), Target("l"), "main");
    sequence.Run(fresh, 0);
}

// What a roll-back must not leave behind, one run each.
class RollBack : public Engine {};

// A file that waits for the restart gets an empty stand-in at a target that
// had none, so that it has a short name for the rename: the roll-back takes
// the rename back and the stand-in with it.
TEST_P(RollBack, LeavesNoEmptyFileAtANewTarget)
{
    Sequence sequence(GetParam(), Target("x"), "restart");
    Pending before = ReadPending();
    sequence.Run({"RA", "/silent /leavelog", "E2E_FAIL=1", {}, 2050, {{"now.sys", "RA/NOW.SYS"}},
                  {"Move delayed from ", "Starting image file cleanup pass - full cleanup",
                   "Deleting empty stand-in %Tdrv.sys"}},
                 0);
    EXPECT_EQ(ReadPending(), before);
}

// Only a backup the run made itself is copied back: one an earlier run left
// beside a target that this run found missing stays where it is, and the
// new file stays at the target.
TEST_P(RollBack, RestoresNoBackupOfAnEarlierRun)
{
    Step failed = kMainSteps[0];
    failed.environment = "E2E_FAIL=1";
    failed.before = {{"core.bak", "=backup of an earlier run"}};
    failed.message = 2050;
    failed.log = {"Starting image file cleanup pass - full cleanup", "!Restore "};
    Sequence sequence(GetParam(), Target("y"), "main");
    sequence.Run(failed, 0);
}

// A second run before the restart copies its newer image over the file the
// pending rename will move. When that run then fails, the roll-back puts
// the records back, and the file they name must be the earlier run's again:
// else the restart installs what the failed run brought.
TEST_P(RollBack, KeepsThePendingFileOfAnEarlierRun)
{
    Sequence sequence(GetParam(), Target("z"), "restart");
    Pending none = ReadPending();
    ASSERT_EQ(none, (Pending{"", "<none>", "<none>"})) << "renames are pending from an earlier test";
    sequence.Run({"RA", "/silent /leavelog", "", {{"drv.sys", "=drv old"}}, 2,
                  {{"drv.bak", "=drv old"}, {"now.sys", "RA/NOW.SYS"}, {"qnb*.tmp", "RA/DRV.SYS"}}, {}},
                 0);
    Pending queued = ReadPending();
    sequence.Run({"RB", "/silent /leavelog", "E2E_FAIL=1", {}, 2050, {},
                  {"Duplicate installation - substituting temporary file ",
                   "Starting image file cleanup pass - full cleanup"}},
                 1);
    EXPECT_EQ(ReadPending(), queued);
    // Nothing of this test may wait for a restart of another one.
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                      &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "PendingFileRenameOperations");
        RegCloseKey(key);
    }
    DeleteFileA(WininitPath().c_str());
    DeleteFileA(MoveRecordPath().c_str());
}

// The registry script travels in the archive and is interpreted after the
// files are in place, per family.
const char kScriptKey[] = "SOFTWARE\\Vornak\\E2E";

// A value of the script's key as (type, bytes); type 0 when it is missing.
std::pair<DWORD, std::string> ScriptValue(const char* name)
{
    std::pair<DWORD, std::string> value(0, "");
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScriptKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, NULL, &value.first, NULL, &size) == ERROR_SUCCESS) {
        value.second.assign(size, '\0');
        if (size)
            RegQueryValueExA(key, name, NULL, &value.first, (BYTE*)&value.second[0], &size);
    } else {
        value.first = 0;
    }
    RegCloseKey(key);
    return value;
}

// A user's program that writes its own registry script over every
// QNB*.TMP file in Temp as long as it lives.
const char kPwnedScript[] = "[HKEY_LOCAL_MACHINE]\r\nREGKEY = SOFTWARE\\Vornak\\E2E\r\nPwned = REG_SZ:evil\r\n";
struct ScriptSwapper {
    volatile bool stop = false;
    HANDLE thread = CreateThread(NULL, 0, Watch, this, 0, NULL);
    ~ScriptSwapper() { stop = true, WaitForSingleObject(thread, INFINITE), CloseHandle(thread); }
    static DWORD WINAPI Watch(void* self)
    {
        for (WIN32_FIND_DATAA found; !((ScriptSwapper*)self)->stop; Sleep(1)) {
            HANDLE search = FindFirstFileA((TempDir() + "QNB*.TMP").c_str(), &found);
            for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
                HANDLE file = CreateFileA((TempDir() + found.cFileName).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
                DWORD written;
                if (file != INVALID_HANDLE_VALUE && WriteFile(file, kPwnedScript, sizeof kPwnedScript - 1, &written, NULL))
                    SetEndOfFile(file);
                CloseHandle(file);
            }
            FindClose(search);
        }
        return 0;
    }
};

TEST_P(Engine, RegistryScript)
{
    const Family& family = GetParam();
    Sequence sequence(family, Target("s"), "registry");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScriptKey);
    // An optional value the user has already is kept.
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kScriptKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Kept", 0, REG_SZ, (const BYTE*)"old", 4);
    RegCloseKey(key);
    std::string target = LowerCase(sequence.target());
    ScriptSwapper swapper;
    sequence.Run({"REG", "/silent /leavelog", "", {}, 1, {{"core.dll", "REG/CORE.DLL"}},
                  {"Parsing registry file ", "REGKEY(4)=SOFTWARE\\Vornak\\E2E", "OPTIONAL(14) exists, skipping",
                   "Starting image file cleanup pass - partial cleanup"}},
                 0);
    EXPECT_EQ(ScriptValue("Pwned").first, 0u) << "a script swapped in Temp was parsed";
    EXPECT_EQ(ScriptValue("Target"), std::make_pair((DWORD)REG_SZ, target + "core.dll" + std::string(1, '\0')));
    EXPECT_EQ(ScriptValue("Count"), std::make_pair((DWORD)REG_DWORD, std::string("\x10\0\0\0", 4)));
    EXPECT_EQ(ScriptValue("Bytes"), std::make_pair((DWORD)REG_BINARY, std::string("\1\2\0\0", 4)));
    EXPECT_EQ(ScriptValue("Family"),
              std::make_pair((DWORD)REG_SZ, std::string(family.is95 ? "95" : "NT") + std::string(1, '\0')));
    EXPECT_EQ(ScriptValue("Kept"), std::make_pair((DWORD)REG_SZ, std::string("old", 4)));
    // The script was never an image in the Temp directory.
    EXPECT_EQ(CountMessages(LogLines(sequence.log()), "Immediate delete " + LowerCase(TempDir())), 0)
        << sequence.log();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScriptKey);
}

std::string NameOf(const testing::TestParamInfo<Family>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Families, Engine, testing::ValuesIn(kFamilies), NameOf);
// The roll-back is the same code for every family: one of each kind.
INSTANTIATE_TEST_SUITE_P(OneOfEachKind, RollBack, testing::Values(kFamilies[1], kFamilies[5]), NameOf);

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    ParseE2EArguments(argc, argv);
    g_TargetPart = BecomeEastAsianUser();
    for (int i = 1; i < argc; ++i)
        if (strncmp(argv[i], "--payload=", 10) == 0) {
            g_PayloadDir = WindowsPath(argv[i] + 10);
            if (g_PayloadDir.back() != '\\')
                g_PayloadDir += '\\';
        }
    return RUN_ALL_TESTS();
}
