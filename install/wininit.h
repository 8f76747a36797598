// The [RENAME] section of WININIT.INI, where the 95 family keeps the file
// moves to carry out at the next restart: adding one line to the text of
// the file. Plain bytes in and out, so the host build compiles it too.
#ifndef INSTALL_WININIT_H
#define INSTALL_WININIT_H

#include <stdint.h>

#define WININIT_RENAME_HEADER "[RENAME]\r\n"
enum {
    WININIT_RENAME_HEADER_LENGTH = 10,
    // Room an edit needs beyond its line: a line end, then the header.
    WININIT_RENAME_RESERVE = 2 + WININIT_RENAME_HEADER_LENGTH
};

enum RenameEdit {
    RENAME_LINE_INSERTED,   // after an existing section header
    RENAME_SECTION_ADDED,   // header and line appended at the end
    RENAME_LINE_DUPLICATE   // the section already holds the line; nothing changed
};

// Adds line (an upper-case "TARGET=SOURCE\r\n") to the file's bytes
// data[0..size), which must be followed by WININIT_RENAME_RESERVE bytes and
// room for the line. The text is the bytes up to the first zero byte. When a
// line of it is the section header (in any letter case, with blanks around
// it and any line end), the line goes right behind the header line and the
// rest moves back unchanged, unless the section already holds the line;
// otherwise the header and the line are appended behind the file's bytes,
// on a line of their own. *added receives the number of bytes added.
RenameEdit AddRenameLine(uint8_t* data, uint32_t size, const char* line, uint32_t* added);

#endif
