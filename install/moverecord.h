// The move record file: the replacements the engine queued for the next
// restart, one record each, appended in the order they were queued. Plain
// bytes in, plain bytes out: no system calls, so the host build and the
// fuzzer compile it too.
#ifndef INSTALL_MOVERECORD_H
#define INSTALL_MOVERECORD_H

#include <stddef.h>
#include <stdint.h>

enum {
    MOVE_RECORD_HEADER = 12,   // record length, source length, target length
    MOVE_RECORD_PATH_MAX = 260 // buffers of the paths; a path is shorter
};

// Bytes one record of these paths takes.
uint32_t MoveRecordLength(const char* source, const char* target);

// Writes the record at out (MoveRecordLength bytes): three little-endian
// 32-bit lengths, then the source and target bytes without terminators.
void EncodeMoveRecord(uint8_t* out, const char* source, const char* target);

enum MoveRecordResult {
    MOVE_RECORD_FOUND,
    MOVE_RECORD_NOT_FOUND,
    MOVE_RECORD_DAMAGED  // a record that cannot be read whole; the walk stops there
};

// Walks the records of data[0..size) from the start and stops at the first
// record whose target equals the wanted one, ignoring the case of ASCII
// letters (the second byte of a double-byte character is no letter). On
// MOVE_RECORD_FOUND, source and target (MOVE_RECORD_PATH_MAX bytes each)
// hold that record's paths; on MOVE_RECORD_DAMAGED, *offset is where the
// damaged record begins. A record is damaged when its header does
// not fit, its length is below its header and paths, a path is 260
// characters or longer, or it runs past the end of the data. Never reads
// outside data and always ends: every record advances by at least its header.
MoveRecordResult FindMoveRecordIn(const uint8_t* data, size_t size, const char* wanted, char* source,
                                  char* target, size_t* offset);

#endif
