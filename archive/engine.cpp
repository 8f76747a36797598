// Engine set-up: the check-value table, the two callbacks, and the one
// allocator every allocation of the engine goes through.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

static CxCallback eventCallback;
static CxCallback overwriteCallback;
static int systemError;

static void* allocateByMalloc(size_t size, void*) {
    return malloc(size);
}

static void releaseByFree(void* block, void*) {
    free(block);
}

static CxAllocator allocator = {allocateByMalloc, releaseByFree, nullptr};

void cxSetAllocator(const CxAllocator* given) {
    allocator = given ? *given : CxAllocator{allocateByMalloc, releaseByFree, nullptr};
}

void* cxAlloc(size_t size) {
    return allocator.allocate(size ? size : 1, allocator.context);
}

void* cxAllocZero(size_t size) {
    void* block = cxAlloc(size);
    if (block) memset(block, 0, size);
    return block;
}

void cxFree(void* block) {
    if (block) allocator.release(block, allocator.context);
}

int16_t cxInit(void) {
    // A table that cannot be allocated now is built on its first use.
    cxCrcReady();
    return CX_OK;
}

int16_t cxTerm(void) {
    cxCrcRelease();
    return CX_OK;
}

int16_t cxSetCallback(int code, CxCallback callback) {
    if (code == CX_CALLBACK_EVENT) {
        eventCallback = callback;
    } else if (code == CX_CALLBACK_OVERWRITE) {
        overwriteCallback = callback;
    } else {
        return CX_EARG;
    }
    return CX_OK;
}

int16_t cxSetTempDir(const char* directory) {
    (void)directory;  // temporary files always go beside their final file
    return CX_ENOTSUP;
}

int16_t cxNotify(EntryInfo* record, CxEvent event, int32_t value) {
    if (!eventCallback) return 0;
    return eventCallback(record, event, value);
}

int16_t cxAskOverwrite(EntryInfo* record) {
    if (!overwriteCallback) return 1;
    return overwriteCallback(record, (CxEvent)0, 0);
}

bool cxHasCallback(void) {
    return eventCallback != nullptr;
}

void* cxAllocHalving(uint32_t* size) {
    while (*size >= 512) {
        void* block = cxAlloc(*size);
        if (block) return block;
        *size /= 2;
    }
    return nullptr;
}

void cxUpper(char* text) {
    for (; *text; text += cxPlatCharSize(text)) {
        if (*text >= 'a' && *text <= 'z') *text = (char)(*text - 'a' + 'A');
    }
}

char* cxDup(const char* text) {
    size_t length = strlen(text) + 1;
    char* copy = (char*)cxAlloc(length);
    if (copy) memcpy(copy, text, length);
    return copy;
}

void cxNoteSystemError(void) {
    systemError = errno;
}

int cxSystemError(void) {
    return systemError;
}
