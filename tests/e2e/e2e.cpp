#include "e2e.h"

#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>
#include <tlhelp32.h>

E2EPaths g_Paths;

std::string WindowsPath(const std::string& path)
{
    std::string out = path;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    // A Unix path from the build system: Wine maps / to drive Z:.
    if (!out.empty() && out[0] == '\\')
        out = "Z:" + out;
    return out;
}

void ParseE2EArguments(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string* target = nullptr;
        size_t skip = 0;
        if (arg.rfind("--setup=", 0) == 0)
            target = &g_Paths.setup, skip = 8;
        else if (arg.rfind("--hooks=", 0) == 0)
            target = &g_Paths.hooks, skip = 8;
        else if (arg.rfind("--work=", 0) == 0)
            target = &g_Paths.work, skip = 7;
        if (target)
            *target = WindowsPath(arg.substr(skip));
    }
    if (!g_Paths.work.empty()) {
        if (g_Paths.work.back() != '\\')
            g_Paths.work += '\\';
        CreateDirectoryA(g_Paths.work.c_str(), NULL);
    }
}

std::string Hex8(DWORD value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", (unsigned long)value);
    return text;
}

std::string LowerCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return text;
}

std::string UpperCase(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return text;
}

static std::string Ansi(const std::wstring& text)
{
    char out[MAX_PATH];
    int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out, sizeof out, NULL, NULL);
    return std::string(out, length > 0 ? length - 1 : 0);
}

std::string BecomeEastAsianUser()
{
    // Code page, user name, target characters.
    static const struct {
        UINT codePage;
        const wchar_t *user, *target;
    } kUsers[] = {{932, L"\u30BF\u30CA\u30AB", L"\u30BD\u8868"}, {950, L"\u6797", L"\u8A31\u529F"}, {936, L"\u8607", L"\u6DFA"}};
    for (const auto& user : kUsers) {
        if (user.codePage != GetACP())
            continue;
        std::wstring profile = std::wstring(L"C:\\") + user.user, temp = profile + L"\\Temp";
        CreateDirectoryW(profile.c_str(), NULL);
        CreateDirectoryW(temp.c_str(), NULL);
        SetEnvironmentVariableA("USERPROFILE", Ansi(profile).c_str());
        SetEnvironmentVariableA("TEMP", Ansi(temp).c_str());
        SetEnvironmentVariableA("TMP", Ansi(temp).c_str());
        return Ansi(user.target);
    }
    return "";
}

static std::string BaseNameOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/:");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool SetReportedVersion(const std::string& name, const std::string& version)
{
    std::string key = "Software\\Wine\\AppDefaults\\" + name;
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL) !=
        ERROR_SUCCESS)
        return false;
    if (version.empty())
        RegDeleteValueA(handle, "Version");
    else
        RegSetValueExA(handle, "Version", 0, REG_SZ, (const BYTE*)version.c_str(), (DWORD)version.size() + 1);
    RegCloseKey(handle);
    return true;
}

std::string PrepareProgram(const std::string& program, const std::string& name, const std::string& version)
{
    std::string copy = g_Paths.work + name;
    if (!CopyFileA(program.c_str(), copy.c_str(), FALSE) || !SetReportedVersion(name, version))
        return std::string();
    return copy;
}

bool ProcessRunning(const char* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        found = lstrcmpiA(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return found;
}

std::string TempDir()
{
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    std::string dir(temp, length < MAX_PATH ? length : 0);
    for (char& c : dir)
        if (c == '/')
            c = '\\';
    if (dir.empty() || dir.back() != '\\')
        dir += '\\';
    return dir;
}

std::string LogPathOf(const std::string& program)
{
    return TempDir() + UpperCase(BaseNameOf(program)) + ".LOG";
}

bool ReadWholeFile(const std::string& path, std::string* contents)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    contents->clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got)
        contents->append(buffer, got);
    CloseHandle(file);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& contents)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, contents.data(), (DWORD)contents.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == contents.size();
}

bool FileExistsAt(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A copy of this process's environment block with the given NAME=VALUE pairs
// replacing or adding variables.
static std::string ChildEnvironment(const std::vector<std::string>& extra)
{
    std::vector<std::string> entries;
    char* block = GetEnvironmentStringsA();
    for (const char* p = block; *p; p += strlen(p) + 1)
        entries.push_back(p);
    FreeEnvironmentStringsA(block);
    for (const std::string& pair : extra) {
        std::string name = UpperCase(pair.substr(0, pair.find('=') + 1));
        for (size_t i = 0; i < entries.size();)
            if (UpperCase(entries[i].substr(0, name.size())) == name)
                entries.erase(entries.begin() + i);
            else
                ++i;
        entries.push_back(pair);
    }
    std::string out;
    for (const std::string& entry : entries)
        out += entry + '\0';
    out += '\0';
    return out;
}

RunResult RunProgram(const std::string& path, const std::string& arguments,
                     const std::vector<std::string>& environment, DWORD timeoutMs,
                     const std::function<void()>& whileSuspended)
{
    RunResult result;
    std::string command = "\"" + path + "\"";
    if (!arguments.empty())
        command += " " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    std::string env = ChildEnvironment(environment);

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    DWORD started = GetTickCount();
    if (!CreateProcessA(path.c_str(), line.data(), NULL, NULL, FALSE, whileSuspended ? CREATE_SUSPENDED : 0,
                        &env[0], g_Paths.work.c_str(), &startup, &process))
        return result;
    result.started = true;
    if (whileSuspended) {
        whileSuspended();
        ResumeThread(process.hThread);
    }
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    result.elapsedMs = GetTickCount() - started;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.logExists = ReadWholeFile(LogPathOf(path), &result.log);
    return result;
}

std::vector<std::string> LogLines(const std::string& log)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(log.substr(start));
            break;
        }
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string MessageOf(const std::string& line)
{
    size_t colon = line.find(": ");
    return colon == std::string::npos ? std::string() : line.substr(colon + 2);
}

int FindMessage(const std::vector<std::string>& lines, const std::string& prefix, int from)
{
    for (int i = from < 0 ? 0 : from; i < (int)lines.size(); ++i)
        if (MessageOf(lines[i]).rfind(prefix, 0) == 0)
            return i;
    return -1;
}

int CountMessages(const std::vector<std::string>& lines, const std::string& prefix)
{
    int count = 0;
    for (const std::string& line : lines)
        if (MessageOf(line).rfind(prefix, 0) == 0)
            ++count;
    return count;
}

long LineNumberOf(const std::string& line)
{
    size_t colon = line.find(": ");
    if (colon == std::string::npos)
        return -1;
    size_t start = colon;
    while (start > 0 && line[start - 1] >= '0' && line[start - 1] <= '9')
        --start;
    if (start == colon)
        return -1;
    return strtol(line.substr(start, colon - start).c_str(), NULL, 10);
}

std::string InconsistentStatusLine(const std::string& log)
{
    static const char* const kModules[] = {"INSTALL", "UPGRADE", "REGISTRY", "WINMAIN", "LOG"};
    for (const std::string& line : LogLines(log)) {
        std::string message = MessageOf(line);
        if (message.rfind("Status 0x", 0) != 0)
            continue;
        DWORD word = strtoul(message.c_str() + 7, NULL, 16);
        std::string name = line.substr(0, line.find(": "));
        name = name.substr(name.find_first_not_of(' '));
        while (!name.empty() && name.back() >= '0' && name.back() <= '9')
            name.pop_back();
        DWORD module = 0;
        for (DWORD i = 0; i < 5; ++i)
            if (name == kModules[i])
                module = i + 1;
        if (StatusModule(word) != module || (word & 0xFFFF) != ((DWORD)LineNumberOf(line) & 0xFFFF))
            return line;
    }
    return std::string();
}

static const char kCompletionKey[] = "SOFTWARE\\Vornak\\UpgWizCompletion\\";

bool ReadCompletionRecord(const std::string& baseName, DWORD* status, DWORD* qualifier)
{
    HKEY key;
    std::string path = kCompletionKey + baseName;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof(DWORD);
    bool ok = RegQueryValueExA(key, "Status", NULL, &type, (BYTE*)status, &size) == ERROR_SUCCESS &&
              type == REG_DWORD && size == 4;
    size = sizeof(DWORD);
    ok = ok && RegQueryValueExA(key, "Qualifier", NULL, &type, (BYTE*)qualifier, &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == 4;
    RegCloseKey(key);
    return ok;
}

void DeleteCompletionRecord(const std::string& baseName)
{
    std::string path = kCompletionKey + baseName;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

static BOOL WINAPI IgnoreSessionEnd(DWORD event)
{
    return event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

void KeepThroughRestarts()
{
    SetConsoleCtrlHandler(IgnoreSessionEnd, TRUE);
}

bool WinebootRunning()
{
    return ProcessRunning("wineboot.exe");
}
