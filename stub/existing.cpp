// The version of the product already installed, as the entry in the list of
// installed programs records it. A setup of an older version stops before it
// changes anything: the engine would keep every newer file, but the registry
// script and the entry would be set back to the older version.

#include "log.h"
#include "product.h"
#include "syscalls.h"

BOOL InstalledVersionIsNewer(void)
{
    char key[MAX_PATH + 64];
    if (!UninstallKeyName(key, sizeof key))
        return FALSE;
    HKEY handle;
    if (g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return FALSE;
    char text[32];
    DWORD type = 0;
    DWORD size = sizeof text - 1;
    LONG result = g_Sys.RegQueryValueExA(handle, "DisplayVersion", NULL, &type, (BYTE*)text, &size);
    RegCloseKey(handle);
    uint16_t installed[4];
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return FALSE;
    text[size] = 0;
    if (!ParseProductVersion(text, installed)) {
        LOG("Installed version %s is not four numbers: not compared", text);
        return FALSE;
    }
    LOG("Installed version %s", text);
    for (int part = 0; part < 4; ++part)
        if (installed[part] != g_Product->versionParts[part])
            return installed[part] > g_Product->versionParts[part];
    return FALSE;
}
