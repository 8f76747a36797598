// Deleting a registry key with every key below it, deepest keys first: the
// 95 family's RegDeleteKeyA would take a whole tree, the NT family's only a
// key without subkeys.
#include "registry.h"

#include <string.h>

#include "log.h"
#include "syscalls.h"
#include "text.h"

BOOL DeleteKeyTree(HKEY root, const char* path)
{
    HKEY key;
    if (g_Sys.RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return FALSE;
    char className[128];
    DWORD classLength = sizeof className;
    DWORD subkeys = 0, longest = 0;
    if (g_Sys.RegQueryInfoKeyA(key, className, &classLength, NULL, &subkeys, &longest, NULL, NULL, NULL, NULL,
                               NULL, NULL) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return FALSE;
    }
    if (subkeys == 0) {
        RegCloseKey(key);
        g_Sys.RegDeleteKeyA(root, path);
        return TRUE;
    }

    HANDLE heap = GetProcessHeap();
    DWORD nameSize = longest + 1;
    DWORD pathSize = longest + (DWORD)strlen(path) + 2;
    char* name = (char*)g_Sys.HeapAlloc(heap, 0, nameSize);
    char* subpath = (char*)g_Sys.HeapAlloc(heap, 0, pathSize);
    BOOL deleted = name && subpath;
    // From the last subkey down, so a deletion shifts none still to come.
    for (DWORD i = subkeys; deleted && i > 0; --i) {
        DWORD length = nameSize;
        // A name that could not be read whole is no name: part of it could
        // name another key.
        if (g_Sys.RegEnumKeyExA(key, i - 1, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            name[0] = 0;
        if (!name[0]) {
            deleted = FALSE;
            break;
        }
        CopyText(subpath, path, pathSize);
        AppendText(subpath, "\\", pathSize);
        AppendText(subpath, name, pathSize);
        deleted = DeleteKeyTree(root, subpath);
    }
    RegCloseKey(key);
    if (deleted)
        g_Sys.RegDeleteKeyA(root, path);
    if (name)
        HeapFree(heap, 0, name);
    if (subpath)
        HeapFree(heap, 0, subpath);
    return deleted;
}

BOOL RemoveKeyTree(HKEY root, const char* path)
{
    HKEY key;
    if (g_Sys.RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        LOG("Registry key %s is not there", path);
        return TRUE;
    }
    RegCloseKey(key);
    DeleteKeyTree(root, path);
    // The tree deletion says nothing of the key itself: what is left says.
    LONG result = g_Sys.RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        RegCloseKey(key);
        result = g_Sys.RegDeleteKeyA(root, path);
        if (result != ERROR_SUCCESS) {
            LOG("Unable to delete registry key %s 0x%08lX", path, result);
            STATUS(MSG_KEY_OPEN_FAILED, (DWORD)result);
            return FALSE;
        }
    }
    LOG("Deleted registry key %s", path);
    return TRUE;
}
