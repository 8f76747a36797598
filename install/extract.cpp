// The archive engine's event callback during image creation. For each entry
// about to be extracted it looks the name up in the context's table, skips
// what is not wanted (the registry script too: the test walk holds it in
// memory), creates the image ("QNB" plus hex digits, ".TMP") in the entry's
// destination directory and hands its path to the engine; it
// forwards byte progress to the product, and turns the engine's error events
// into status words and ends the run. An entry the engine cannot expand
// (unknown method) counts as damage: it would leave an empty image; so does
// a second entry for a table entry already extracted.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <string.h>

#include "cx.h"
#include "install.h"
#include "log.h"
#include "outcome.h"
#include "text.h"

ImageFile* FindImageFile(const EntryInfo* record, LONG* index)
{
    if (index)
        *index = -1;
    UpgradeContext* context = g_Engine.currentContext;
    if (!record || !context)
        return NULL;
    for (DWORD i = 0; i < context->count; ++i) {
        if (AsciiCompareNoCase(record->name, context->images[i].archiveName) == 0) {
            if (index)
                *index = (LONG)i;
            return &context->images[i];
        }
    }
    return NULL;
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
    if (!MakeTempFile(GetInstallDir(entry->dirId), image)) {
        record->stopCode = CX_STOP;
        return 1;
    }
    CopyText(record->name, image, sizeof record->name);
    LOG("Extract to: %s", record->name);
    GetBaseName(image, entry->imageName, sizeof entry->imageName);
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

