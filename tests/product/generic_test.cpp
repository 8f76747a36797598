// The generic setup as a vendor builds it: acme-setup.exe, the example
// product's setup, run silently on a system of the 95, NT 4 and 2000/XP
// families: a fresh installation into new folders under Program Files, a
// second run with nothing to do, an upgrade over an older library, a newer
// library left alone, a newer version of the product refused, a failed run
// rolled back; the installed uninstaller run after them; and setups whose
// product description is faulty or missing, which change nothing.
#include <gtest/gtest.h>

#include "product.h"

namespace {

const char kWidgetKey[] = "SOFTWARE\\Acme\\Widget";
const char kEntryKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme Widget";
const char* const kWidgetFiles[] = {"WIDGET.EXE", "WIDGET.DLL", "README.TXT"};

std::string ProgramFiles()
{
    std::string value = RegistryValue("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
    return value.substr(0, value.find('\0')) + "\\";
}

std::string Maker()
{
    return ProgramFiles() + "Acme\\";
}

std::string Target()
{
    return Maker() + "Widget\\";
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Uninstaller()
{
    return Target() + "UNINSTAL.EXE";
}

void RemoveAcme()
{
    DeleteFileA(Uninstaller().c_str());
    // Where an uninstaller that ran moved itself aside until the restart.
    WIN32_FIND_DATAA aside;
    for (HANDLE found; (found = FindFirstFileA((Target() + "UNI*.tmp").c_str(), &aside)) != INVALID_HANDLE_VALUE;) {
        FindClose(found);
        if (!DeleteFileA((Target() + aside.cFileName).c_str()))
            break;
    }
    for (const char* name : kWidgetFiles) {
        DeleteFileA((Target() + name).c_str());
        DeleteFileA((Target() + name + ".BAK").c_str());
    }
    for (const std::string& image : LeftoverImages(Target()))
        DeleteFileA(image.c_str());
    for (const std::string& folder : {Target() + "Data", Target(), Maker()})
        RemoveDirectoryA(folder.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acme");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kEntryKey);
}

// What an installation adds to the registry, and nothing else.
std::string Registered()
{
    std::vector<std::string> added = {"+ key HKLM\\SOFTWARE\\Acme", std::string("+ key HKLM\\") + kWidgetKey,
                                      std::string("+ key HKLM\\") + kEntryKey};
    for (const char* value : {"Version", "ShowThings"})
        added.push_back(std::string("+ value HKLM\\") + kWidgetKey + "\\" + value);
    for (const char* value : {"DisplayName", "Publisher", "DisplayVersion", "UninstallString", "InstallRecord"})
        added.push_back(std::string("+ value HKLM\\") + kEntryKey + "\\" + value);
    return Listing(added);
}

class Generic : public ProductTest {
  protected:
    void SetUp() override
    {
        ProductTest::SetUp();
        if (g_Product.generic.empty())
            GTEST_SKIP() << "no --generic= path given";
        RemoveAcme();
    }
    void TearDown() override
    {
        RemoveAcme();
        ProductTest::TearDown();
    }

    static std::string Packed(const std::string& name) { return Contents(g_Product.generic + name); }

    // A copy of one of the generic setups that reports the family's version,
    // run silently.
    static RunResult Run(const std::string& setup, const Family& family)
    {
        std::string copy = PrepareProgram(g_Product.generic + setup + ".exe", setup + "_" + family.version + ".exe",
                                          family.version);
        DeleteFileA(LogPathOf(copy).c_str());
        RunResult run = RunProgram(copy, "/silent /leavelog");
        EXPECT_TRUE(run.started && !run.timedOut);
        EXPECT_EQ(InconsistentStatusLine(run.log), "");
        DeleteFileA(LogPathOf(copy).c_str());
        return run;
    }

    // The same, run visually: a run that stops before its wizard says why.
    static AnsweredRun RunVisually(const std::string& setup, const Family& family)
    {
        return RunAnswering(PrepareProgram(g_Product.generic + setup + ".exe", setup + "_visual.exe", family.version),
                            "", {IDOK});
    }

    // The uninstaller the setup installed, as the family's Windows runs it.
    static RunResult Uninstall(const Family& family)
    {
        SetReportedVersion("UNINSTAL.EXE", family.version);
        DeleteFileA(LogPathOf(Uninstaller()).c_str());
        RunResult run = RunProgram(Uninstaller(), "/silent /leavelog");
        EXPECT_TRUE(run.started && !run.timedOut);
        EXPECT_EQ(InconsistentStatusLine(run.log), "");
        DeleteFileA(LogPathOf(Uninstaller()).c_str());
        return run;
    }
};

TEST_F(Generic, InstallRerunUpgradeNewerAndRollBackOnEachFamily)
{
    for (const Family* family : {&kFamilies[0], &kFamilies[3], &kFamilies[5]}) {
        SCOPED_TRACE(family->version);
        Snapshot before = TakeSnapshot();

        RunResult fresh = Run("acme-setup", *family);
        EXPECT_EQ(Hex8(fresh.exitCode & 0xFFF00000), Hex8(0x00100000)) << fresh.log;
        EXPECT_GE(FindMessage(LogLines(fresh.log), "Product Acme Widget 1.2.0.3"), 0) << fresh.log;
        for (const char* name : kWidgetFiles)
            EXPECT_EQ(Contents(Target() + name), Packed(name)) << name;
        EXPECT_EQ(VersionFacts(Target() + "WIDGET.DLL"), "1.2.0.3 1.2.0.3 Acme: Acme Widget library");
        EXPECT_TRUE(IsFolder(Target() + "Data"));
        EXPECT_EQ(Listing(Differences(before, TakeSnapshot())), Registered());
        EXPECT_EQ(RegistryValue(kWidgetKey, "Version"), std::string("1.2.0.3\0", 8));
        EXPECT_EQ(RegistryValue(kWidgetKey, "ShowThings"), std::string("\1\0\0\0", 4));
        EXPECT_EQ(RegistryValue(kEntryKey, "DisplayName"), std::string("Acme Widget\0", 12));
        EXPECT_EQ(RegistryValue(kEntryKey, "Publisher"), std::string("Acme\0", 5));
        EXPECT_EQ(RegistryValue(kEntryKey, "DisplayVersion"), std::string("1.2.0.3\0", 8));
        EXPECT_EQ(LeftoverImages(Target()).size() + LeftoverImages(TempDir()).size(), 0u);

        Snapshot installed = TakeSnapshot();
        RunResult again = Run("acme-setup", *family);
        EXPECT_EQ(Hex8(again.exitCode & 0xFFF00000), Hex8(0)) << again.log;
        EXPECT_EQ(CountMessages(LogLines(again.log), "Move immediate"), 0) << again.log;
        EXPECT_EQ(Listing(Differences(installed, TakeSnapshot())), "");

        // An older library is replaced and kept beside it; the program,
        // of one group with it, goes in again and keeps a backup of its own.
        std::string older = Contents(g_Product.drivers + "widget11.dll");
        ASSERT_TRUE(CopyFileA((g_Product.drivers + "widget11.dll").c_str(), (Target() + "WIDGET.DLL").c_str(), FALSE));
        RunResult upgrade = Run("acme-setup", *family);
        EXPECT_EQ(Hex8(upgrade.exitCode & 0xFFF00000), Hex8(0x00100000)) << upgrade.log;
        EXPECT_EQ(Contents(Target() + "WIDGET.DLL"), Packed("WIDGET.DLL"));
        EXPECT_EQ(Contents(Target() + "WIDGET.DLL.BAK"), older);
        EXPECT_EQ(Contents(Target() + "WIDGET.EXE.BAK"), Packed("WIDGET.EXE"));

        // A newer library is never replaced by an older one.
        std::string newer = Contents(g_Product.drivers + "widget20.dll");
        ASSERT_TRUE(CopyFileA((g_Product.drivers + "widget20.dll").c_str(), (Target() + "WIDGET.DLL").c_str(), FALSE));
        RunResult refused = Run("acme-setup", *family);
        EXPECT_EQ(Hex8(refused.exitCode & 0xFFF00000), Hex8(0)) << refused.log;
        EXPECT_EQ(Contents(Target() + "WIDGET.DLL"), newer);

        // A newer version of the product is installed: the setup stops
        // before it changes anything (versions compare by number).
        HKEY entry;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_SET_VALUE, &entry), ERROR_SUCCESS);
        RegSetValueExA(entry, "DisplayVersion", 0, REG_SZ, (const BYTE*)"1.10.0.0", 9);
        Snapshot newerProduct = TakeSnapshot();
        RunResult cancelled = Run("acme-setup", *family);
        EXPECT_EQ(StatusMessage(cancelled.exitCode), 2049u) << cancelled.log;
        AnsweredRun told = RunVisually("acme-setup", *family);
        EXPECT_EQ(StatusMessage(told.run.exitCode), 2049u);
        ASSERT_EQ(told.boxes.size(), 1u);
        // In the user's language: it names the maker and the product.
        EXPECT_EQ(told.boxes[0].caption.rfind("Acme ", 0), 0u) << told.boxes[0].caption;
        EXPECT_NE(told.boxes[0].text.find("Acme Widget"), std::string::npos) << told.boxes[0].text;
        EXPECT_EQ(Listing(Differences(newerProduct, TakeSnapshot())), "");
        RegSetValueExA(entry, "DisplayVersion", 0, REG_SZ, (const BYTE*)"1.2.0.3", 8);
        RegCloseKey(entry);

        // A library that another program holds open fails the run once the
        // program was replaced: the older program is put back, the folder
        // the run made is removed, the registry is untouched.
        for (const char* name : {"WIDGET.EXE", "WIDGET.DLL"})
            ASSERT_TRUE(CopyFileA((g_Product.drivers + "widget11.dll").c_str(), (Target() + name).c_str(), FALSE));
        ASSERT_TRUE(RemoveDirectoryA((Target() + "Data").c_str()));
        for (const char* backup : {"WIDGET.EXE.BAK", "WIDGET.DLL.BAK"})
            DeleteFileA((Target() + backup).c_str());
        HANDLE held = CreateFileA((Target() + "WIDGET.DLL").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                  OPEN_EXISTING, 0, NULL);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        Snapshot heldBefore = TakeSnapshot();
        RunResult failed = Run("acme-setup", *family);
        CloseHandle(held);
        EXPECT_TRUE(failed.exitCode & 0x80000000) << failed.log;
        EXPECT_GE(FindMessage(LogLines(failed.log), "Move immediate"), 0) << failed.log;
        EXPECT_EQ(Contents(Target() + "WIDGET.EXE"), older);
        EXPECT_EQ(Contents(Target() + "WIDGET.DLL"), older);
        EXPECT_FALSE(IsFolder(Target() + "Data")) << "made by the failed run";
        EXPECT_EQ(LeftoverImages(Target()).size() + LeftoverImages(TempDir()).size(), 0u) << failed.log;
        EXPECT_EQ(Listing(Differences(heldBefore, TakeSnapshot())), "");

        RemoveAcme();
    }
}

// The uninstaller removes what the runs installed and nothing else: after a
// fresh installation everything goes (the uninstaller and the folder that
// holds it at the restart, where the system can remove a folder then); after
// an upgrade over another library that library is put back, the product's
// own earlier program kept as a backup goes, and a file changed since stays;
// a file in use goes at the restart.
TEST_F(Generic, UninstallRemovesWhatWasInstalledOnEachFamily)
{
    for (const Family* family : {&kFamilies[0], &kFamilies[3], &kFamilies[5]}) {
        SCOPED_TRACE(family->version);
        Snapshot before = TakeSnapshot();
        RunResult fresh = Run("acme-setup", *family);
        ASSERT_EQ(Hex8(fresh.exitCode & 0xFFF00000), Hex8(0x00100000)) << fresh.log;
        EXPECT_EQ(LowerCase(RegistryValue(kEntryKey, "UninstallString")), LowerCase("\"" + Uninstaller() + "\"") + '\0');
        RunResult removed = Uninstall(*family);
        EXPECT_EQ(Hex8(removed.exitCode & 0xFFF00000), Hex8(0x00100000)) << removed.log;
        for (const char* name : kWidgetFiles)
            EXPECT_FALSE(FileExistsAt(Target() + name)) << name;
        EXPECT_FALSE(IsFolder(Target() + "Data"));
        EXPECT_FALSE(KeyExists("SOFTWARE\\Acme"));
        EXPECT_FALSE(KeyExists(kEntryKey));
        ASSERT_TRUE(Restart());
        EXPECT_FALSE(FileExistsAt(Uninstaller()));
        EXPECT_EQ(IsFolder(Maker()), !family->nt) << "the 95 family's restart keeps folders";
        EXPECT_EQ(Listing(Differences(before, TakeSnapshot())), family->nt ? "" : "+ file c:\\windows\\wininit.bak\n");
        RemoveAcme();
        DeleteFileA((WindowsDir() + "wininit.bak").c_str());

        // An upgrade over another library, and a readme the user changed.
        before = TakeSnapshot();
        Run("acme-setup", *family);
        std::string older = Contents(g_Product.drivers + "widget11.dll");
        ASSERT_TRUE(CopyFileA((g_Product.drivers + "widget11.dll").c_str(), (Target() + "WIDGET.DLL").c_str(), FALSE));
        RunResult upgrade = Run("acme-setup", *family);
        EXPECT_EQ(Hex8(upgrade.exitCode & 0xFFF00000), Hex8(0x00100000)) << upgrade.log;
        // The record says which backup is whose: the other library's is put
        // back, the product's own earlier program goes with the product.
        const std::string end(1, '\0');
        std::string record = end + LowerCase(RegistryValue(kEntryKey, "InstallRecord"));
        EXPECT_NE(record.find(end + "b|" + LowerCase(Target()) + "widget.dll" + end), std::string::npos) << record;
        EXPECT_NE(record.find("|" + LowerCase(Target()) + "widget.exe.bak" + end), std::string::npos) << record;
        EXPECT_EQ(record.find("|" + LowerCase(Target()) + "widget.dll.bak"), std::string::npos) << record;
        ASSERT_TRUE(WriteWholeFile(Target() + "README.TXT", "my own notes"));
        removed = Uninstall(*family);
        EXPECT_EQ(Hex8(removed.exitCode & 0xFFF00000), Hex8(0x00100000)) << removed.log;
        EXPECT_EQ(Contents(Target() + "WIDGET.DLL"), older);
        EXPECT_EQ(Contents(Target() + "README.TXT"), "my own notes");
        EXPECT_GE(FindMessage(LogLines(removed.log), "Put " + LowerCase(Target()) + "WIDGET.DLL.BAK back"), 0)
            << removed.log;
        EXPECT_GE(FindMessage(LogLines(removed.log), LowerCase(Target()) + "README.TXT is not the file"), 0)
            << removed.log;
        for (const char* gone : {"WIDGET.EXE", "WIDGET.EXE.BAK", "WIDGET.DLL.BAK"})
            EXPECT_FALSE(FileExistsAt(Target() + gone)) << gone;
        EXPECT_FALSE(KeyExists("SOFTWARE\\Acme"));
        EXPECT_FALSE(KeyExists(kEntryKey));
        ASSERT_TRUE(Restart());
        RemoveAcme();
        DeleteFileA((WindowsDir() + "wininit.bak").c_str());

        // A library in use goes at the restart.
        Run("acme-setup", *family);
        HANDLE held = CreateFileA((Target() + "WIDGET.DLL").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                  OPEN_EXISTING, 0, NULL);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        RunResult pending = Uninstall(*family);
        CloseHandle(held);
        EXPECT_EQ(Hex8(pending.exitCode & 0xFFF00000), Hex8(0x00200000)) << pending.log;
        EXPECT_GE(FindMessage(LogLines(pending.log), "DeleteFile " + LowerCase(Target()) + "WIDGET.DLL"), 0)
            << pending.log;
        EXPECT_TRUE(FileExistsAt(Target() + "WIDGET.DLL"));
        EXPECT_FALSE(FileExistsAt(Target() + "WIDGET.EXE"));
        ASSERT_TRUE(Restart());
        EXPECT_FALSE(FileExistsAt(Target() + "WIDGET.DLL"));
        EXPECT_FALSE(FileExistsAt(Uninstaller()));
        RemoveAcme();
        DeleteFileA((WindowsDir() + "wininit.bak").c_str());

        // Installed again before the restart that deletes the uninstaller:
        // the restart leaves the new one.
        Run("acme-setup", *family);
        Uninstall(*family);
        Run("acme-setup", *family);
        ASSERT_TRUE(Restart());
        EXPECT_EQ(Contents(Uninstaller()).substr(0, 2), "MZ");
        EXPECT_EQ(StatusMessage(Uninstall(*family).exitCode), 1u);
        ASSERT_TRUE(Restart());
        RemoveAcme();
        DeleteFileA((WindowsDir() + "wininit.bak").c_str());
    }
}

// The uninstaller keeps what was there before the first run: another
// library in a folder of the user's (put back), and the maker's key that
// holds another product's values. A setup whose library takes effect at
// the restart records it as any other, through the restart. An uninstaller
// that no entry names changes nothing.
TEST_F(Generic, UninstallKeepsWhatWasThereBeforeOnEachFamily)
{
    for (const Family* family : {&kFamilies[0], &kFamilies[3], &kFamilies[5]}) {
        SCOPED_TRACE(family->version);
        std::string older = Contents(g_Product.drivers + "widget11.dll");
        ASSERT_TRUE(CreateDirectoryA(Maker().c_str(), NULL) && CreateDirectoryA(Target().c_str(), NULL));
        ASSERT_TRUE(CopyFileA((g_Product.drivers + "widget11.dll").c_str(), (Target() + "WIDGET.DLL").c_str(), FALSE));
        HKEY maker;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acme", &maker), ERROR_SUCCESS);
        RegSetValueExA(maker, "Gadget", 0, REG_SZ, (const BYTE*)"1", 2);
        RegCloseKey(maker);
        Snapshot before = TakeSnapshot();
        RunResult installed = Run("acme-setup", *family);
        EXPECT_EQ(Hex8(installed.exitCode & 0xFFF00000), Hex8(0x00100000)) << installed.log;
        RunResult removed = Uninstall(*family);
        EXPECT_EQ(Hex8(removed.exitCode & 0xFFF00000), Hex8(0x00100000)) << removed.log;
        EXPECT_EQ(Contents(Target() + "WIDGET.DLL"), older);
        EXPECT_FALSE(FileExistsAt(Target() + "WIDGET.EXE"));
        EXPECT_FALSE(IsFolder(Target() + "Data"));
        ASSERT_TRUE(Restart());
        EXPECT_TRUE(IsFolder(Target())) << "not made by the setup";
        EXPECT_EQ(Listing(Differences(before, TakeSnapshot())), family->nt ? "" : "+ file c:\\windows\\wininit.bak\n");
        RemoveAcme();
        DeleteFileA((WindowsDir() + "wininit.bak").c_str());

        RunResult pending = Run("restart", *family);
        EXPECT_EQ(Hex8(pending.exitCode & 0xFFF00000), Hex8(0x00200000)) << pending.log;
        ASSERT_TRUE(Restart());
        std::string stray = g_Product.generic + "UNINSTAL.EXE";
        ASSERT_TRUE(CopyFileA(Uninstaller().c_str(), stray.c_str(), FALSE));
        Snapshot restarted = TakeSnapshot();
        RunResult unnamed = RunProgram(stray, "/silent");
        EXPECT_EQ(StatusMessage(unnamed.exitCode), 2081u) << unnamed.log;
        EXPECT_EQ(Listing(Differences(restarted, TakeSnapshot())), "");
        DeleteFileA(stray.c_str());
        DeleteFileA(LogPathOf(stray).c_str());
        removed = Uninstall(*family);
        EXPECT_EQ(Hex8(removed.exitCode & 0xFFF00000), Hex8(0x00100000)) << removed.log;
        for (const char* name : {"WIDGET.EXE", "WIDGET.DLL"})
            EXPECT_FALSE(FileExistsAt(Target() + name)) << name;
        EXPECT_FALSE(KeyExists(kWidgetKey));
        EXPECT_FALSE(KeyExists(kEntryKey));
        ASSERT_TRUE(Restart());
        RemoveAcme();
        DeleteFileA((WindowsDir() + "wininit.bak").c_str());
    }
}

// A run that cannot put its uninstaller in place (a folder has its name)
// fails and is rolled back: no product file, no uninstall entry.
TEST_F(Generic, UninstallerThatCannotBePlacedFailsTheRun)
{
    ASSERT_TRUE(CreateDirectoryA(Maker().c_str(), NULL) && CreateDirectoryA(Target().c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(Uninstaller().c_str(), NULL));
    RunResult failed = Run("acme-setup", kFamilies[5]);
    EXPECT_TRUE(failed.exitCode & 0x80000000) << failed.log;
    for (const char* name : kWidgetFiles)
        EXPECT_FALSE(FileExistsAt(Target() + name)) << name << failed.log;
    EXPECT_FALSE(IsFolder(Target() + "Data"));
    EXPECT_FALSE(KeyExists(kEntryKey));
    EXPECT_EQ(LeftoverImages(Target()).size(), 0u) << failed.log;
    RemoveDirectoryA(Uninstaller().c_str());
}

// Asked first, the uninstaller does nothing when the answer is No, and
// says it has removed the product after a Yes.
TEST_F(Generic, UninstallAsksFirst)
{
    Run("acme-setup", kFamilies[5]);
    SetReportedVersion("UNINSTAL.EXE", kFamilies[5].version);
    Snapshot installed = TakeSnapshot();
    AnsweredRun no = RunAnswering(Uninstaller(), "", {IDNO});
    EXPECT_EQ(StatusMessage(no.run.exitCode), 2049u) << no.run.log;
    ASSERT_EQ(no.boxes.size(), 1u);
    EXPECT_EQ(no.boxes[0].text, "Remove Acme Widget and all of its components?");
    EXPECT_EQ(Listing(Differences(installed, TakeSnapshot())), "");
    EXPECT_TRUE(FileExistsAt(Target() + "WIDGET.EXE"));

    AnsweredRun yes = RunAnswering(Uninstaller(), "", {IDYES, IDOK});
    EXPECT_EQ(Hex8(yes.run.exitCode & 0xFFF00000), Hex8(0x00100000)) << yes.run.log;
    ASSERT_EQ(yes.boxes.size(), 2u);
    EXPECT_EQ(yes.boxes[1].text, "Acme Widget was removed.");
    EXPECT_FALSE(FileExistsAt(Target() + "WIDGET.EXE"));
    DeleteFileA(LogPathOf(Uninstaller()).c_str());
}

// A setup whose description has a fault, or that carries none, stops before
// it changes anything, and its log says why; run visually, a box tells its
// user the setup is damaged.
TEST_F(Generic, FaultyOrMissingDescriptionChangesNothing)
{
    struct Row {
        const char* setup;
        const char* logged;
    };
    const Row kRows[] = {{"faulty", "PRODUCT.INI line 4: unknown key"},
                         {"nodesc", "Registry file PRODUCT.INI is not in the archive"}};
    Snapshot before = TakeSnapshot();
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.setup);
        RunResult run = Run(row.setup, kFamilies[5]);
        EXPECT_EQ(StatusMessage(run.exitCode), 2069u) << run.log;
        EXPECT_GE(FindMessage(LogLines(run.log), row.logged), 0) << run.log;
        EXPECT_FALSE(IsFolder(Maker()));
        AnsweredRun told = RunVisually(row.setup, kFamilies[5]);
        EXPECT_EQ(StatusMessage(told.run.exitCode), 2069u);
        ASSERT_EQ(told.boxes.size(), 1u);
        std::string name = std::string(row.setup) + "_visual";
        EXPECT_EQ(told.boxes[0].caption + ": " + told.boxes[0].text.substr(0, told.boxes[0].text.find("The error")),
                  name + " Setup Wizard: An error occurred while installing " + name +
                      ":\nThe setup file is damaged.  Please obtain a new copy of this setup wizard.\n");
        EXPECT_EQ(Listing(Differences(before, TakeSnapshot())), "");
    }
}

}  // namespace
