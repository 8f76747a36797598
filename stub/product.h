// The generic setup's product: its description, read from the setup's own
// archive, and what the run makes of it (the file table, the target
// directory, the folders the product needs).
#ifndef STUB_PRODUCT_H
#define STUB_PRODUCT_H

#include <windows.h>

#include "productdesc.h"

struct UpgradeContext;

// The description as read (from the process heap: the image stays small),
// valid once ReadProductDescription succeeded.
extern ProductDescription* g_Product;

// Zero-filled memory from the process heap, or NULL with status 2054.
void* AllocateZeroed(DWORD size);

// Checks the whole archive behind archivePath (held open since the run
// began) and reads and parses its description entry into g_Product. FALSE
// with a status: 2069 for a damaged archive, a missing description or a
// fault of it (logged with its line).
BOOL ReadProductDescription(const char* archivePath);

// The target directory the description names, made the run's target
// directory; FALSE with a status when the program-files folder cannot be
// learnt or the path does not fit.
BOOL ResolveTargetDirectory(void);

// Fills context's table (images and states) from g_Product: the registry
// script first when there is one, then each file. FALSE with a status.
BOOL BuildFileTable(UpgradeContext* context);

// The key of the product's entry in the list of installed programs, below
// HKEY_LOCAL_MACHINE; FALSE when it does not fit in size bytes.
BOOL UninstallKeyName(char* key, DWORD size);
// Whether that entry records a newer version of the product than this setup's.
BOOL InstalledVersionIsNewer(void);

// Creates every folder the product needs and that is missing (the target
// directory with its missing parents, the files' sub-folders and the
// description's folders); each one made is noted. FALSE with a status.
BOOL CreateProductFolders(void);
// Removes the folders CreateProductFolders made that are empty, deepest
// first (after a roll-back).
void RemoveEmptyProductFolders(void);
// The index-th folder CreateProductFolders made (parents first, no
// trailing '\'), NULL past the last.
const char* MadeFolder(DWORD index);

// The installation of the described product, in silent and visual runs:
// the folders it needs, then the install sequence; after a failure the
// empty folders it made are removed. FALSE after a failure.
BOOL InstallProduct(UpgradeContext* context);
// Called after a failed run before those folders are removed, by a
// front-end that put files of its own in them (the uninstaller); NULL for
// none.
extern void (*g_UndoBeforeFolders)(void);

#endif
