// The pattern checker and the name matcher on arbitrary text: input is
// pattern, a NUL, name. Neither may read past the end of its string.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* split = (const uint8_t*)memchr(data, 0, size);
    size_t patternLength = split ? (size_t)(split - data) : size;
    size_t nameLength = split ? size - patternLength - 1 : 0;
    // Exact-size heap copies, so the sanitizer sees any read past the end.
    char* pattern = (char*)malloc(patternLength + 1);
    char* name = (char*)malloc(nameLength + 1);
    memcpy(pattern, data, patternLength);
    pattern[patternLength] = 0;
    if (nameLength) memcpy(name, split + 1, nameLength);
    name[nameLength] = 0;

    int16_t check = cxCheckPattern(pattern);
    if (check > 0 || check < -3) abort();
    int16_t match = cxMatchName(pattern, name);
    if (match != 0 && match != -1) abort();
    // Matching upper-cases both in place; a second match must agree.
    if (cxMatchName(pattern, name) != match) abort();
    free(pattern);
    free(name);
    return 0;
}
