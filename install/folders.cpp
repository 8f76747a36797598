// Which files a folder holds, read once per run from one listing of it.
// Looking up a name that does not exist costs some file systems a read of
// the whole folder (a case-insensitive search over a case-sensitive one),
// and an installation asks that once or twice for every file it puts in a
// large folder: whether the target is there, whether an earlier backup is.
// One listing answers all of them. It holds each name and its short form,
// sorted without regard to ASCII case.
//
// A listing only answers for names it can compare exactly as the system
// does: a name with bytes beyond ASCII (whose case the system may fold
// otherwise) is left to the caller, and so is every name of a folder that
// could not be listed whole or that holds such a name. The run itself changes a folder after its
// listing only under names no later question asks about: its images, and
// new targets extracted in place (each asked about before it is made;
// entries that share a path are refused before anything is placed), and
// each backup path, which belongs to one entry, whose earlier backup is
// asked about once, before its own is made.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <stdlib.h>
#include <string.h>

#include "install.h"
#include "syscalls.h"
#include "text.h"

namespace {

struct Listing {
    char* folder;   // with its trailing backslash, from the process heap
    BOOL complete;  // FALSE: the folder could not be listed
    DWORD count;
    DWORD made;    // names the run made there since
    char* block;   // the names' texts, then the array of them
    char** names;  // sorted
};

// A run puts files in a handful of folders; past this many, the ones
// beyond are looked up name by name.
const DWORD kMostFolders = 16;
Listing s_Listings[kMostFolders];
DWORD s_Used;

int CompareNames(const void* a, const void* b)
{
    return AsciiCompareNoCase(*(char* const*)a, *(char* const*)b);
}

BOOL IsAscii(const char* text)
{
    for (; *text; ++text)
        if ((BYTE)*text >= 0x80)
            return FALSE;
    return TRUE;
}

// Reads every name of the folder into a block that grows as needed: first
// the texts, then, once they are all read, the sorted array of pointers
// to them.
BOOL ReadListing(Listing* listing)
{
    char pattern[MAX_PATH];
    if (!CopyText(pattern, listing->folder, MAX_PATH) || !AppendText(pattern, "*", MAX_PATH))
        return FALSE;
    WIN32_FIND_DATAA found;
    HANDLE search = g_Sys.FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD used = 0, room = 0, count = 0;
    char* texts = NULL;
    BOOL complete = TRUE;
    do {
        const char* const names[2] = {found.cFileName, found.cAlternateFileName};
        for (const char* name : names) {
            DWORD length = (DWORD)strlen(name) + 1;
            if (length == 1)
                continue;
            // A name beyond ASCII (or one the code page cannot show) may
            // equal an ASCII name by the system's rules: the listing could
            // not answer for that name, so it answers for none.
            if (!IsAscii(name) || strchr(name, '?')) {
                complete = FALSE;
                break;
            }
            if (used + length > room) {
                DWORD grown = room ? room * 2 : 8192;
                char* bigger = texts ? (char*)HeapReAlloc(GetProcessHeap(), 0, texts, grown)
                                     : (char*)HeapAlloc(GetProcessHeap(), 0, grown);
                if (!bigger) {
                    complete = FALSE;
                    break;
                }
                texts = bigger;
                room = grown;
            }
            memcpy(texts + used, name, length);
            used += length;
            ++count;
        }
    } while (complete && g_Sys.FindNextFileA(search, &found));
    complete = complete && GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    // The pointers go after the texts, aligned.
    DWORD offset = (used + 7) & ~7u;
    DWORD size = offset + count * sizeof(char*) + 1;
    char* block = !complete ? NULL
                  : texts   ? (char*)HeapReAlloc(GetProcessHeap(), 0, texts, size)
                            : (char*)HeapAlloc(GetProcessHeap(), 0, size);
    if (!block) {
        if (texts)
            HeapFree(GetProcessHeap(), 0, texts);
        return FALSE;
    }
    listing->block = block;
    listing->names = (char**)(block + offset);
    for (DWORD k = 0, at = 0; k < count; ++k) {
        listing->names[k] = block + at;
        at += (DWORD)strlen(block + at) + 1;
    }
    qsort(listing->names, count, sizeof(char*), CompareNames);
    listing->count = count;
    return TRUE;
}

Listing* ListingFound(const char* folder)
{
    for (DWORD k = 0; k < s_Used; ++k)
        if (AsciiCompareNoCase(s_Listings[k].folder, folder) == 0)
            return &s_Listings[k];
    return NULL;
}

Listing* ListingOf(const char* folder)
{
    Listing* found = ListingFound(folder);
    if (found)
        return found;
    DWORD length = (DWORD)strlen(folder) + 1;
    char* copy = s_Used < kMostFolders ? (char*)HeapAlloc(GetProcessHeap(), 0, length) : NULL;
    if (!copy)
        return NULL;
    memcpy(copy, folder, length);
    Listing* listing = &s_Listings[s_Used++];
    listing->folder = copy;
    listing->made = 0;
    listing->complete = ReadListing(listing);
    return listing;
}

}  // namespace

BOOL ListedFileExists(const char* path, BOOL* exists)
{
    DWORD length = DirectoryLength(path);
    if (length == 0 || length >= MAX_PATH || !path[length] || !IsAscii(path))
        return FALSE;
    char folder[MAX_PATH];
    memcpy(folder, path, length);
    folder[length] = 0;
    Listing* listing = ListingOf(folder);
    if (!listing || !listing->complete)
        return FALSE;
    const char* name = path + length;
    *exists = bsearch(&name, listing->names, listing->count, sizeof(char*), CompareNames) != NULL;
    return TRUE;
}

DWORD ListedNamesBeside(const char* path)
{
    DWORD length = DirectoryLength(path);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    char folder[MAX_PATH];
    memcpy(folder, path, length);
    folder[length] = 0;
    Listing* listing = ListingOf(folder);
    return listing && listing->complete ? listing->count + listing->made : 0;
}

void NoteNameMade(const char* path)
{
    DWORD length = DirectoryLength(path);
    if (length == 0 || length >= MAX_PATH)
        return;
    char folder[MAX_PATH];
    memcpy(folder, path, length);
    folder[length] = 0;
    Listing* listing = ListingFound(folder);
    if (listing)
        ++listing->made;
}

void ForgetFolderListings(void)
{
    for (DWORD k = 0; k < s_Used; ++k) {
        if (s_Listings[k].complete)
            HeapFree(GetProcessHeap(), 0, s_Listings[k].block);
        HeapFree(GetProcessHeap(), 0, s_Listings[k].folder);
    }
    s_Used = 0;
}
