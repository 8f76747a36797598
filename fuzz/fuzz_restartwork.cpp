// The restart work kept in files, fed whatever bytes: the move record walk
// over a damaged record file, and a rename line added to a damaged
// WININIT.INI. Each gets a buffer of exactly the bytes it is given, so a
// read or write outside shows at once. The first byte chooses the target.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "moverecord.h"
#include "wininit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    bool wininit = data[0] & 1;
    ++data;
    --size;
    if (!wininit) {
        std::vector<uint8_t> file(data, data + size);
        char source[MOVE_RECORD_PATH_MAX], target[MOVE_RECORD_PATH_MAX];
        size_t offset = 0;
        // A target that a short record can match, so found records are reached.
        MoveRecordResult result = FindMoveRecordIn(file.data(), file.size(), "T", source, target, &offset);
        if (result == MOVE_RECORD_FOUND && (strlen(source) >= MOVE_RECORD_PATH_MAX || strcmp(target, "T") != 0 &&
                                                                                          strcmp(target, "t") != 0))
            abort();
        if (result == MOVE_RECORD_DAMAGED && offset >= size)
            abort();
        return 0;
    }
    static const char line[] = "C:\\DRV.SYS=C:\\QNB1.TMP\r\n";
    size_t length = sizeof line - 1;
    std::vector<uint8_t> buffer(size + WININIT_RENAME_RESERVE + length, 0);
    memcpy(buffer.data(), data, size);
    uint32_t added = 0;
    RenameEdit edit = AddRenameLine(buffer.data(), (uint32_t)size, line, &added);
    const uint8_t* out = buffer.data();
    // What went in: a line end when one was missing, the header for a new
    // section, and the line.
    size_t ending = (added == length + 2 || added == WININIT_RENAME_RESERVE + length) ? 2 : 0;
    bool sound = false;
    if (edit == RENAME_LINE_DUPLICATE) {
        sound = added == 0 && memcmp(out, data, size) == 0;
    } else if (edit == RENAME_SECTION_ADDED) {
        const uint8_t* header = out + size + ending;
        sound = added == ending + WININIT_RENAME_HEADER_LENGTH + length && memcmp(out, data, size) == 0 &&
                (!ending || memcmp(out + size, "\r\n", 2) == 0) &&
                memcmp(header, WININIT_RENAME_HEADER, WININIT_RENAME_HEADER_LENGTH) == 0 &&
                memcmp(header + WININIT_RENAME_HEADER_LENGTH, line, length) == 0;
    } else if (added == length + ending) {
        // The line went in somewhere, and everything else is as it was.
        for (size_t at = 0; at + added <= size + added && !sound; ++at)
            sound = (!ending || memcmp(out + at, "\r\n", 2) == 0) && memcmp(out + at + ending, line, length) == 0 &&
                    memcmp(out, data, at) == 0 && memcmp(out + at + added, data + at, size - at) == 0;
    }
    if (!sound)
        abort();
    return 0;
}
