// The registry module: the registry script interpreter, the key creation
// step shared by the installer modules, and the deletion of a key tree.
#ifndef INSTALL_REGISTRY_H
#define INSTALL_REGISTRY_H

#include <windows.h>

// Creates or opens subkey under parent with full access. A chain of calls
// shares one error value: once it holds a failure every later call returns
// NULL at once without touching anything. With closeParent the parent is
// closed whether or not the step succeeded. A newly created key is logged.
HKEY CreateRegistryKey(const char* subkey, HKEY parent, BOOL closeParent, LONG* error);

// Interprets one registry script, size bytes of text named name in the log
// (RunRegistryScript, in upgrade.h, runs every script a context holds).
// TRUE when the end of the text was reached; the first malformed line or
// failing registry call stops it with a status, leaving what was written
// before it in the registry.
BOOL ParseRegistryText(const char* name, const BYTE* text, DWORD size);

// Called, when set, for each key line of a registry script that creates a
// key: with the root and the topmost key of the path that was not there
// before (its missing parents are created with it). The generic setup
// records these so that its uninstaller removes what the script made and
// nothing that was there already.
typedef void (*KeyCreatedHook)(HKEY root, const char* path);
extern KeyCreatedHook g_KeyCreated;

// Deletes root\path with every key below it, deepest keys first. TRUE when
// the key was there and every subkey could be visited.
BOOL DeleteKeyTree(HKEY root, const char* path);

// The same for the uninstallers: a key that is not there is no failure, and
// what is left of the key afterwards decides; logged, and FALSE with status
// 2081 when the key stays.
BOOL RemoveKeyTree(HKEY root, const char* path);

#endif
