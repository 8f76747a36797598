#include "registry.h"

#include "log.h"

HKEY CreateRegistryKey(const char* subkey, HKEY parent, BOOL closeParent, LONG* error)
{
    if (*error != ERROR_SUCCESS)
        return NULL;
    HKEY key = NULL;
    DWORD disposition = 0;
    *error = RegCreateKeyExA(parent, subkey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             NULL, &key, &disposition);
    if (*error == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY)
        LOG("Created new registry key %s", subkey);
    if (closeParent)
        RegCloseKey(parent);
    return *error == ERROR_SUCCESS ? key : NULL;
}
