// setup.exe as shipped, run silently on each Windows family: a fresh
// installation, the run after the restart, the uninstaller; upgrades over
// an older driver and a newer uninstaller alone; a damaged setup.exe; a
// signed one; what another user of the machine does to the folder setup.exe
// runs from.
#include <gtest/gtest.h>

#include <algorithm>

#include "product.h"

namespace {

const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Dravelon";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vornak Telmura";

class Install : public ProductTest {
  protected:
    std::string Packed(const char* name) { return Contents(g_Product.stage + name); }
};

// What a fresh installation adds, and nothing else.
std::string FreshInstallation(const Family& family)
{
    std::vector<std::string> added = {"+ file " + DriverPath(family), "+ file " + SystemDir() + "tlmrunin.exe",
                                      std::string("+ key HKLM\\") + kUninstallKey,
                                      std::string("+ value HKLM\\") + kUninstallKey + "\\DisplayName",
                                      std::string("+ value HKLM\\") + kUninstallKey + "\\UninstallString"};
    if (family.nt) {
        added.push_back(std::string("+ key HKLM\\") + kServiceKey);
        for (const char* value : {"ErrorControl", "Start", "Type", "Group", "DependOnGroup"})
            added.push_back(std::string("+ value HKLM\\") + kServiceKey + "\\" + value);
    }
    return Listing(added);
}

void ExpectServiceValues()
{
    DWORD type = 0;
    EXPECT_EQ(RegistryValue(kServiceKey, "ErrorControl", &type), std::string("\1\0\0\0", 4));
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(RegistryValue(kServiceKey, "Start", &type), std::string("\1\0\0\0", 4));
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(RegistryValue(kServiceKey, "Type", &type), std::string("\2\0\0\0", 4));
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(RegistryValue(kServiceKey, "Group", &type), std::string("File system\0", 12));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(RegistryValue(kServiceKey, "DependOnGroup", &type), std::string("SCSI CDROM Class\0\0", 18));
    EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);
}

void ExpectNoLeftovers()
{
    const std::string system = SystemDir();
    for (const std::string& dir : {TempDir(), system, system + "drivers\\", system + "iosubsys\\"})
        EXPECT_EQ(LeftoverImages(dir).size(), 0u) << dir;
}

// Install, restart, run again, uninstall, restart: each family's files and
// registry values, the uninstall entry, then "up to date" with nothing
// changed, then everything gone and nothing else changed.
TEST_F(Install, FreshInstallRestartRerunAndUninstallOnEachFamily)
{
    ASSERT_TRUE(Restart());
    Snapshot before = TakeSnapshot();
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.version);

        RunResult fresh = RunSetup(family.version, "/silent /leavelog");
        EXPECT_EQ(Hex8(fresh.exitCode & 0xFFF00000), Hex8(0x00200000)) << fresh.log;
        std::vector<std::string> lines = LogLines(fresh.log);
        EXPECT_GE(FindMessage(lines, "Reboot supressed, silent install"), 0);
        Snapshot installed = TakeSnapshot();
        EXPECT_EQ(Listing(Differences(before, installed)), FreshInstallation(family));
        EXPECT_EQ(Contents(DriverPath(family)), Packed(family.build));
        EXPECT_EQ(VersionFacts(DriverPath(family)), std::string("5.3.0.71 5.3.0.71 Vornak: Telmura disc file-system "
                                                                "driver, ") + family.buildFor + " build (stand-in)");
        EXPECT_EQ(Contents(SystemDir() + "tlmrunin.exe"), Packed("TLMRUNIN.EXE"));
        if (family.nt)
            ExpectServiceValues();
        char system[MAX_PATH];
        GetSystemDirectoryA(system, MAX_PATH);
        EXPECT_EQ(RegistryValue(kUninstallKey, "UninstallString"), std::string(system) + "\\TLMRUNIN.EXE" + '\0');
        EXPECT_EQ(RegistryValue(kUninstallKey, "DisplayName"), std::string("Vornak Telmura\0", 15));
        ExpectNoLeftovers();
        EXPECT_EQ(PendingRenames(), "");

        ASSERT_TRUE(Restart());
        installed = TakeSnapshot();
        RunResult again = RunSetup(family.version, "/silent /leavelog");
        EXPECT_EQ(Hex8(again.exitCode & 0xFFF00000), Hex8(0)) << again.log;
        EXPECT_EQ(Listing(Differences(installed, TakeSnapshot())), "");
        EXPECT_EQ(CountMessages(LogLines(again.log), "Move immediate"), 0) << again.log;
        ExpectNoLeftovers();

        // The uninstaller where the installer put it, as the uninstall entry runs it.
        std::string uninstaller = SystemDir() + "tlmrunin.exe";
        ASSERT_TRUE(SetReportedVersion("tlmrunin.exe", family.version));
        DeleteFileA(LogPathOf(uninstaller).c_str());
        RunResult removal = RunProgram(uninstaller, "/silent /leavelog");
        EXPECT_EQ(Hex8(removal.exitCode & 0xFFF00000), Hex8(0x00100000)) << removal.log;
        EXPECT_FALSE(FileExistsAt(DriverPath(family)));
        EXPECT_TRUE(FileExistsAt(uninstaller)) << "a running program goes at the restart";
        EXPECT_FALSE(KeyExists(kServiceKey));
        EXPECT_FALSE(KeyExists(kUninstallKey));
        if (family.nt)
            EXPECT_NE(LowerCase(PendingRenames()).find("tlmrunin.exe"), std::string::npos);
        else
            EXPECT_NE(LowerCase(WininitText()).find("nul=" + SystemDir().substr(0, 3)), std::string::npos)
                << WininitText();
        DeleteFileA(LogPathOf(uninstaller).c_str());

        ASSERT_TRUE(Restart());
        // The restart keeps the 95 family's processed queue as wininit.bak.
        std::string processed = WindowsDir() + "wininit.bak";
        EXPECT_EQ(FileExistsAt(processed), !family.nt);
        DeleteFileA(processed.c_str());
        DeleteFileA(LogPathOf(SetupCopy(family.version)).c_str());
        Snapshot after = TakeSnapshot();
        EXPECT_EQ(Listing(Differences(before, after)), "");
        before = after;
    }
}

// Directories at the names a counter would give the engine's temporary
// files, in Temp (which any user can write) and beside the targets: made,
// or removed again.
void PlantCounterNames(const Family& family, bool plant)
{
    for (const std::string& dir : {TempDir(), SystemDir(), DriversDir(family)}) {
        for (int n = 1; n <= 10; ++n) {
            char name[16];
            snprintf(name, sizeof name, "CX%05d.$$$", n);
            if (plant)
                CreateDirectoryA((dir + name).c_str(), NULL);
            else
                RemoveDirectoryA((dir + name).c_str());
        }
    }
}

// An installed driver of an older version is kept as dravelon.BAK. The
// uninstaller removes Telmura's driver and an earlier Telmura's backup, puts
// back another driver of that name, and keeps a driver that is not
// Telmura's (put there after the installation). Names planted where the
// engine's temporary files go stop nothing.
TEST_F(Install, UpgradeKeepsTheOlderDriverAsBackup)
{
    // The driver installed before, what replaced Telmura's before the
    // uninstall, the driver left after it.
    struct Case {
        Family family;
        const char *earlier, *replaced, *left;
    };
    std::vector<Case> cases;
    for (const Family& family : kFamilies)
        cases.push_back({family, "drv52999.sys", "", ""});
    for (const Family& family : {kFamilies[1], kFamilies[5]}) {
        cases.push_back({family, "drv10004.sys", "", "drv10004.sys"});
        cases.push_back({family, "", "drv10004.sys", "drv10004.sys"});
    }
    for (const Case& c : cases) {
        const Family& family = c.family;
        SCOPED_TRACE(std::string(family.version) + " " + c.earlier + " " + c.replaced);
        RemoveTelmura();
        // An empty name copies nothing.
        const std::string old = Contents(g_Product.drivers + c.earlier);
        CopyFileA((g_Product.drivers + c.earlier).c_str(), DriverPath(family).c_str(), FALSE);

        PlantCounterNames(family, true);
        RunResult run = RunSetup(family.version, "/silent");
        PlantCounterNames(family, false);
        EXPECT_EQ(Hex8(run.exitCode & 0xFFF00000), Hex8(0x00200000)) << run.log;
        EXPECT_EQ(Contents(DriversDir(family) + "dravelon.BAK"), c.earlier[0] ? old : "<missing>");
        EXPECT_EQ(Contents(DriverPath(family)), Packed(family.build));
        EXPECT_TRUE(KeyExists(kUninstallKey));
        CopyFileA((g_Product.drivers + c.replaced).c_str(), DriverPath(family).c_str(), FALSE);

        ASSERT_TRUE(SetReportedVersion("tlmrunin.exe", family.version));
        RunResult removal = RunProgram(SystemDir() + "tlmrunin.exe", "/silent");
        EXPECT_EQ(Hex8(removal.exitCode & 0xFFF00000), Hex8(0x00100000)) << removal.log;
        EXPECT_FALSE(FileExistsAt(DriversDir(family) + "dravelon.BAK"));
        EXPECT_EQ(VersionFacts(DriverPath(family)), c.left[0] ? VersionFacts(g_Product.drivers + c.left) : "");
        ASSERT_TRUE(Restart());
    }
}

// The same driver installed and an older uninstaller: only the uninstaller
// is replaced, no restart is needed and no uninstall entry is written.
TEST_F(Install, NewerUninstallerAloneNeedsNoRestart)
{
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.version);
        RemoveTelmura();
        std::string uninstaller = SystemDir() + "tlmrunin.exe";
        ASSERT_TRUE(CopyFileA((g_Product.stage + family.build).c_str(), DriverPath(family).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((g_Product.stage + "TLMRUNIN.EXE").c_str(), uninstaller.c_str(), FALSE));
        ASSERT_TRUE(SetFileYear(uninstaller, 2001));

        RunResult run = RunSetup(family.version, "/silent /leavelog");
        EXPECT_EQ(Hex8(run.exitCode & 0xFFF00000), Hex8(0x00100000)) << run.log;
        EXPECT_EQ(CountMessages(LogLines(run.log), "Finished, files upgraded and reboot needed"), 0);
        EXPECT_FALSE(KeyExists(kUninstallKey));
        EXPECT_FALSE(FileExistsAt(DriversDir(family) + "dravelon.BAK")) << "the driver was not replaced";
        WIN32_FILE_ATTRIBUTE_DATA facts;
        ASSERT_TRUE(GetFileAttributesExA(uninstaller.c_str(), GetFileExInfoStandard, &facts));
        SYSTEMTIME time;
        FileTimeToSystemTime(&facts.ftLastWriteTime, &time);
        EXPECT_EQ(time.wYear, 2002) << "the packed uninstaller's date";
        EXPECT_EQ(family.nt, KeyExists(kServiceKey)) << "the registry script runs in every case";
        DeleteFileA(LogPathOf(SetupCopy(family.version)).c_str());
    }
}

// One byte of a packed entry flipped: the archive test fails before any
// image is made, so nothing reaches a destination and the registry stays
// as it was.
TEST_F(Install, DamagedSetupWritesNothing)
{
    std::string image;
    ASSERT_TRUE(ReadWholeFile(g_Paths.setup, &image));
    // The entry's name follows its length (12, 0); its data follows the
    // 33-byte body of the header.
    size_t name = image.find(std::string("\x0c\x00" "DRAVELON.SYS", 14));
    ASSERT_NE(name, std::string::npos);
    image[name + 2 + 12 + 33 + 100] ^= 0x01;
    ASSERT_TRUE(WriteWholeFile(g_Paths.work + "damaged.bin", image));

    Snapshot before = TakeSnapshot();
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.version);
        std::string copy = PrepareProgram(g_Paths.work + "damaged.bin", "damaged.exe", family.version);
        DeleteFileA(LogPathOf(copy).c_str());
        RunResult run = RunProgram(copy, "/silent");
        EXPECT_EQ(Hex8(run.exitCode & 0xFFFF0000), Hex8(0x81520000)) << run.log;
        ASSERT_TRUE(run.logExists) << "a failed run keeps its log";
        std::vector<std::string> lines = LogLines(run.log);
        int last = FindMessage(lines, "Final Status ");
        ASSERT_GE(last, 0);
        EXPECT_EQ(MessageOf(lines[last]), "Final Status " + Hex8(run.exitCode) + " Qualifier 0xFFFFFFF9");
        EXPECT_GE(FindMessage(lines, "cxTestFile failure 0xFFFFFFF9 on DRAVELON.SYS"), 0) << run.log;
        EXPECT_EQ(CountMessages(lines, "Extract to:"), 0);
        EXPECT_EQ(Listing(Differences(before, TakeSnapshot())), "");
        ExpectNoLeftovers();
        DeleteFileA(LogPathOf(copy).c_str());
    }
}

// setup.exe signed with Authenticode, the signature appended after the
// archive, and the same with one packed byte flipped (sign_check.sh, where
// the flipped file fails the signature check): the installer's own check
// refuses that one (2069) and installs the signed one as setup.exe.
TEST_F(Install, SignedSetupInstallsAndRefusesAFlippedByte)
{
    const Family& xp = kFamilies[5];
    std::string damaged = PrepareProgram(g_Product.signedCopies + "damaged.exe", "signed_damaged.exe", xp.version);
    RunResult refused = RunProgram(damaged, "/silent");
    EXPECT_EQ(Hex8(refused.exitCode & 0xFFFF0000), Hex8(0x81520000)) << refused.log;
    EXPECT_GE(FindMessage(LogLines(refused.log), "cxTestFile failure 0xFFFFFFF9 on DRAVELON.SYS"), 0) << refused.log;
    EXPECT_FALSE(FileExistsAt(DriverPath(xp)));
    DeleteFileA(LogPathOf(damaged).c_str());

    std::string copy = PrepareProgram(g_Product.signedCopies + "signed.exe", "signed.exe", xp.version);
    RunResult run = RunProgram(copy, "/silent");
    EXPECT_EQ(Hex8(run.exitCode & 0xFFF00000), Hex8(0x00200000)) << run.log;
    EXPECT_TRUE(Contents(DriverPath(xp)) == Packed(xp.build)) << "the driver differs from the packed one";
    EXPECT_TRUE(Contents(SystemDir() + "tlmrunin.exe") == Packed("TLMRUNIN.EXE")) << "so does the uninstaller";
    ExpectServiceValues();
}

// Another user of the machine renames setup.exe away while it starts (a
// running program may be renamed) and puts the same installer with a
// registry script of its own in its place: before its first instruction,
// or once it holds the instance mutex. The run installs the payload of the
// image that runs; the file put there is never read.
DWORD WINAPI SwapOnceTheMutexIsHeld(void* swap)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(1))
        if (HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "RiRoZi32 UPGRADE RiRoZi32"))
            return CloseHandle(mutex) && (*(std::function<bool()>*)swap)();
    return FALSE;
}

TEST_F(Install, SetupSwappedWhileItStartsInstallsItsOwnPayload)
{
    const std::string swapped = g_Product.drivers + "swapped.exe";
    for (const Family& family : kFamilies) {
        for (bool suspended : {true, false}) {
            SCOPED_TRACE(std::string(family.version) + (suspended ? ", before its first instruction" : ", mutex held"));
            std::string copy = PrepareProgram(g_Paths.setup, "swap.exe", family.version);
            DeleteFileA((copy + ".old").c_str());
            DeleteFileA(LogPathOf(copy).c_str());
            bool replaced = false;  // by the racer
            std::function<bool()> swap = [&] {
                return replaced = MoveFileA(copy.c_str(), (copy + ".old").c_str()) &&
                                  CopyFileA(swapped.c_str(), copy.c_str(), FALSE);
            };
            HANDLE racer = suspended ? NULL : CreateThread(NULL, 0, SwapOnceTheMutexIsHeld, &swap, 0, NULL);
            RunResult run = RunProgram(copy, "/silent", {}, 60000, suspended ? swap : nullptr);
            if (racer)
                WaitForSingleObject(racer, INFINITE), CloseHandle(racer);
            ASSERT_TRUE(replaced) << "setup.exe could not be swapped";
            EXPECT_EQ(Hex8(run.exitCode & 0xFFF00000), Hex8(0x00200000)) << run.log;
            EXPECT_FALSE(KeyExists("SOFTWARE\\Vornak\\Swapped")) << "the swapped-in file's script ran";
            EXPECT_TRUE(Contents(DriverPath(family)) == Packed(family.build)) << "another driver was installed";
            RemoveTelmura();
        }
    }
}

// Wine told to look for comctl32.dll as Windows does for the program of
// that file name: beside it first (null: as Wine does).
void LoadOrder(const std::string& name, const char* order)
{
    std::string key = "Software\\Wine\\AppDefaults\\" + name + "\\DllOverrides";
    EXPECT_EQ(order ? RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "comctl32", REG_SZ, order, strlen(order) + 1)
                    : RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), "comctl32"), 0);
}

// comctl32.dll planted beside setup.exe and the uninstaller, with Wine
// looking for it beside the program first: neither program loads it, on any
// family. (version.dll is not planted: Wine's own user32.dll imports it, which
// Windows' does not, so under Wine a copy beside any window program is loaded
// before the program runs. That the programs import neither DLL is checked on
// their images, image_check.sh.)
TEST_F(Install, DllsPlantedBesideTheProgramsNeverRun)
{
    const std::string planted = g_Paths.work + "comctl32.dll";
    ASSERT_TRUE(CopyFileA((g_Product.drivers + "planted.dll").c_str(), planted.c_str(), FALSE));
    for (const char* program : {"plant.exe", "tlmrunin.exe"})
        LoadOrder(program, "native,builtin");
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.version);
        std::string setup = PrepareProgram(g_Paths.setup, "plant.exe", family.version);
        RunResult install = RunProgram(setup, "/silent");
        EXPECT_EQ(Hex8(install.exitCode & 0xFFF00000), Hex8(0x00200000)) << install.log;
        std::string uninstaller = PrepareProgram(SystemDir() + "tlmrunin.exe", "tlmrunin.exe", family.version);
        RunResult removal = RunProgram(uninstaller, "/silent");
        EXPECT_EQ(Hex8(removal.exitCode & 0xFFF00000), Hex8(0x00100000)) << removal.log;
        EXPECT_FALSE(FileExistsAt(planted + ".ran")) << "the planted comctl32.dll ran";
        for (const std::string& program : {setup, uninstaller})
            DeleteFileA(LogPathOf(program).c_str());
        RemoveTelmura();
    }
    for (const char* program : {"plant.exe", "tlmrunin.exe"})
        LoadOrder(program, nullptr);
    DeleteFileA(planted.c_str());
}

// setup.exe says which installer it is: the project's version (the one arq
// --version prints) in the version resource that the file's properties show.
TEST(Shipped, SetupCarriesTheProjectVersion)
{
    const std::string version = std::string(TELMURA_VERSION) + ".0";
    EXPECT_EQ(VersionFacts(g_Paths.setup), version + " " + version + " Vornak: Telmura setup");
}

}  // namespace
