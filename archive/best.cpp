#include "packer.h"
namespace cxpack {
int16_t packBest(Packer* pk, EntryInfo* record) { (void)pk; (void)record; return CX_ENOTSUP; }
}
