// Image creation: the first pass over a context. It saves the system's
// pending-rename records, then walks the archive behind the installer
// twice: once to test every entry's check value and add up the bytes to
// extract, and, only when every entry passed, once to extract each entry of
// an applicable table entry into a fresh temporary image in that entry's own
// destination directory (ExtractCallback names the images). The registry
// script is no image: the test walk expands it into memory (scriptcopy.cpp).
//
// The installer's own archive is read from its mapped image (ownimage.cpp),
// never from its file by name. Another archive file is opened once, reading
// only, without letting anyone write, rename or delete it, and kept so until
// both walks are done. Another file put in its place meanwhile is never read.
// The installer opens it at the start of a run, before anything is asked or
// shown (OpenArchive); a file it could not open then is not opened by name
// later: image creation reports that failure.
//
// The test walk must end at the archive's end record: any other end (a
// damaged header, an installer cut short) fails the pass, so a partial
// download never installs part of its payload. A processing run that fails
// fails the pass too, so an empty or short image is never taken for a good one.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <fcntl.h>
#include <io.h>
#include <string.h>

#include "cx.h"
#include "install.h"
#include "log.h"
#include "syscalls.h"
#include "text.h"

// The archive: the running program's payload in its image, or the file as
// opened (or the error that kept it from being opened) until image creation
// reads it through a stream, which then owns it.
static BOOL s_ArchiveOpened;
static BOOL s_InImage;
static const BYTE* s_Payload;
static DWORD s_PayloadSize;
static HANDLE s_ArchiveFile = INVALID_HANDLE_VALUE;
static DWORD s_ArchiveError;
static FILE* s_Archive;

void OpenArchive(UpgradeContext* context)
{
    if (s_ArchiveOpened || s_Archive || !context || !context->archivePath)
        return;
    s_ArchiveOpened = TRUE;
    s_InImage = IsRunningProgram(context->archivePath);
    if (s_InImage)
        return;
    s_ArchiveFile = g_Sys.CreateFileA(context->archivePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, NULL);
    s_ArchiveError = GetLastError();
}

static BOOL HoldArchive(UpgradeContext* context)
{
    if (s_Archive || s_Payload)
        return TRUE;
    OpenArchive(context);
    if (s_InImage) {
        if (FindImagePayload(&s_Payload, &s_PayloadSize))
            return TRUE;
        LOG("No payload in the image of %s", context->archivePath);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)CX_ENOARCHIVE);
        return FALSE;
    }
    if (s_ArchiveFile == INVALID_HANDLE_VALUE) {
        LOG("CreateFile %s failed 0x%08lX", context->archivePath, s_ArchiveError);
        STATUS(MSG_OPEN_FAILED, s_ArchiveError);
        return FALSE;
    }
    s_Archive = StreamOfHandle(s_ArchiveFile, "rb");
    s_ArchiveFile = INVALID_HANDLE_VALUE;
    return s_Archive != NULL;
}

void ReleaseArchive(void)
{
    if (s_Archive)
        fclose(s_Archive);
    else if (s_ArchiveFile != INVALID_HANDLE_VALUE)
        g_Sys.CloseHandle(s_ArchiveFile);
    s_Archive = NULL;
    s_ArchiveFile = INVALID_HANDLE_VALUE;
    s_ArchiveOpened = FALSE;
    s_InImage = FALSE;
    s_Payload = NULL;
}

FILE* StreamOfHandle(HANDLE file, const char* mode)
{
    int descriptor = _open_osfhandle((intptr_t)file, mode[1] == '+' ? _O_RDWR | _O_BINARY : _O_RDONLY | _O_BINARY);
    FILE* stream = descriptor < 0 ? NULL : _fdopen(descriptor, mode);
    if (stream)
        return stream;
    LOG("No C runtime stream for an open file");
    STATUS(MSG_OUT_OF_MEMORY, 0);
    if (descriptor >= 0)
        _close(descriptor);
    else
        g_Sys.CloseHandle(file);
    return NULL;
}

// Tests every entry of the archive and adds up the bytes to extract; the
// registry script is kept in memory on the way.
static BOOL TestArchive(UpgradeContext* context)
{
    int16_t slot = s_Payload ? cxOpenMemory(s_Payload, s_PayloadSize, context->archivePath, CopyMappedBytes)
                             : cxOpenStream(s_Archive, context->archivePath);
    if (slot < 0 || cxSeek(slot, 0, SEEK_SET) != 0) {
        LOG("cxOpenStream failure 0x%08lX", (LONG)slot);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)(slot < 0 ? slot : CX_EFAIL));
        if (slot >= 0)
            cxCloseFile(slot);
        return FALSE;
    }
    EntryInfo entry;
    memset(&entry, 0, sizeof entry);
    entry.source = slot;
    entry.destination = -1;
    int16_t result = cxFirstEntry(&entry);
    const char* fetch = "cxFirstEntry";
    while (result == CX_OK) {
        LONG index;
        ImageFile* image = FindImageFile(&entry, &index);
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
        if (image && (image->flags & IMG_REGISTRY_SCRIPT) && IsImageApplicable(image) &&
            !HoldRegistryScript(&entry, index)) {
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
    return RegistryScriptsHeld(context);
}

static void ExtractArchive(UpgradeContext* context)
{
    int16_t result = s_Payload
                         ? cxOpenArchiveMemory(s_Payload, s_PayloadSize, context->archivePath, CopyMappedBytes)
                         : cxOpenArchiveStream(s_Archive, context->archivePath);
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

BOOL CheckArchive(UpgradeContext* context)
{
    BOOL passed = FALSE;
    if (HoldArchive(context)) {
        g_Engine.currentContext = context;
        passed = TestArchive(context);
        g_Engine.currentContext = NULL;
    }
    // Image creation adds the bytes up again, for its own table.
    g_Engine.bytesDone = 0;
    g_Engine.bytesTotal = 0;
    if (!passed)
        ReleaseArchive();
    return passed;
}

BOOL CreateImages(UpgradeContext* context)
{
    if (!g_Engine.engineReady || !context->archivePath) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
    } else if (HoldArchive(context) && SafeguardPendingRenames()) {
        g_Engine.currentContext = context;
        g_Engine.currentIndex = -1;
        g_Engine.bytesDone = 0;
        g_Engine.bytesTotal = 0;
        // Folders are listed afresh for each run: extraction asks first.
        ForgetFolderListings();
        IndexImageNames(context);
        if (TestArchive(context))
            ExtractArchive(context);
        ReleaseImageNames();
    }
    ReleaseArchive();
    g_Engine.currentContext = NULL;
    if (STATUS_FAILED(g_Status.word)) {
        LOG("Image file creation failed 0x%08lX", g_Status.word);
        return FALSE;
    }
    LOG("Image file creation success");
    return TRUE;
}
