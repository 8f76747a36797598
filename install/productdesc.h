// The product description of a generic setup: a small text in the style of
// the registry script (sections, NAME = value lines, ';' comments, CR LF or
// LF line ends, keys in any case, values in the ANSI code page) that names
// the maker, the product and its version, the files with where each goes,
// the folders to create, the registry script, readme and artwork entries,
// and per language the product's own texts. docs/product-description.md
// describes the language. Plain C++ on bytes (the lead-byte test aside),
// so it builds on any host, for arq and for fuzzing, and inside the setup.
#ifndef INSTALL_PRODUCTDESC_H
#define INSTALL_PRODUCTDESC_H

#include <stddef.h>
#include <stdint.h>

// The archive entry of a generic setup that holds its description.
#define DESC_ENTRY_NAME "PRODUCT.INI"
// The uninstaller the setup puts in the target folder: no file of the
// product may take its place.
#define DESC_UNINSTALLER_NAME "UNINSTAL.EXE"

enum {
    DESC_LINE_SIZE = 512,   // a line holds at most 511 characters
    DESC_NAME_SIZE = 260,   // a name, a path or a one-line text, with its terminator
    DESC_TEXT_SIZE = 512,   // the welcome text
    DESC_MAX_FILES = 64,
    DESC_MAX_FOLDERS = 16,
    DESC_MAX_LANGUAGES = 11,
    DESC_ERROR_SIZE = 160
};

// Directory ids, as the installer numbers its folders.
enum { DESC_DIR_TEMP = 1, DESC_DIR_TARGET = 2, DESC_DIR_WINDOWS = 3, DESC_DIR_SYSTEM16 = 4, DESC_DIR_SYSTEM = 5,
       DESC_DIR_DRIVERS = 6 };

// File flags, the bits of the installer's file table.
enum : uint32_t {
    DESC_NO_VERSION = 0x00000001,       // compared by time stamp only
    DESC_NO_BACKUP = 0x00000008,        // the replaced file is not kept
    DESC_MOVE_NOW = 0x00000020,         // with DESC_AT_RESTART: put in place at once all the same
    DESC_AT_RESTART = 0x00000080,       // takes effect at the next restart
    DESC_REGISTRY_SCRIPT = 0x00000100,  // the registry script
    DESC_DIRECTORY = 0x00000200,        // a folder to create
    DESC_ON_95 = 0x00010000,
    DESC_ON_NT = 0x00020000,
    DESC_ON_2KXP = 0x00040000,
    DESC_ON_EVERY_FAMILY = DESC_ON_95 | DESC_ON_NT | DESC_ON_2KXP
};

struct DescFile {
    char entry[DESC_NAME_SIZE];   // the archive entry
    char target[DESC_NAME_SIZE];  // relative to dirId: sub-path and name
    uint32_t dirId;
    uint32_t flags;
    uint32_t group;
};

struct DescFolder {
    char path[DESC_NAME_SIZE];  // relative to dirId
    uint32_t dirId;
};

struct DescTexts {
    uint16_t language;             // a language id of the string tables
    char welcome[DESC_TEXT_SIZE];  // "\n" in the description is a line break here
    char productLine[DESC_NAME_SIZE];
};

struct ProductDescription {
    char maker[DESC_NAME_SIZE];
    char product[DESC_NAME_SIZE];
    char version[DESC_NAME_SIZE];  // as written: four numbers with dots
    uint16_t versionParts[4];      // most significant first
    uint32_t targetBase;           // DESC_TARGET_PROGRAM_FILES or a directory id
    char targetPath[DESC_NAME_SIZE];
    char registry[DESC_NAME_SIZE];  // entries; empty when not given
    char readme[DESC_NAME_SIZE];
    char uninstallName[DESC_NAME_SIZE];  // the entry in the list of installed programs
    char picture[DESC_NAME_SIZE];
    char logo[DESC_NAME_SIZE];
    DescFile files[DESC_MAX_FILES];
    uint32_t fileCount;
    DescFolder folders[DESC_MAX_FOLDERS];
    uint32_t folderCount;
    DescTexts texts[DESC_MAX_LANGUAGES];
    uint32_t textCount;
};

// The target folder's base beside the directory ids: the system's folder
// for programs.
enum { DESC_TARGET_PROGRAM_FILES = 0x100 };

struct DescError {
    uint32_t line;  // 0 for the description as a whole
    char message[DESC_ERROR_SIZE];
};

// Parses size bytes of text (a zero byte also ends it) into *out, which is
// cleared first. FALSE with *error naming the line and what is wrong with it
// at the first fault; *out must not be used then.
bool ParseProductDescription(const char* text, size_t size, ProductDescription* out, DescError* error);

// A version as the description writes it, "1.2.0.3": four numbers of 0 to
// 65535 with dots, most significant first. FALSE for any other text.
bool ParseProductVersion(const char* text, uint16_t parts[4]);

#endif
