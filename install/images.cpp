// Image creation: the first pass over a context. It saves the system's
// pending-rename records, then walks the archive behind the installer
// twice: once to test every entry's check value and add up the bytes to
// extract, and, only when every entry passed, once to extract each entry of
// an applicable table entry into a fresh temporary image in that entry's own
// destination directory (ExtractCallback names the images).
//
// The test walk must end at the archive's end record: any other end (a
// damaged header, an installer cut short) fails the pass, so a partial
// download never installs part of its payload. A processing run that fails
// fails the pass too, so an empty or short image is never taken for a good one.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <string.h>

#include "cx.h"
#include "install.h"
#include "log.h"
#include "text.h"

// Tests every entry of the archive and adds up the bytes to extract.
static BOOL TestArchive(UpgradeContext* context)
{
    int16_t slot = cxOpenFile(context->archivePath, CX_READ);
    if (slot < 0) {
        LOG("cxOpenFile failure 0x%08lX", (LONG)slot);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)slot);
        return FALSE;
    }
    EntryInfo entry;
    memset(&entry, 0, sizeof entry);
    entry.source = slot;
    entry.destination = -1;
    int16_t result = cxFirstEntry(&entry);
    const char* fetch = "cxFirstEntry";
    while (result == CX_OK) {
        ImageFile* image = FindImageFile(&entry, NULL);
        // Language bits are not looked at: the total may exceed what is
        // extracted.
        if (image && IsPlatformApplicable(image))
            g_Engine.bytesTotal += entry.unpackedSize;
        int16_t tested = cxTestFile(&entry);
        if (tested < 0) {
            LOG("cxTestFile failure 0x%08lX on %s", (LONG)tested, entry.name);
            STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)tested);
            cxCloseFile(slot);
            return FALSE;
        }
        result = cxNextEntry(&entry);
        fetch = "cxNextEntry";
    }
    cxCloseFile(slot);
    // Only the end record ends a sound archive; anything else is damage or
    // an installer cut short.
    if (result != CX_EEND) {
        LOG("%s failure 0x%08lX", fetch, (LONG)result);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)result);
        return FALSE;
    }
    return TRUE;
}

static void ExtractArchive(UpgradeContext* context)
{
    // The archive engine upper-cases the name it is given.
    char path[MAX_PATH];
    CopyText(path, context->archivePath, sizeof path);
    int16_t result = cxOpenArchive(path, CX_ARC_READONLY);
    if (result < 0) {
        LOG("cxOpenArchive failure 0x%08lX", (LONG)result);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)result);
        return;
    }
    LOG("Extracting files");
    result = cxExtract("*.*", "");
    if (result != 0) {
        LOG("cxExtract failure 0x%08lX", (LONG)result);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)result);
    } else {
        result = cxProcess();
        // A write error, an output that cannot be created or a table that
        // cannot be allocated shows only here.
        if (result < 0) {
            LOG("cxProcess failure 0x%08lX", (LONG)result);
            STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)result);
        }
    }
    cxCloseArchive();
}

BOOL CreateImages(UpgradeContext* context)
{
    if (!g_Engine.engineReady || !context->archivePath) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
    } else if (SafeguardPendingRenames()) {
        g_Engine.currentContext = context;
        g_Engine.currentIndex = -1;
        g_Engine.bytesDone = 0;
        g_Engine.bytesTotal = 0;
        if (TestArchive(context))
            ExtractArchive(context);
    }
    g_Engine.currentContext = NULL;
    if (STATUS_FAILED(g_Status.word)) {
        LOG("Image file creation failed 0x%08lX", g_Status.word);
        return FALSE;
    }
    LOG("Image file creation success");
    return TRUE;
}
