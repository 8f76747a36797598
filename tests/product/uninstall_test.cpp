// The uninstaller where the installer put it: its question in the language
// the wizard stored, a driver in use that goes at the restart, and the
// rights it needs on the NT family.
#include <gtest/gtest.h>

#include "product.h"
#include "winfiles.h"

namespace {

const char kProductKey[] = "SOFTWARE\\Vornak\\Telmura";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vornak Telmura";

class Uninstall : public ProductTest {
  protected:
    // Installs Telmura silently and returns the installed uninstaller, set to
    // report the family's version.
    std::string Installed(const Family& family)
    {
        RunResult run = RunSetup(family.version, "/silent");
        EXPECT_EQ(run.exitCode >> 20, 2u) << run.log;
        EXPECT_TRUE(SetReportedVersion("tlmrunin.exe", family.version));
        std::string uninstaller = SystemDir() + "tlmrunin.exe";
        DeleteFileA(LogPathOf(uninstaller).c_str());
        return uninstaller;
    }
};

// A text of the string tables of program in one language, as the ANSI
// code page shows it.
std::string TableText(const std::string& program, UINT id, LANGID language)
{
    HMODULE module = LoadLibraryExA(program.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return "<no module>";
    std::string text = "<no text>";
    HRSRC block = FindResourceExA(module, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language);
    const WCHAR* p = block ? (const WCHAR*)LockResource(LoadResource(module, block)) : NULL;
    if (p) {
        for (UINT i = 0; i < id % 16; ++i)
            p += 1 + *p;
        char converted[1024];
        int length = WideCharToMultiByte(CP_ACP, 0, p + 1, *p, converted, sizeof converted, NULL, NULL);
        text.assign(converted, length > 0 ? length : 0);
    }
    FreeLibrary(module);
    return text;
}

void StoreLanguage(DWORD language)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kProductKey, &key), ERROR_SUCCESS);
    if (language)
        RegSetValueExA(key, "Language", 0, REG_DWORD, (const BYTE*)&language, sizeof language);
    else
        RegDeleteValueA(key, "Language");
    RegCloseKey(key);
}

// The question comes in the stored language when the system can show it,
// in English otherwise, its Yes and No too; No removes nothing, Yes removes
// the product with its key and reports it.
TEST_F(Uninstall, AsksInTheStoredLanguage)
{
    const Family& family = kFamilies[5];
    std::string uninstaller = Installed(family);
    const LANGID kGerman = 0x0407, kJapanese = 0x0411, kEnglish = 0x0409;
    // Under an English locale the desktop font cannot show Japanese.
    const struct {
        DWORD stored;
        LANGID shown;
    } kChoices[] = {{kGerman, kGerman}, {kJapanese, kEnglish}};
    for (const auto& choice : kChoices) {
        SCOPED_TRACE(choice.stored);
        StoreLanguage(choice.stored);
        AnsweredRun no = RunAnswering(uninstaller, "", {IDNO});
        EXPECT_EQ(Hex8(no.run.exitCode & 0xFFF00000), Hex8(0x80100000)) << no.run.log;
        ASSERT_EQ(no.boxes.size(), 1u);
        EXPECT_EQ(no.boxes[0].text, TableText(uninstaller, 23, choice.shown));
        EXPECT_EQ(no.boxes[0].caption, "Vornak Telmura");
        EXPECT_EQ(no.boxes[0].buttons, std::vector<int>({IDYES, IDNO}));
        EXPECT_EQ(no.boxes[0].labels, std::vector<std::string>({TableText(uninstaller, 28, choice.shown),
                                                                TableText(uninstaller, 29, choice.shown)}));
        EXPECT_TRUE(FileExistsAt(DriverPath(family)));
        EXPECT_TRUE(KeyExists(kUninstallKey));
    }

    // A link planted at the backup's name is no backup: it is neither put
    // back over the driver nor deleted through.
    std::string planted = DriversDir(family) + "dravelon.BAK";
    std::string victim = WindowsDir().substr(0, 3) + "victim.sys";
    ASSERT_TRUE(WriteWholeFile(victim, "victim"));
    ASSERT_TRUE(PlantHostLink(planted, victim));
    StoreLanguage(0);
    AnsweredRun yes = RunAnswering(uninstaller, "/leavelog", {IDYES, IDOK});
    EXPECT_EQ(Contents(victim), "victim");
    EXPECT_TRUE(RemoveHostLink(planted));
    DeleteFileA(victim.c_str());
    EXPECT_EQ(Hex8(yes.run.exitCode & 0xFFF00000), Hex8(0x00100000)) << yes.run.log;
    ASSERT_EQ(yes.boxes.size(), 2u);
    EXPECT_EQ(yes.boxes[0].text, "Do you want to remove the Vornak Telmura from this computer?");
    EXPECT_EQ(yes.boxes[1].text, "The Vornak Telmura has been removed.");
    EXPECT_FALSE(FileExistsAt(DriverPath(family)));
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_FALSE(KeyExists(kProductKey));
    EXPECT_FALSE(KeyExists("SOFTWARE\\Vornak")) << "an empty maker key goes with the product";
    DeleteFileA(LogPathOf(uninstaller).c_str());
}

// A driver that cannot be deleted now (in use) is deleted at the restart,
// or replaced then by the other maker's driver it replaced (on XP), and the
// run says a restart is needed.
TEST_F(Uninstall, DriverInUseGoesAtTheRestart)
{
    for (const Family& family : {kFamilies[1], kFamilies[3], kFamilies[5]}) {
        SCOPED_TRACE(family.version);
        std::string earlier = family.version == kFamilies[5].version ? g_Product.drivers + "drv10004.sys" : "";
        CopyFileA(earlier.c_str(), DriverPath(family).c_str(), FALSE);
        std::string uninstaller = Installed(family);
        HANDLE inUse = CreateFileA(DriverPath(family).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                   0, NULL);
        ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
        RunResult run = RunProgram(uninstaller, "/silent /leavelog");
        CloseHandle(inUse);
        EXPECT_EQ(Hex8(run.exitCode & 0xFFF00000), Hex8(0x00200000)) << run.log;
        std::string deferred = earlier.empty() ? "DeleteFile " + DriverPath(family)
                                               : "CopyFile " + DriversDir(family) + "dravelon.BAK to " + DriverPath(family);
        EXPECT_GE(FindMessage(LogLines(run.log), deferred), 0) << run.log;
        EXPECT_TRUE(FileExistsAt(DriverPath(family)));
        EXPECT_FALSE(KeyExists(kUninstallKey));

        ASSERT_TRUE(Restart());
        EXPECT_EQ(VersionFacts(DriverPath(family)), earlier.empty() ? "" : VersionFacts(earlier));
        EXPECT_FALSE(FileExistsAt(DriversDir(family) + "dravelon.BAK"));
        EXPECT_FALSE(FileExistsAt(uninstaller));
        DeleteFileA(LogPathOf(uninstaller).c_str());
        RemoveTelmura();
    }
}

// Without administrator rights on the NT family nothing is removed.
TEST_F(Uninstall, NeedsAdministratorRightsOnNT)
{
    const Family& family = kFamilies[4];
    std::string uninstaller = Installed(family);
    HANDLE token = TokenWithoutAdministrators();
    ASSERT_NE(token, (HANDLE)NULL);
    AnsweredRun silent = RunAnswering(uninstaller, "/silent", {}, token);
    EXPECT_EQ(silent.run.exitCode >> 20, 2055u) << silent.run.log;
    EXPECT_TRUE(silent.run.logExists) << "a failed run keeps its log";
    EXPECT_EQ(silent.boxes.size(), 0u);

    AnsweredRun visual = RunAnswering(uninstaller, "", {IDOK}, token);
    CloseHandle(token);
    EXPECT_EQ(visual.run.exitCode >> 20, 2055u);
    ASSERT_EQ(visual.boxes.size(), 1u);
    char code[32];
    wsprintfA(code, "%03lX-%lX-%04lX-%08lX.", visual.run.exitCode >> 20, (visual.run.exitCode >> 16) & 0xF,
              visual.run.exitCode & 0xFFFF, 0ul);
    EXPECT_EQ(visual.boxes[0].text,
              "An error occurred while removing Telmura:\nRemoving the Vornak Telmura requires Administrator rights.  "
              "Please log off, log on as a user with local Administrator rights, and then start the removal "
              "again.\nThe error code is " + std::string(code));
    EXPECT_TRUE(FileExistsAt(DriverPath(family)));
    EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\Dravelon"));
    DeleteFileA(LogPathOf(uninstaller).c_str());
}

}  // namespace
