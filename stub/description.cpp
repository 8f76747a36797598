// The description of the generic setup is an entry of the setup's own
// archive. It is read only once the whole archive has passed its check, and
// through the file the run opened at its start: the test walk expands it as
// it expands a registry script, into a work file only this run can open and
// from there into memory, so no other program can change what the run
// parses. The parse is strict; its first fault is logged with its line and
// ends the run (status 2069) before anything is changed.
#include <string.h>

#include "install.h"
#include "log.h"
#include "product.h"
#include "upgrade.h"

#include "syscalls.h"

ProductDescription* g_Product;

void* AllocateZeroed(DWORD size)
{
    void* memory = g_Sys.HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!memory) {
        LOG("Out of memory");
        STATUS(MSG_OUT_OF_MEMORY, 0);
    }
    return memory;
}

BOOL ReadProductDescription(const char* archivePath)
{
    static ImageFile entry = {DESC_ENTRY_NAME, DESC_ENTRY_NAME, "", "", DIR_TEMP,
                              IMG_REGISTRY_SCRIPT | IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 0};
    ImageState state;
    UpgradeContext context;
    memset(&context, 0, sizeof context);
    memset(&state, 0, sizeof state);
    context.archivePath = archivePath;
    context.count = 1;
    context.images = &entry;
    context.states = &state;
    // An archive without the description fails the check (2069).
    if (!CheckArchive(&context)) {
        ReleaseRegistryScript(&state);
        return FALSE;
    }
    g_Product = (ProductDescription*)AllocateZeroed(sizeof *g_Product);
    if (!g_Product) {
        ReleaseRegistryScript(&state);
        return FALSE;
    }
    DescError error;
    bool parsed = ParseProductDescription((const char*)state.scriptText, state.scriptSize, g_Product, &error);
    ReleaseRegistryScript(&state);
    if (!parsed) {
        HeapFree(GetProcessHeap(), 0, g_Product);
        g_Product = NULL;
        LOG("%s line %lu: %s", DESC_ENTRY_NAME, (DWORD)error.line, error.message);
        STATUS(MSG_DECOMPRESS_FAILED, error.line);
        return FALSE;
    }
    LOG("Product %s %s %s", g_Product->maker, g_Product->product, g_Product->version);
    return TRUE;
}
