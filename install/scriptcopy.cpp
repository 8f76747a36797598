// The registry script, held in memory from its extraction to its parse.
// The script decides what an administrator's run writes into the registry,
// so no other program may change it on the way: the test walk expands it,
// from the archive the installer holds open, into a file this run creates
// under a new name and keeps open without sharing (no other program can
// open it meanwhile), reads it back whole, checks its size against the
// archive entry's (the expansion itself checked the entry's check value)
// and lets the file go. The interpreter parses that copy.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include "cx.h"
#include "install.h"
#include "log.h"
#include "ownfile.h"
#include "syscalls.h"

// Another name is tried while the one chosen exists already.
static const int kNameAttempts = 32;
// A script is a few kilobytes of text; one beyond this is damage, refused
// before its size is used for anything.
static const DWORD kScriptLimit = 1024 * 1024;

// A new file in the directory of dirId, opened for reading and writing by
// this run alone and deleted when it is closed; path receives its name.
static HANDLE CreateWorkFile(DWORD dirId, char* path)
{
    // Names are hard to foresee, though a foreseen one costs nothing but a
    // retry: a file of that name makes the creation fail.
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 12) ^ (DWORD)(ULONG_PTR)path;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        seed = seed * 1664525u + 1013904223u + GetTickCount();
        char name[16];
        wsprintfA(name, "QNB%08lX", seed);
        if (!BuildEnginePath(path, name, dirId, ".TMP"))
            return INVALID_HANDLE_VALUE;
        HANDLE file = g_Sys.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            LOG("CreateFile %s failed 0x%08lX", path, error);
            STATUS(MSG_OPEN_FAILED, error);
            return INVALID_HANDLE_VALUE;
        }
    }
    LOG("CreateFile %s failed 0x%08lX", path, (DWORD)ERROR_FILE_EXISTS);
    STATUS(MSG_TEMP_FILE_FAILED, ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

// The expanded script's bytes, read back through the handle that wrote them.
static BOOL ReadBack(HANDLE file, const char* path, DWORD size, ImageState* state)
{
    SetLastError(NO_ERROR);
    DWORD actual = g_Sys.GetFileSize(file, NULL);
    DWORD error = GetLastError();
    if (actual == INVALID_FILE_SIZE && error != NO_ERROR) {
        LOG("GetFileSize %s failed 0x%08lX", path, error);
        STATUS(MSG_FILE_SIZE_FAILED, error);
        return FALSE;
    }
    if (actual != size) {
        LOG("%s holds %lu bytes, the archive entry %lu", path, actual, size);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)CX_ESHORT);
        return FALSE;
    }
    BYTE* text = (BYTE*)g_Sys.HeapAlloc(GetProcessHeap(), 0, size + 1);
    if (!text) {
        LOG("Out of memory");
        STATUS(MSG_OUT_OF_MEMORY, 0);
        return FALSE;
    }
    DWORD read = 0;
    if (g_Sys.SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        error = GetLastError();
        LOG("SetFilePointer %s failed 0x%08lX", path, error);
        STATUS(MSG_SEEK_FAILED, error);
    } else if (size && (!g_Sys.ReadFile(file, text, size, &read, NULL) || read != size)) {
        error = GetLastError();
        LOG("ReadFile %s of %ld bytes failed 0x%08lX (%ld bytes read)", path, size, error, read);
        STATUS(MSG_READ_FAILED, error);
    } else {
        text[size] = 0;
        state->scriptText = text;
        state->scriptSize = size;
        return TRUE;
    }
    HeapFree(GetProcessHeap(), 0, text);
    return FALSE;
}

BOOL HoldRegistryScript(EntryInfo* entry, LONG index)
{
    const ImageFile* image = &g_Engine.currentContext->images[index];
    ImageState* state = &g_Engine.currentContext->states[index];
    if (state->scriptText) {
        LOG("Archive entry %s is packed twice", entry->name);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)CX_ECHECK);
        return FALSE;
    }
    if (entry->unpackedSize > kScriptLimit) {
        LOG("Registry file %s of %lu bytes is larger than %lu bytes", entry->name, (DWORD)entry->unpackedSize,
            kScriptLimit);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)CX_ETOOLARGE);
        return FALSE;
    }
    char path[MAX_PATH];
    HANDLE file = CreateWorkFile(image->dirId, path);
    FILE* stream = file == INVALID_HANDLE_VALUE ? NULL : StreamOfHandle(file, "w+b");
    if (!stream)
        return FALSE;
    LOG("Extract from: %s", entry->name);
    LOG("Extract to: %s", path);

    // The walk goes on from the entry's first data byte. The engine's events
    // are not the extraction's: the bar moves with the bytes once the walk
    // has added them all up, and this expansion's failure is reported here.
    int32_t data = cxTell(entry->source);
    int32_t destination = entry->destination;
    UpgradeContext* context = g_Engine.currentContext;
    g_Engine.currentContext = NULL;
    int16_t result = cxOpenStream(stream, path);
    if (result >= 0) {
        entry->destination = result;
        int16_t expanded = cxExpandEntry(entry);
        result = cxCloseFile(entry->destination);
        if (expanded < 0)
            result = expanded;
    }
    g_Engine.currentContext = context;
    entry->destination = destination;
    if (result >= 0 && cxSeek(entry->source, data, SEEK_SET) != data)
        result = CX_EFAIL;
    if (result < 0) {
        LOG("cxExpandEntry failure 0x%08lX on %s", (LONG)result, entry->name);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)result);
    }
    BOOL held = result >= 0 && ReadBack(file, path, entry->unpackedSize, state);
    if (held) {
        g_Engine.bytesDone += entry->unpackedSize;
        LOG("Finished: %ld bytes", entry->unpackedSize);
    }
    fclose(stream);
    // The close deleted the file itself: its name, in a folder others may
    // write, may by now be someone else's. The 95 family does not delete on
    // close, and has no links for a name to lead elsewhere.
    if (!DeletesThroughHandles())
        g_Sys.DeleteFileA(path);
    return held;
}

BOOL RegistryScriptsHeld(const UpgradeContext* context)
{
    for (DWORD i = 0; i < context->count; ++i) {
        const ImageFile* image = &context->images[i];
        if ((image->flags & IMG_REGISTRY_SCRIPT) && IsImageApplicable(image) && !context->states[i].scriptText) {
            LOG("Registry file %s is not in the archive", image->archiveName);
            STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)CX_ENOFILE);
            return FALSE;
        }
    }
    return TRUE;
}

void ReleaseRegistryScript(ImageState* state)
{
    if (state->scriptText)
        HeapFree(GetProcessHeap(), 0, state->scriptText);
    state->scriptText = NULL;
    state->scriptSize = 0;
}
