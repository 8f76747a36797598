// The installer's payload as the loader mapped it. "arq sfx" makes the
// image's last section cover the archive appended to the program file, so
// the loader maps the payload together with the code that runs, from the
// file the process was started from. Reading it there, and never opening
// the program's file by name, means that a file renamed into the program's
// place after the start (a running program may be renamed) is never read:
// the payload installed is the one whose image is running, and whose
// signature the user or the system checked.
//
// Pages of the mapping are read from the program's medium on first touch;
// a medium that fails then (a disc taken out) raises an in-page error,
// which the copy below turns into a read error of the archive engine, so
// the run fails and rolls back as after any other read error.
#include "upgrade.h"

#include <string.h>

#include "sehguard.h"
#include "text.h"

BOOL IsRunningProgram(const char* path)
{
    char program[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(NULL, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !path)
        return FALSE;
    program[length] = 0;
    return AsciiCompareNoCase(program, path) == 0;
}

BOOL SameFilePath(const char* a, const char* b)
{
    char shortA[MAX_PATH], shortB[MAX_PATH];
    if (!GetShortPathNameA(a, shortA, MAX_PATH) || !GetShortPathNameA(b, shortB, MAX_PATH))
        return AsciiCompareNoCase(a, b) == 0;
    return AsciiCompareNoCase(shortA, shortB) == 0;
}

BOOL FindImagePayload(const BYTE** data, DWORD* size)
{
    const BYTE* base = (const BYTE*)GetModuleHandleA(NULL);
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return FALSE;
    const IMAGE_NT_HEADERS32* nt = (const IMAGE_NT_HEADERS32*)(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->FileHeader.NumberOfSections == 0)
        return FALSE;
    const IMAGE_SECTION_HEADER* last = IMAGE_FIRST_SECTION(nt) + nt->FileHeader.NumberOfSections - 1;
    // What the loader mapped of the section: its virtual size (raw data
    // beyond it is not mapped), within the image.
    DWORD length = last->Misc.VirtualSize ? last->Misc.VirtualSize : last->SizeOfRawData;
    DWORD imageSize = nt->OptionalHeader.SizeOfImage;
    if (last->VirtualAddress >= imageSize || length > imageSize - last->VirtualAddress)
        return FALSE;
    *data = base + last->VirtualAddress;
    *size = length;
    return TRUE;
}

namespace {

struct Copy {
    void* to;
    const void* from;
    uint32_t count;
};

void CopyBytes(void* argument)
{
    Copy* copy = (Copy*)argument;
    memcpy(copy->to, copy->from, copy->count);
}

}  // namespace

bool CopyMappedBytes(void* to, const void* from, uint32_t count)
{
    Copy copy = {to, from, count};
    DWORD code = 0;
    return RunGuarded(CopyBytes, &copy, &code) != FALSE;
}
