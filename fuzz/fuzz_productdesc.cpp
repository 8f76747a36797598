// The product description parser on arbitrary texts. The first byte
// chooses whether the text stands for a double-byte code page (lead bytes
// 0x81 to 0x9F and 0xE0 to 0xFC, as in Japanese) or a single-byte one;
// the rest is the description, in a heap block of exactly its size so the
// sanitizer sees any read past it. A description that is accepted must
// hold only what the parser promises: terminated texts, counts within
// their tables, known folders and families, and destinations that stay in
// their folders; and a second parse of the same text gives the same result.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "leadbyte.h"
#include "productdesc.h"

namespace {

bool JapaneseLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

void CheckText(const char* text, size_t size)
{
    if (!memchr(text, 0, size))
        abort();
}

// No empty, "." or ".." part, no leading, trailing or doubled backslash and
// no colon; a byte inside a double-byte character is none of these.
void CheckStaysInside(const char* path)
{
    const char* part = path;
    for (const char* p = path;; ++p) {
        if (*p && IsLeadByte(*p) && p[1]) {
            ++p;
            continue;
        }
        if (*p == ':')
            abort();
        if (*p != '\\' && *p != 0)
            continue;
        size_t length = (size_t)(p - part);
        if (length == 0 || (length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.'))
            abort();
        if (*p == 0)
            return;
        part = p + 1;
    }
}

void CheckAccepted(const ProductDescription& desc)
{
    CheckText(desc.maker, sizeof desc.maker);
    CheckText(desc.product, sizeof desc.product);
    CheckText(desc.targetPath, sizeof desc.targetPath);
    CheckText(desc.uninstallName, sizeof desc.uninstallName);
    if (!desc.maker[0] || !desc.product[0] || !desc.version[0])
        abort();
    CheckStaysInside(desc.targetPath);
    if (desc.fileCount > DESC_MAX_FILES || desc.folderCount > DESC_MAX_FOLDERS ||
        desc.textCount > DESC_MAX_LANGUAGES)
        abort();
    for (uint32_t i = 0; i < desc.fileCount; ++i) {
        const DescFile& file = desc.files[i];
        CheckText(file.target, sizeof file.target);
        if (!file.entry[0] || !file.target[0] || file.dirId < DESC_DIR_TARGET || file.dirId > DESC_DIR_DRIVERS ||
            !(file.flags & DESC_ON_EVERY_FAMILY))
            abort();
        CheckStaysInside(file.target);
    }
    for (uint32_t i = 0; i < desc.folderCount; ++i) {
        if (!desc.folders[i].path[0])
            abort();
        CheckStaysInside(desc.folders[i].path);
    }
    for (uint32_t i = 0; i < desc.textCount; ++i)
        CheckText(desc.texts[i].welcome, sizeof desc.texts[i].welcome);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    SetLeadByteRule(data[0] & 1 ? JapaneseLeadByte : nullptr);
    std::vector<char> text(data + 1, data + size);
    static ProductDescription first, second;
    static DescError error, again;
    bool accepted = ParseProductDescription(text.data(), text.size(), &first, &error);
    if (accepted)
        CheckAccepted(first);
    else
        CheckText(error.message, sizeof error.message);
    if (ParseProductDescription(text.data(), text.size(), &second, &again) != accepted ||
        memcmp(&first, &second, sizeof first) != 0 || memcmp(&error, &again, sizeof error) != 0)
        abort();
    return 0;
}
