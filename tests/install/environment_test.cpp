// The installation environment: system facts, directories and paths, the
// whole-file buffer, environment and engine set-up.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "fakes.h"
#include "install.h"
#include "log.h"
#include "upgrade.h"
#include "winfiles.h"

namespace {

class Environment : public ::testing::Test {
protected:
    void SetUp() override { ResetInstaller(); }
    void TearDown() override { ResetInstaller(); }

    std::string LogText()
    {
        CloseLog(TRUE);
        return ReadFileText(dir.file("env.log"));
    }

    TempDir dir;
};

TEST(Probe, VersionClassification)
{
    struct Row {
        DWORD platform, major, minor;
        BOOL is95, isNT, is2KXP, oldShell;
    } rows[] = {
        {1, 4, 10, TRUE, FALSE, FALSE, FALSE},  // Windows 98
        {1, 4, 90, TRUE, FALSE, FALSE, FALSE},  // Me
        {2, 4, 0, FALSE, TRUE, FALSE, FALSE},   // NT 4.0
        {2, 3, 51, FALSE, TRUE, FALSE, TRUE},   // NT 3.51
        {2, 5, 0, FALSE, FALSE, TRUE, FALSE},   // 2000
        {2, 5, 1, FALSE, FALSE, TRUE, FALSE},   // XP
        {2, 6, 0, FALSE, TRUE, FALSE, FALSE},
        {2, 6, 1, FALSE, FALSE, TRUE, FALSE},
        {2, 10, 0, FALSE, TRUE, FALSE, FALSE},
        {0, 3, 10, FALSE, FALSE, FALSE, TRUE},  // Win32s
    };
    for (const Row& row : rows) {
        SystemInfo info = SystemInfo();
        info.isNT = TRUE;  // stale flags are cleared
        ClassifyVersion(row.platform, row.major, row.minor, &info);
        SCOPED_TRACE(std::to_string(row.platform) + " " + std::to_string(row.major) + "." +
                     std::to_string(row.minor));
        EXPECT_EQ(row.is95, info.is95Family);
        EXPECT_EQ(row.isNT, info.isNT);
        EXPECT_EQ(row.is2KXP, info.is2KXP);
        EXPECT_EQ(row.oldShell, info.isOldShell);
    }
}

TEST(Probe, LanguageFromPrimaryLanguage)
{
    EXPECT_EQ((DWORD)LANG_MASK_FRENCH, LanguageMaskOf(0x0C0C));
    EXPECT_EQ((DWORD)LANG_MASK_FRENCH, LanguageMaskOf(0x040C));
    EXPECT_EQ((DWORD)LANG_MASK_ITALIAN, LanguageMaskOf(0x0410));
    EXPECT_EQ((DWORD)LANG_MASK_GERMAN, LanguageMaskOf(0x0407));
    EXPECT_EQ((DWORD)LANG_MASK_SPANISH, LanguageMaskOf(0x0C0A));
    EXPECT_EQ((DWORD)LANG_MASK_ENGLISH, LanguageMaskOf(0x0409));
    EXPECT_EQ((DWORD)LANG_MASK_ENGLISH, LanguageMaskOf(0x0411));
}

TEST_F(Environment, ProbeLogsFactsOnce)
{
    OpenLog(dir.file("env.log").c_str());
    ProbeSystem();
    SystemInfo first = g_System;
    ProbeSystem();
    std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find(": Quenbry INSTALL Library - 1.09 (019)\r\n"));
    EXPECT_EQ(text.find("Quenbry"), text.rfind("Quenbry"));
    EXPECT_NE(std::string::npos, text.find(": OS = Windows "));
    EXPECT_NE(std::string::npos, text.find(": Platform ID = INTEL\r\n"));
    EXPECT_NE(std::string::npos, text.find(": OS Language = "));
    EXPECT_EQ(1, (int)first.is95Family + (int)first.isNT + (int)first.is2KXP);
    EXPECT_EQ(0u, g_System.languageMask & ~0x1F000000u);
    EXPECT_NE(0u, g_System.languageMask);
}

TEST(Paths, NormalizeDirPath)
{
    char a[MAX_PATH] = "C:/Program Files/X/";
    NormalizeDirPath(a);
    EXPECT_STREQ("C:\\Program Files\\X", a);
    char b[MAX_PATH] = "c:\\a\\\\";
    NormalizeDirPath(b);
    EXPECT_STREQ("c:\\a\\", b);
    char c[MAX_PATH] = "";
    NormalizeDirPath(c);
    EXPECT_STREQ("", c);
    char d[MAX_PATH] = "/";
    NormalizeDirPath(d);
    EXPECT_STREQ("", d);
}

TEST(Paths, SystemDirectoriesPerFamily)
{
    char system16[MAX_PATH], drivers[MAX_PATH];
    DeriveSystemDirs("c:\\winnt\\system32\\", FALSE, system16, drivers);
    EXPECT_STREQ("c:\\winnt\\system\\", system16);
    EXPECT_STREQ("c:\\winnt\\system32\\drivers\\", drivers);
    DeriveSystemDirs("c:\\windows\\system\\", TRUE, system16, drivers);
    EXPECT_STREQ("c:\\windows\\system\\", system16);
    EXPECT_STREQ("c:\\windows\\system\\iosubsys\\", drivers);

    // Room for System32 but not for the driver directory below it.
    std::string system32 = "c:\\" + std::string(250, 'w') + "\\";
    EXPECT_FALSE(DeriveSystemDirs(system32.c_str(), FALSE, system16, drivers));
    EXPECT_STREQ("c:\\system\\", system16);
    EXPECT_STREQ("", drivers);
}

TEST_F(Environment, DirectorySetIsNormalisedAndLogged)
{
    OpenLog(dir.file("env.log").c_str());
    SetupDirectories("C:/Program Files/X/");
    EXPECT_STREQ("c:\\program files\\x\\", GetInstallDir(DIR_TARGET));
    SetupDirectories("ignored");  // once per process
    EXPECT_STREQ("c:\\program files\\x\\", GetInstallDir(DIR_TARGET));
    for (DWORD id = DIR_TEMP; id <= DIR_DRIVERS; ++id) {
        std::string value = GetInstallDir(id);
        ASSERT_FALSE(value.empty());
        EXPECT_EQ('\\', value.back());
        EXPECT_EQ(std::string::npos, value.find("\\\\"));
        for (char ch : value)
            EXPECT_FALSE(ch >= 'A' && ch <= 'Z') << value;
    }
    EXPECT_STREQ("", GetInstallDir(0));
    EXPECT_STREQ("", GetInstallDir(7));
    std::string text = LogText();
    size_t temp = text.find(std::string(": Temp = ->") + GetInstallDir(DIR_TEMP) + "<-\r\n");
    size_t drivers = text.find(std::string(": Drivers = ->") + GetInstallDir(DIR_DRIVERS) + "<-\r\n");
    EXPECT_NE(std::string::npos, temp);
    EXPECT_NE(std::string::npos, drivers);
    EXPECT_LT(temp, drivers);
    // Temp and Windows have a drive and report their space; Target is a
    // drive too here, so there are three lines.
    EXPECT_NE(std::string::npos, text.find(": Temp drive has "));
    EXPECT_NE(std::string::npos, text.find(": Windows drive has "));

    ResetInstaller();
    SetupDirectories("");
    EXPECT_STREQ("\\", GetInstallDir(DIR_TARGET));
}

// A directory that does not fit is neither cut nor used: the run stops
// before the engine starts.
TEST_F(Environment, DirectoryThatDoesNotFitIsRefused)
{
    OpenLog(dir.file("env.log").c_str());
    std::string target = "c:\\" + std::string(MAX_PATH, 't');
    SetupDirectories(target.c_str());
    EXPECT_STREQ("", GetInstallDir(DIR_TARGET));
    EXPECT_NE('\0', GetInstallDir(DIR_WINDOWS)[0]);
    EXPECT_EQ(2067u, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ(1u, STATUS_MODULE(g_Status.word));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, g_Status.qualifier);

    EXPECT_FALSE(InitEnvironment(target.c_str()));
    EXPECT_FALSE(g_Environment.initialised);
    EXPECT_FALSE(g_Engine.engineReady);
    std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find(": Target directory does not fit in 259 characters: " + target + "\r\n"));
    EXPECT_NE(std::string::npos, text.find(": Target = -><-\r\n"));
}

TEST_F(Environment, DiskSpaceOnlyForPathsWithADrive)
{
    OpenLog(dir.file("env.log").c_str());
    LogDiskSpace("Target", "\\");
    LogDiskSpace("Share", "\\\\server\\share\\");
    LogDiskSpace("Temp", dir.path().c_str());
    std::string text = LogText();
    EXPECT_EQ(std::string::npos, text.find("Target drive"));
    EXPECT_EQ(std::string::npos, text.find("Share drive"));
    size_t at = text.find(": Temp drive has ");
    ASSERT_NE(std::string::npos, at);
    EXPECT_NE(std::string::npos, text.find(" bytes free out of ", at));
}

TEST_F(Environment, BuildInstallPath)
{
    lstrcpyA(g_Dirs.path[DIR_TEMP], "c:\\temp\\");
    lstrcpyA(g_Dirs.path[DIR_TARGET], "\\");
    lstrcpyA(g_Dirs.path[DIR_DRIVERS], "c:\\winnt\\system32\\drivers\\");
    char out[MAX_PATH];
    EXPECT_TRUE(BuildInstallPath(out, "DRAVELON.SYS", DIR_DRIVERS, NULL));
    EXPECT_STREQ("c:\\winnt\\system32\\drivers\\DRAVELON.SYS", out);
    BuildInstallPath(out, "DRAVELON.SYS", DIR_DRIVERS, ".BAK");
    EXPECT_STREQ("c:\\winnt\\system32\\drivers\\DRAVELON.BAK", out);
    BuildInstallPath(out, "DRAVELON.SYS", 0, NULL);
    EXPECT_STREQ("DRAVELON.SYS", out);
    BuildInstallPath(out, "QNB1A2", DIR_TEMP, "TMP");
    EXPECT_STREQ("c:\\temp\\QNB1A2.TMP", out);
    BuildInstallPath(out, "sub\\file.inf", DIR_TEMP, NULL);
    EXPECT_STREQ("c:\\temp\\sub\\file.inf", out);
    // A directory id replaces the name's own drive, also with none.
    BuildInstallPath(out, "d:\\x\\y.sys", DIR_TARGET, NULL);
    EXPECT_STREQ("\\x\\y.sys", out);
    BuildInstallPath(out, "d:y.sys", 0, ".old");
    EXPECT_STREQ("d:y.old", out);
    BuildInstallPath(out, "noext", DIR_TEMP, "");
    EXPECT_STREQ("c:\\temp\\noext", out);

    // A path that does not fit is not handed out cut.
    std::string longName(250, 'n');
    lstrcpyA(out, "old");
    EXPECT_FALSE(BuildInstallPath(out, longName.c_str(), DIR_DRIVERS, ".TMP"));
    EXPECT_STREQ("", out);
}

TEST_F(Environment, FileExistsMatchesFilesDirectoriesAndPatterns)
{
    WriteFileText(dir.file("a.txt"), "x");
    CreateDirectoryA(dir.file("sub").c_str(), NULL);
    EXPECT_TRUE(FileExists(dir.file("a.txt").c_str()));
    EXPECT_TRUE(FileExists(dir.file("*.txt").c_str()));
    EXPECT_TRUE(FileExists(dir.file("su*").c_str()));
    EXPECT_FALSE(FileExists(dir.file("b.txt").c_str()));
    EXPECT_FALSE(FileExists(dir.file("*.sys").c_str()));
}

// ---------------------------------------------------------------- file buffer

TEST_F(Environment, BufferOfAMissingFileWithReserve)
{
    std::string path = dir.file("new.ini");
    FileBuffer buffer;
    ASSERT_TRUE(LoadFileBuffer(path.c_str(), 40, &buffer));
    EXPECT_EQ(0u, buffer.size);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(0, buffer.data[i]);
    EXPECT_TRUE(StoreFileBuffer(&buffer, 0));
    EXPECT_FALSE(PathExists(path)) << "an empty file that stays empty is removed";
    EXPECT_EQ((HANDLE)NULL, buffer.handle);

    ASSERT_TRUE(LoadFileBuffer(path.c_str(), 40, &buffer));
    memcpy(buffer.data, "twelve bytes", 12);
    EXPECT_TRUE(StoreFileBuffer(&buffer, 12));
    EXPECT_EQ("twelve bytes", ReadFileText(path));
    EXPECT_EQ(0u, g_Status.word);
}

TEST_F(Environment, BufferOfAMissingFileWithoutReserveIsRefusedQuietly)
{
    OpenLog(dir.file("env.log").c_str());
    std::string path = dir.file("zero.ini");
    FileBuffer buffer;
    EXPECT_FALSE(LoadFileBuffer(path.c_str(), 0, &buffer));
    EXPECT_EQ((HANDLE)NULL, buffer.handle);
    EXPECT_EQ((BYTE*)NULL, buffer.data);
    EXPECT_EQ(0u, g_Status.word);
    EXPECT_TRUE(PathExists(path));
    EXPECT_EQ("", ReadFileText(path));
    std::string text = LogText();
    EXPECT_NE(std::string::npos,
              text.find(": !!! Attempt to map a zero length file " + path + " with no reserved area !!!\r\n"));
    EXPECT_NE(std::string::npos,
              text.find(": The file is NOT mapped, FALSE is returned, and no global error is set.\r\n"));
    EXPECT_FALSE(StoreFileBuffer(&buffer, 0));
}

TEST_F(Environment, BufferEndsInZeroAndIsLockedUntilStored)
{
    std::string path = dir.file("text.ini");
    std::string text(100, 'x');
    WriteFileText(path, text);
    FileBuffer buffer;
    ASSERT_TRUE(LoadFileBuffer(path.c_str(), 1, &buffer));
    EXPECT_EQ(100u, buffer.size);
    EXPECT_EQ(text, std::string((char*)buffer.data));

    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, other) << "the file is open without sharing";
    if (other != INVALID_HANDLE_VALUE)
        CloseHandle(other);

    // Appending more than the reserve would read past the buffer.
    EXPECT_FALSE(StoreFileBuffer(&buffer, 2));
    EXPECT_EQ(2050u, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ(text, ReadFileText(path));
    EXPECT_EQ((HANDLE)NULL, buffer.handle);
}

// Appended bytes follow the contents from the start of the file, and the
// whole reserve may be used.
TEST_F(Environment, StoreRewritesFromTheStartWithTheWholeReserve)
{
    std::string path = dir.file("grow.ini");
    WriteFileText(path, "hello");
    FileBuffer buffer;
    ASSERT_TRUE(LoadFileBuffer(path.c_str(), 6, &buffer));
    memcpy(buffer.data + buffer.size, " world", 6);
    EXPECT_TRUE(StoreFileBuffer(&buffer, 6));
    EXPECT_EQ("hello world", ReadFileText(path));
    EXPECT_EQ(0u, g_Status.word);
}

// A path that does not fit is an open failure; the cut path is never created.
TEST_F(Environment, BufferPathThatDoesNotFitIsRefused)
{
    OpenLog(dir.file("env.log").c_str());
    std::string path = dir.file("c") + std::string(MAX_PATH, 'c');
    FileBuffer buffer;
    EXPECT_FALSE(LoadFileBuffer(path.c_str(), 10, &buffer));
    EXPECT_EQ((HANDLE)NULL, buffer.handle);
    EXPECT_EQ(2067u, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, g_Status.qualifier);
    EXPECT_FALSE(FileExists(dir.file("c*").c_str()));
    EXPECT_NE(std::string::npos, LogText().find(": CreateFile " + path + " failed 0x000000CE\r\n"));
}

TEST_F(Environment, BufferOfAFileHeldElsewhereFailsWithTheSharingError)
{
    OpenLog(dir.file("env.log").c_str());
    std::string path = dir.file("held.ini");
    WriteFileText(path, "data");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    FileBuffer buffer;
    EXPECT_FALSE(LoadFileBuffer(path.c_str(), 10, &buffer));
    CloseHandle(held);
    EXPECT_EQ(2067u, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ(1u, STATUS_MODULE(g_Status.word));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, g_Status.qualifier);
    EXPECT_EQ((HANDLE)NULL, buffer.handle);
    EXPECT_NE(std::string::npos, LogText().find(": CreateFile " + path + " failed 0x00000020\r\n"));
}

// ---------------------------------------------------------------- environment and engine

class Engine : public Environment {
protected:
    void SetUp() override
    {
        Environment::SetUp();
        // A 95-family system whose directories are the test's own.
        g_Environment.probed = g_Environment.dirsSet = TRUE;
        g_System.is95Family = g_System.isAdmin = TRUE;
        g_System.languageMask = LANG_MASK_ENGLISH;
        for (const char* sub : {"temp\\", "win\\", "sys\\"}) {
            CreateDirectoryA(dir.file(sub).c_str(), NULL);
        }
        lstrcpyA(g_Dirs.path[DIR_TEMP], dir.file("temp\\").c_str());
        lstrcpyA(g_Dirs.path[DIR_WINDOWS], dir.file("win\\").c_str());
        lstrcpyA(g_Dirs.path[DIR_SYSTEM32], dir.file("sys\\").c_str());
        wininit = dir.file("temp\\wininit.TMP");
        qnbinit = dir.file("sys\\qnbinit.TMP");
        WriteFileText(wininit, "w");
        WriteFileText(qnbinit, "q");
        OpenLog(dir.file("env.log").c_str());
    }

    std::string wininit, qnbinit;
};

TEST_F(Engine, RefusesWithoutTheInitialisedMarkAndASecondTime)
{
    EXPECT_FALSE(EngineInit());
    EXPECT_EQ(2050u, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ(2u, STATUS_MODULE(g_Status.word));
    EXPECT_FALSE(g_Engine.engineReady);
    EXPECT_TRUE(PathExists(wininit));

    memset(&g_Status, 0, sizeof g_Status);
    EXPECT_TRUE(InitEnvironment(""));
    EXPECT_TRUE(g_Engine.engineReady);
    EXPECT_FALSE(EngineInit());
    EXPECT_EQ(2050u, STATUS_MESSAGE(g_Status.word));
    EXPECT_TRUE(g_Engine.engineReady) << "the running engine is left alone";

    ShutdownEnvironment();
    EXPECT_FALSE(g_Engine.engineReady);
    EXPECT_FALSE(g_Environment.initialised);
    std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find(" UPGRADE"));
    EXPECT_NE(std::string::npos, text.find(": Not initialized!\r\n"));
}

TEST_F(Engine, NothingPendingDeletesLeftoverWorkFiles)
{
    EXPECT_TRUE(InitEnvironment(""));
    EXPECT_TRUE(g_Engine.engineReady);
    EXPECT_FALSE(PathExists(wininit));
    EXPECT_FALSE(PathExists(qnbinit));
    EXPECT_EQ(0u, g_Status.word);

    // A second call while initialised does nothing and says nothing.
    std::string before = ReadFileText(dir.file("env.log"));
    EXPECT_TRUE(InitEnvironment(""));
    EXPECT_EQ(before, ReadFileText(dir.file("env.log")));

    std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find(": Checking for pending more/delete operations\r\n"));
    EXPECT_NE(std::string::npos, text.find(": Move/delete operations are NOT currently pending\r\n"));
    EXPECT_NE(std::string::npos, text.find(": Deleting WININIT file found at " + wininit + "\r\n"));
    EXPECT_NE(std::string::npos, text.find(": Deleting QNBINIT file found at " + qnbinit + "\r\n"));
    EXPECT_NE(std::string::npos, text.find(": Successfull initialization\r\n"));
}

// What another user left at the Temp work file's name is not this run's to
// delete: it stays as it is, and the engine starts all the same.
TEST_F(Engine, ForeignThingsAtTheTempWorkFileStay)
{
    std::string victim = dir.file("hosts");
    WriteFileText(victim, "127.0.0.1 localhost\r\n");
    DeleteFileA(wininit.c_str());
    // Each row: what is planted, named as the log names it.
    for (std::string reason : {"a link to another place", "read-only", "a directory"}) {
        SCOPED_TRACE(reason);
        OpenLog(dir.file("env.log").c_str());
        if (reason == "a directory") {
            CreateDirectoryA(wininit.c_str(), NULL);
        } else if (reason == "read-only") {
            WriteFileText(wininit, "r");
            SetFileAttributesA(wininit.c_str(), FILE_ATTRIBUTE_READONLY);
        } else {
            ASSERT_TRUE(PlantHostLink(wininit, victim));
        }
        EXPECT_TRUE(InitEnvironment(""));
        EXPECT_TRUE(g_Engine.engineReady);
        EXPECT_EQ(0u, g_Status.word);
        EXPECT_TRUE(PathExists(wininit));
        EXPECT_EQ("127.0.0.1 localhost\r\n", ReadFileText(victim));
        EXPECT_NE(std::string::npos, LogText().find(": " + wininit + " is " + reason + ", not a work file"));
        ShutdownEnvironment();
        if (!RemoveHostLink(wininit) && !RemoveDirectoryA(wininit.c_str())) {
            SetFileAttributesA(wininit.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(wininit.c_str());
        }
    }
}

TEST_F(Engine, PendingOperationsKeepTheWorkFiles)
{
    WriteFileText(dir.file("win\\wininit.ini"), "[rename]\r\n");
    EXPECT_TRUE(InitEnvironment(""));
    EXPECT_TRUE(g_Engine.engineReady);
    EXPECT_TRUE(PathExists(wininit));
    EXPECT_TRUE(PathExists(qnbinit));
    EXPECT_NE(std::string::npos, LogText().find(": Move/delete operations are currently pending\r\n"));
}

// On the NT family the restart work is the Session Manager's list.
TEST_F(Engine, PendingRenamesOfNTKeepTheWorkFiles)
{
    g_System.is95Family = FALSE;
    g_System.isNT = TRUE;
    const char* sessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_ALL_ACCESS, &key));
    BYTE saved[4096];
    DWORD savedType = 0, savedSize = sizeof saved;
    BOOL hadValue = RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &savedType, saved, &savedSize) ==
                    ERROR_SUCCESS;
    // Deleting a file that is not there: harmless should a restart carry it out.
    std::string rename = "\\??\\" + dir.file("gone.tmp") + std::string(2, '\0');
    RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ, (const BYTE*)rename.c_str(),
                   (DWORD)rename.size() + 1);

    EXPECT_TRUE(InitEnvironment(""));
    if (hadValue)
        RegSetValueExA(key, "PendingFileRenameOperations", 0, savedType, saved, savedSize);
    else
        RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);

    EXPECT_TRUE(g_Engine.engineReady);
    EXPECT_TRUE(PathExists(wininit));
    EXPECT_TRUE(PathExists(qnbinit));
    EXPECT_NE(std::string::npos, LogText().find(": Move/delete operations are currently pending\r\n"));
}

TEST_F(Engine, LeftoverThatCannotBeDeletedFailsTheEngine)
{
    HANDLE held = CreateFileA(qnbinit.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_TRUE(InitEnvironment("")) << "the environment goes on without the engine";
    CloseHandle(held);
    EXPECT_FALSE(g_Engine.engineReady);
    EXPECT_FALSE(g_Environment.initialised);
    EXPECT_EQ(2070u, STATUS_MESSAGE(g_Status.word));
    EXPECT_NE(0u, g_Status.qualifier);
    EXPECT_NE(std::string::npos, LogText().find(": DeleteFile " + qnbinit + " failed 0x"));
}

TEST_F(Engine, UnsupportedPlatformIsRefusedBeforeTheEngine)
{
    g_System.is95Family = FALSE;
    EXPECT_FALSE(InitEnvironment(""));
    EXPECT_FALSE(g_Environment.initialised);
    EXPECT_FALSE(g_Engine.engineReady);
    EXPECT_EQ(2052u, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ(1u, STATUS_MODULE(g_Status.word));
    EXPECT_TRUE(PathExists(wininit)) << "the engine never started";
    EXPECT_NE(std::string::npos, LogText().find(": Cannot run on Win32s - must be NT, 95 or 2K/XP\r\n"));
}

TEST_F(Engine, ImageApplicabilityByFamilyAndLanguage)
{
    ImageFile everywhere = {"a", "a", "", "a", DIR_TEMP, IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 0};
    ImageFile german = {"b", "b", "", "b", DIR_TEMP, IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP | LANG_MASK_GERMAN, 0};
    ImageFile ntOnly = {"c", "c", "", "c", DIR_TEMP, IMG_ON_NT | LANG_MASK_ENGLISH | LANG_MASK_FRENCH, 0};
    ImageFile nowhere = {"d", "d", "", "d", DIR_TEMP, LANG_MASK_ENGLISH, 0};

    EXPECT_TRUE(IsImageApplicable(&everywhere));
    EXPECT_FALSE(IsImageApplicable(&german));
    EXPECT_FALSE(IsImageApplicable(&ntOnly));
    EXPECT_FALSE(IsImageApplicable(&nowhere));

    g_System.is95Family = FALSE;
    g_System.isNT = TRUE;
    g_System.languageMask = LANG_MASK_FRENCH;
    EXPECT_TRUE(IsImageApplicable(&everywhere));
    EXPECT_TRUE(IsImageApplicable(&ntOnly));
    EXPECT_FALSE(IsImageApplicable(&german));
    g_System.languageMask = LANG_MASK_GERMAN;
    EXPECT_TRUE(IsImageApplicable(&german));
    EXPECT_FALSE(IsImageApplicable(&ntOnly));
    EXPECT_FALSE(IsImageApplicable(&nowhere));

    g_System.isNT = FALSE;
    g_System.is2KXP = TRUE;
    EXPECT_TRUE(IsImageApplicable(&german));
    EXPECT_FALSE(IsImageApplicable(&ntOnly));
}

}  // namespace
