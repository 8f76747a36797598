// Runs an installer and reports what the shell cannot see under Wine: the
// whole 32-bit exit code (a Unix exit status keeps only 8 bits), in words,
// and the log the run left in the temporary directory, which is removed
// afterwards.
//   showrun [--timeout=SECONDS] [--uninstaller] PROGRAM [ARGUMENTS...]
// A Unix path of the program maps to drive Z:. A program still running
// after the time-out (a wizard waiting for a user) is ended, and so said.
// With --uninstaller the progress ids read as a removal's.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "status_words.h"

static std::string WindowsPath(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return (!path.empty() && path[0] == '\\') ? "Z:" + path : path;
}

int main(int argc, char** argv)
{
    int first = 1;
    DWORD timeoutMs = INFINITE;
    bool uninstaller = false;
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
        if (strncmp(argv[first], "--timeout=", 10) == 0)
            timeoutMs = (DWORD)strtoul(argv[first] + 10, NULL, 10) * 1000;
        else if (strcmp(argv[first], "--uninstaller") == 0)
            uninstaller = true;
        else
            break;
    }
    if (argc <= first) {
        fprintf(stderr, "usage: showrun [--timeout=SECONDS] [--uninstaller] PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::string program = WindowsPath(argv[first]);
    std::string command = "\"" + program + "\"";
    for (int i = first + 1; i < argc; ++i)
        command += std::string(" ") + argv[i];

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "cannot start %s: error %lu\n", program.c_str(), GetLastError());
        return 2;
    }
    bool ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) {
        printf("still running after %lu s (waiting for a user?): ended it\n", timeoutMs / 1000);
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (ended)
        printf("result: %s\n", StatusInWords(code, uninstaller).c_str());

    // The log: temporary directory + upper-case base name + ".LOG".
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    std::string log(temp, length < MAX_PATH ? length : 0);
    if (log.empty() || (log.back() != '\\' && log.back() != '/'))
        log += '\\';
    size_t slash = program.find_last_of("\\:");
    std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
    name = name.substr(0, name.rfind('.'));
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    log += name + ".LOG";

    FILE* file = fopen(log.c_str(), "rb");
    if (!file) {
        printf("no log at %s\n", log.c_str());
    } else {
        printf("log %s:\n", log.c_str());
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
            fwrite(buffer, 1, got, stdout);
        fclose(file);
        DeleteFileA(log.c_str());
    }
    fflush(stdout);
    return 0;
}
