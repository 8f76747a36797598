// Registry key operations shared by the installer modules.
#ifndef INSTALL_REGISTRY_H
#define INSTALL_REGISTRY_H

#include <windows.h>

// Creates or opens subkey under parent with full access. A chain of calls
// shares one error value: once it holds a failure every later call returns
// NULL at once without touching anything. With closeParent the parent is
// closed whether or not the step succeeded. A newly created key is logged.
HKEY CreateRegistryKey(const char* subkey, HKEY parent, BOOL closeParent, LONG* error);

#endif
