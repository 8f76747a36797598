// RegDeleteTreeA: Wine has it, whatever version it reports.
#define _WIN32_WINNT 0x0600
#include "product.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>

ProductPaths g_Product;

const Family kFamilies[6] = {
    {"win95", false, "DRAVELON.VXD", "Windows 95, 98 and Me"},
    {"win98", false, "DRAVELON.VXD", "Windows 95, 98 and Me"},
    {"winme", false, "DRAVELON.VXD", "Windows 95, 98 and Me"},
    {"nt40", true, "DRAVELON.SYS", "Windows NT 4.0"},
    {"win2k", true, "DRAVELON_XP.SYS", "Windows 2000 and XP"},
    {"winxp", true, "DRAVELON_XP.SYS", "Windows 2000 and XP"},
};

static std::string AsDirectory(std::string path)
{
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path;
}

void ParseProductArguments(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--stage=", 0) == 0)
            g_Product.stage = AsDirectory(WindowsPath(arg.substr(8)));
        else if (arg.rfind("--drivers=", 0) == 0)
            g_Product.drivers = AsDirectory(WindowsPath(arg.substr(10)));
        else if (arg.rfind("--signed=", 0) == 0)
            g_Product.signedCopies = AsDirectory(WindowsPath(arg.substr(9)));
        else if (arg.rfind("--generic=", 0) == 0)
            g_Product.generic = AsDirectory(WindowsPath(arg.substr(10)));
    }
}

void LeaveWindowsUnmanaged()
{
    HKEY key;
    if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Managed", 0, REG_SZ, (const BYTE*)"N", 2);
    RegCloseKey(key);
}

std::string SetupCopy(const std::string& version, const std::string& name)
{
    return g_Paths.work + name + "_" + version + ".exe";
}

RunResult RunSetup(const std::string& version, const std::string& arguments, const std::string& name)
{
    std::string copy = PrepareProgram(g_Paths.setup, name + "_" + version + ".exe", version);
    EXPECT_FALSE(copy.empty());
    DeleteFileA(LogPathOf(copy).c_str());
    RunResult run = RunProgram(copy, arguments);
    EXPECT_TRUE(run.started && !run.timedOut);
    EXPECT_EQ(InconsistentStatusLine(run.log), "");
    return run;
}

void ProductTest::SetUp()
{
    if (g_Paths.setup.empty() || g_Product.stage.empty() || g_Product.drivers.empty())
        GTEST_SKIP() << "no --setup=, --stage= or --drivers= path given";
    RemoveTelmura();
    // Every system of the 95 family has this directory.
    CreateDirectoryA((SystemDir() + "iosubsys").c_str(), NULL);
}

void ProductTest::TearDown()
{
    RemoveTelmura();
    Restart();
}

std::string WindowsDir()
{
    char path[MAX_PATH];
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    return AsDirectory(LowerCase(std::string(path, length)));
}

std::string SystemDir()
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return AsDirectory(LowerCase(std::string(path, length)));
}

std::string DriversDir(const Family& family)
{
    return SystemDir() + (family.nt ? "drivers\\" : "iosubsys\\");
}

std::string DriverPath(const Family& family)
{
    return DriversDir(family) + (family.nt ? "dravelon.sys" : "dravelon.vxd");
}

std::vector<std::string> LeftoverImages(const std::string& dir)
{
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((dir + "QNB*.TMP").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do
        found.push_back(dir + entry.cFileName);
    while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

static const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

void RemoveTelmura()
{
    const std::string system = SystemDir();
    for (const char* dir : {"drivers\\", "iosubsys\\"})
        for (const char* name : {"dravelon.sys", "dravelon.vxd", "dravelon.bak"})
            DeleteFileA((system + dir + name).c_str());
    DeleteFileA((system + "tlmrunin.exe").c_str());
    DeleteFileA((system + "qnbinit.tmp").c_str());
    for (const std::string& dir : {TempDir(), system, system + "drivers\\", system + "iosubsys\\"})
        for (const std::string& image : LeftoverImages(dir))
            DeleteFileA(image.c_str());
    for (const char* key : {"SYSTEM\\CurrentControlSet\\Services\\Dravelon",
                            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vornak Telmura",
                            "SOFTWARE\\Vornak"})
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "PendingFileRenameOperations");
        RegCloseKey(key);
    }
    DeleteFileA((WindowsDir() + "wininit.ini").c_str());
    DeleteFileA((WindowsDir() + "wininit.bak").c_str());
}

bool Restart()
{
    KeepThroughRestarts();
    std::string command = "\"" + SystemDir() + "wineboot.exe\" -r";
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DWORD start = GetTickCount();
    while (WinebootRunning() && GetTickCount() - start < 60000)
        Sleep(100);
    return ended && !WinebootRunning();
}

std::string RegistryValue(const std::string& keyPath, const std::string& name, DWORD* type)
{
    DWORD ignored;
    DWORD* kind = type ? type : &ignored;
    *kind = 0;
    HKEY key;
    std::string value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), NULL, kind, NULL, &size) == ERROR_SUCCESS) {
        value.resize(size);
        if (size)
            RegQueryValueExA(key, name.c_str(), NULL, kind, (BYTE*)&value[0], &size);
    }
    RegCloseKey(key);
    return value;
}

bool KeyExists(const std::string& keyPath)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string PendingRenames()
{
    return RegistryValue(kSessionManager, "PendingFileRenameOperations");
}

std::string WininitText()
{
    std::string text;
    return ReadWholeFile(WindowsDir() + "wininit.ini", &text) ? text : std::string();
}

std::string Contents(const std::string& path)
{
    std::string text;
    return ReadWholeFile(path, &text) ? text : std::string("<missing>");
}

bool SetFileYear(const std::string& path, WORD year)
{
    SYSTEMTIME time;
    memset(&time, 0, sizeof time);
    time.wYear = year;
    time.wMonth = 1;
    time.wDay = 1;
    FILETIME stamp;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool done = SystemTimeToFileTime(&time, &stamp) && SetFileTime(file, NULL, NULL, &stamp);
    CloseHandle(file);
    return done;
}

static std::string VersionText(DWORD high, DWORD low)
{
    char text[64];
    snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", (unsigned long)HIWORD(high), (unsigned long)LOWORD(high),
             (unsigned long)HIWORD(low), (unsigned long)LOWORD(low));
    return text;
}

std::string VersionFacts(const std::string& path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> block(size ? size : 1);
    if (!size || !GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        return std::string();
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", (void**)&fixed, &length) || !fixed)
        return std::string();
    auto field = [&block](const char* name) {
        char* text = NULL;
        UINT textLength = 0;
        std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
        return VerQueryValueA(block.data(), query.c_str(), (void**)&text, &textLength) && text ? std::string(text)
                                                                                              : std::string();
    };
    return VersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + " " +
           VersionText(fixed->dwProductVersionMS, fixed->dwProductVersionLS) + " " + field("CompanyName") + ": " +
           field("FileDescription");
}

// ---------------------------------------------------------------- snapshots

static std::string Hex(const BYTE* data, DWORD size)
{
    std::string text;
    char byte[4];
    for (DWORD i = 0; i < size; ++i) {
        snprintf(byte, sizeof byte, "%02X", data[i]);
        text += byte;
    }
    return text;
}

static void AddFiles(const std::string& dir, Snapshot* snapshot)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = LowerCase(dir + name);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*snapshot)["dir " + path] = "";
            AddFiles(dir + name + "\\", snapshot);
        } else {
            char facts[64];
            snprintf(facts, sizeof facts, "%lu bytes, time %08lX%08lX", (unsigned long)entry.nFileSizeLow,
                     (unsigned long)entry.ftLastWriteTime.dwHighDateTime,
                     (unsigned long)entry.ftLastWriteTime.dwLowDateTime);
            (*snapshot)["file " + path] = facts;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// The file classes, seven eighths of a prefix's registry, which nothing of
// Telmura writes: left out, a snapshot takes a tenth of the time.
static const char kClasses[] = "SOFTWARE\\Classes";

static void AddKey(HKEY root, const std::string& label, const std::string& path, Snapshot* snapshot)
{
    if (root == HKEY_LOCAL_MACHINE && LowerCase(path) == LowerCase(kClasses))
        return;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    (*snapshot)["key " + label + path] = "";
    std::vector<char> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = (DWORD)name.size(), dataSize = (DWORD)data.size(), type = 0;
        if (RegEnumValueA(key, i, name.data(), &nameSize, NULL, &type, data.data(), &dataSize) != ERROR_SUCCESS)
            break;
        (*snapshot)["value " + label + path + "\\" + std::string(name.data(), nameSize)] =
            std::to_string(type) + ":" + Hex(data.data(), dataSize);
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = (DWORD)name.size();
        if (RegEnumKeyExA(key, i, name.data(), &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subkeys.push_back(std::string(name.data(), nameSize));
    }
    RegCloseKey(key);
    for (const std::string& subkey : subkeys)
        AddKey(root, label, path + "\\" + subkey, snapshot);
}

std::string Listing(std::vector<std::string> lines)
{
    for (std::string& line : lines)
        line = LowerCase(line);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

Snapshot TakeSnapshot()
{
    Snapshot snapshot;
    AddFiles(WindowsDir(), &snapshot);
    AddKey(HKEY_LOCAL_MACHINE, "HKLM\\", "SOFTWARE", &snapshot);
    AddKey(HKEY_LOCAL_MACHINE, "HKLM\\", "SYSTEM\\CurrentControlSet\\Services", &snapshot);
    AddKey(HKEY_LOCAL_MACHINE, "HKLM\\", kSessionManager, &snapshot);
    AddKey(HKEY_CURRENT_USER, "HKCU\\", "Software\\Microsoft\\Windows\\CurrentVersion", &snapshot);
    return snapshot;
}

std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after)
{
    std::vector<std::string> found;
    for (const auto& entry : before) {
        auto now = after.find(entry.first);
        if (now == after.end())
            found.push_back("- " + entry.first);
        else if (now->second != entry.second)
            found.push_back("~ " + entry.first);
    }
    for (const auto& entry : after)
        if (!before.count(entry.first))
            found.push_back("+ " + entry.first);
    return found;
}

// ---------------------------------------------------------------- answered runs

struct Windows {
    DWORD process;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    Windows* windows = (Windows*)param;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == windows->process && IsWindowVisible(window))
        windows->found.push_back(window);
    return TRUE;
}

static std::string TextOf(HWND window)
{
    char text[1024];
    LRESULT length = SendMessageA(window, WM_GETTEXT, sizeof text, (LPARAM)text);
    return std::string(text, length > 0 ? (size_t)length : 0);
}

// A message box's text sits in a static control of this id.
static const int kBoxTextId = 0xFFFF;
static const int kWizardMainButton = 1004;

// The title of a visible window of another process that lies over window
// in the z-order and overlaps it, or "".
static std::string CoveringWindow(HWND window)
{
    RECT own, other, both;
    DWORD process = 0, covering = 0;
    GetWindowRect(window, &own);
    GetWindowThreadProcessId(window, &process);
    for (HWND above = GetWindow(window, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV))
        if (GetWindowThreadProcessId(above, &covering) && covering != process && IsWindowVisible(above) &&
            GetWindowRect(above, &other) && IntersectRect(&both, &own, &other))
            return TextOf(above);
    return "";
}

static void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

AnsweredRun RunAnswering(const std::string& path, const std::string& arguments, const std::vector<int>& answers,
                         HANDLE token, const std::function<void()>& onShown)
{
    bool shown = false;
    AnsweredRun result;
    std::string command = "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    BOOL started = token ? CreateProcessAsUserA(token, path.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL,
                                                g_Paths.work.c_str(), &startup, &process)
                         : CreateProcessA(path.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL,
                                          g_Paths.work.c_str(), &startup, &process);
    if (!started)
        return result;
    result.run.started = true;
    std::set<HWND> answered;
    DWORD start = GetTickCount(), lastPress = 0;
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > 60000) {
            result.run.timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
        Windows windows = {process.dwProcessId, {}};
        EnumWindows(CollectWindow, (LPARAM)&windows);
        for (HWND window : windows.found) {
            // The wizard's separator is a static without an id, as a box's
            // text is: only its main button tells the two apart.
            HWND main = GetDlgItem(window, kWizardMainButton);
            HWND text = main ? NULL : GetDlgItem(window, kBoxTextId);
            bool unanswered = text && !answered.count(window);
            if ((unanswered || main) && !shown && onShown)
                onShown();
            shown = shown || unanswered || main;
            if (unanswered) {
                Box box;
                box.caption = TextOf(window);
                box.text = TextOf(text);
                for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
                    if (GetDlgItem(window, id)) {
                        box.buttons.push_back(id);
                        box.labels.push_back(TextOf(GetDlgItem(window, id)));
                    }
                }
                size_t index = result.boxes.size();
                box.pressed = index < answers.size() ? answers[index] : box.buttons.empty() ? IDOK : box.buttons[0];
                result.boxes.push_back(box);
                answered.insert(window);
                Press(window, box.pressed);
            } else if (main) {
                if (result.wizardCoveredBy.empty())
                    result.wizardCoveredBy = CoveringWindow(window);
                // The wizard: its main button, once its page is ready for it.
                if (IsWindowEnabled(main) && GetTickCount() - lastPress > 500) {
                    lastPress = GetTickCount();
                    Press(window, kWizardMainButton);
                }
            }
        }
    }
    GetExitCodeProcess(process.hProcess, &result.run.exitCode);
    result.run.elapsedMs = GetTickCount() - start;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.run.logExists = ReadWholeFile(LogPathOf(path), &result.run.log);
    return result;
}

HANDLE TokenWithoutAdministrators()
{
    HANDLE own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own))
        return NULL;
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators;
    HANDLE restricted = NULL;
    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                 0, 0, &administrators)) {
        SID_AND_ATTRIBUTES disabled = {administrators, 0};
        if (!CreateRestrictedToken(own, 0, 1, &disabled, 0, NULL, 0, NULL, &restricted))
            restricted = NULL;
        FreeSid(administrators);
    }
    CloseHandle(own);
    return restricted;
}
