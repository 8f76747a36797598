// The archive engine's event callback during image creation. For each entry
// about to be extracted it looks the name up in the context's table, skips
// what is not wanted (the registry script too: the test walk holds it in
// memory), creates the image ("QNB" plus hex digits, ".TMP") in the entry's
// destination directory, or a new target itself, and hands it to the
// engine, open, to write into; it forwards byte progress to the product,
// and turns the engine's error events into status words and ends the run. An entry the engine cannot expand
// (unknown method) counts as damage: it would leave an empty image; so does
// a second entry for a table entry already extracted.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <stdlib.h>
#include <string.h>

#include "cx.h"
#include "install.h"
#include "log.h"
#include "outcome.h"
#include "syscalls.h"
#include "text.h"

// The context's table indices sorted by archive name without regard to
// case, then by index, so that each archive entry is looked up in log time
// rather than by a walk over the table. Without memory for it the table is
// walked.
static DWORD* s_ByName;
static const UpgradeContext* s_Indexed;

// Whether the move record file is there, asked once a pass over the
// archive, at the first entry that might be extracted in place.
enum RecordKnown { RECORD_UNKNOWN, RECORD_ABSENT, RECORD_PRESENT };
static RecordKnown s_Record;

static int CompareArchiveNames(const void* a, const void* b)
{
    DWORD i = *(const DWORD*)a, j = *(const DWORD*)b;
    int order = AsciiCompareNoCase(s_Indexed->images[i].archiveName, s_Indexed->images[j].archiveName);
    if (order)
        return order;
    return i < j ? -1 : i > j ? 1 : 0;
}

void IndexImageNames(const UpgradeContext* context)
{
    ReleaseImageNames();
    s_Record = RECORD_UNKNOWN;
    s_ByName = (DWORD*)HeapAlloc(GetProcessHeap(), 0, context->count * sizeof(DWORD) + 1);
    if (!s_ByName)
        return;
    for (DWORD i = 0; i < context->count; ++i)
        s_ByName[i] = i;
    s_Indexed = context;
    qsort(s_ByName, context->count, sizeof(DWORD), CompareArchiveNames);
}

void ReleaseImageNames(void)
{
    if (s_ByName)
        HeapFree(GetProcessHeap(), 0, s_ByName);
    s_ByName = NULL;
    s_Indexed = NULL;
}

// The first index (in table order) whose archive name is name, or -1.
static LONG LookUpImageName(const UpgradeContext* context, const char* name)
{
    if (!s_ByName || s_Indexed != context) {
        for (DWORD i = 0; i < context->count; ++i)
            if (AsciiCompareNoCase(name, context->images[i].archiveName) == 0)
                return (LONG)i;
        return -1;
    }
    DWORD low = 0, high = context->count;
    while (low < high) {
        DWORD middle = low + (high - low) / 2;
        if (AsciiCompareNoCase(context->images[s_ByName[middle]].archiveName, name) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < context->count && AsciiCompareNoCase(context->images[s_ByName[low]].archiveName, name) == 0)
        return (LONG)s_ByName[low];
    return -1;
}

ImageFile* FindImageFile(const EntryInfo* record, LONG* index)
{
    if (index)
        *index = -1;
    UpgradeContext* context = g_Engine.currentContext;
    if (!record || !context)
        return NULL;
    LONG found = LookUpImageName(context, record->name);
    if (found < 0)
        return NULL;
    if (index)
        *index = found;
    return &context->images[found];
}

static void ReportExtractProgress(DWORD fileDone, DWORD fileSize, DWORD totalDone)
{
    UpgradeContext* context = g_Engine.currentContext;
    if (!context->progress)
        return;
    ProgressRecord record;
    memset(&record, 0, sizeof record);
    record.code = PROGRESS_EXTRACT;
    record.fileDone = fileDone;
    record.fileSize = fileSize;
    record.totalDone = totalDone;
    record.totalSize = g_Engine.bytesTotal;
    record.index = g_Engine.currentIndex;
    record.context = context;
    context->progress(&record);
}

// The image of an entry: a new empty file "QNB", hex digits, ".TMP" in
// directory, made here exclusively (never over anything, never through a
// link) and handed to the archive engine open, which writes the entry
// straight into it; *file is its handle. The digits count on from one image
// to the next, from a start the clock gives, as GetTempFileNameA's do, and a
// name that is taken is passed over. The name keeps the letter case every
// later step uses. Where no file can be made so, GetTempFileNameA makes the
// image (*file is then INVALID_HANDLE_VALUE) and the engine puts the entry
// in its place; its failure is the step's.
static BOOL CreateImage(const char* directory, char* path, HANDLE* file)
{
    static WORD s_Number;
    if (s_Number == 0)
        s_Number = (WORD)GetTickCount();
    for (int tries = 0; tries < 64; ++tries) {
        if (++s_Number == 0)
            s_Number = 1;
        char name[16];
        wsprintfA(name, "QNB%X.TMP", (DWORD)s_Number);
        if (!CopyText(path, directory, MAX_PATH) || !AppendText(path, name, MAX_PATH))
            break;
        *file = g_Sys.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (*file != INVALID_HANDLE_VALUE)
            return TRUE;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    *file = INVALID_HANDLE_VALUE;
    return MakeTempFile(directory, path);
}

// A file whose target has none yet and that is put in place at once is
// extracted to its target itself, made here as a new file (never over
// anything, never through a link): then no image of a new name is made and
// no rename to a new name follows, each of which costs some file systems a
// read of the whole folder. Only where the folder's listing shows no file
// of that name, the decision takes the entry for want of one (it needs
// none, and nothing replaces or deletes one), and no replacement of an
// earlier run waits for the restart (no move record file). FALSE, with
// nothing made, otherwise or when it cannot be made (the image then gets a
// name of its own); FALSE with a status when the record file cannot be
// looked for.
static BOOL CreateInPlace(const ImageFile* entry, char* path, HANDLE* file, BOOL* failed)
{
    const DWORD kElsewhere = IMG_WORK_FILE | IMG_REGISTRY_SCRIPT | IMG_DIRECTORY | IMG_NO_IMAGE |
                             IMG_NEED_EXISTING | IMG_DELETE_EXISTING;
    *failed = FALSE;
    BOOL exists = TRUE;
    if ((entry->flags & kElsewhere) || MovesAtRestart(entry) ||
        !BuildInstallPath(path, entry->targetName, entry->dirId, NULL) || !ListedFileExists(path, &exists) || exists)
        return FALSE;
    if (s_Record == RECORD_UNKNOWN) {
        char record[MAX_PATH];
        BOOL present = TRUE;
        if (MoveRecordPath(record) && !LookForFile(record, &present, NULL)) {
            *failed = TRUE;
            return FALSE;
        }
        s_Record = present ? RECORD_PRESENT : RECORD_ABSENT;
    }
    if (s_Record != RECORD_ABSENT)
        return FALSE;
    *file = g_Sys.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    return *file != INVALID_HANDLE_VALUE;
}

// Event 44: an entry is about to be extracted. 0 extracts it to the name the
// record then holds, 1 skips it.
static int16_t NameImage(EntryInfo* record)
{
    LONG index;
    ImageFile* entry = FindImageFile(record, &index);
    if (!entry) {
        LOG("Skipping archive only file %s", record->name);
        return 1;
    }
    if (!IsImageApplicable(entry) || (entry->flags & IMG_REGISTRY_SCRIPT))
        return 1;
    // A second entry of one name would take the first one's image over and
    // leave that image behind: an archive that holds one is damaged.
    ImageState* state = &g_Engine.currentContext->states[index];
    if (state->extracted) {
        LOG("Archive entry %s is packed twice", record->name);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)CX_ECHECK);
        record->stopCode = CX_STOP;
        return 1;
    }
    state->extracted = 1;
    g_Engine.currentIndex = index;
    LOG("Extract from: %s", record->name);

    char image[MAX_PATH];
    HANDLE file = INVALID_HANDLE_VALUE;
    BOOL failed = FALSE;
    state->inPlace = CreateInPlace(entry, image, &file, &failed);
    if (failed || (!state->inPlace && !CreateImage(GetInstallDir(entry->dirId), image, &file))) {
        record->stopCode = CX_STOP;
        return 1;
    }
    NoteNameMade(image);
    CopyText(record->name, image, sizeof record->name);
    LOG("Extract to: %s", record->name);
    GetBaseName(image, entry->imageName, sizeof entry->imageName);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // The image is named now, so a cleanup finds it whatever happens next.
    FILE* stream = StreamOfHandle(file, "w+b");
    if (!stream) {
        record->stopCode = CX_STOP;
        return 1;
    }
    // Not taken (never at event 44): the engine puts the entry in its place.
    if (cxSetOutputFile(stream) != CX_OK)
        fclose(stream);
    return 0;
}

int16_t ExtractCallback(EntryInfo* record, CxEvent code, int32_t value)
{
    if (!g_Engine.currentContext)
        return 0;
    if (code == CXCB_OUTPUT)
        return record ? NameImage(record) : 1;
    if (code == CXCB_EXPAND || code == CXCB_STORED) {
        DWORD size = record ? record->unpackedSize : 0;
        ReportExtractProgress((DWORD)value, size, g_Engine.bytesDone + (DWORD)value);
        return 0;
    }
    if (code == CXCB_EXTRACTED) {
        DWORD size = record ? record->unpackedSize : 0;
        g_Engine.bytesDone += size;
        ReportExtractProgress(size, size, g_Engine.bytesDone);
        LOG("Finished: %ld bytes", size);
        g_Engine.currentIndex = -1;
        return 0;
    }
    const EngineOutcome* error = ExtractionFailure(code);
    if (!error)
        return 0;
    LOG("Callback error 0x%08lX, lVal 0x%08lX", (LONG)code, (LONG)value);
    STATUS(MSG_DECOMPRESS_FAILED, (DWORD)error->qualifier);
    if (record) {
        LOG("Callback parchive file %s", record->name);
        record->stopCode = CX_STOP;
    }
    return 1;
}

