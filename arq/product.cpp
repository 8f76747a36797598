// The description is read whole (it is a small text), parsed by the same
// parser the setup uses, and compared name by name with the files given,
// without regard to case as the setup finds its entries. A vendor learns
// every file that is named but missing, or given but not named, at once.
#include "product.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "files.h"
#include "productdesc.h"
#include "report.h"

namespace {

// A description is a few kilobytes; anything far larger is not one.
const long kLargestDescription = 1 << 20;

bool sameName(const std::string& a, const char* b) {
    if (a.size() != strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = (char)(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = (char)(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool readWhole(const char* path, std::string* text) {
    FILE* file = fopen(path, "rb");
    if (!file) {
        arqError("%s: cannot open the product description%s", arqShown(path).c_str(), arqReason().c_str());
        return false;
    }
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0 && (long)text->size() <= kLargestDescription)
        text->append(buffer, got);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed || (long)text->size() > kLargestDescription) {
        arqError("%s: %s", arqShown(path).c_str(),
                 failed ? "cannot read the product description" : "too large for a product description");
        return false;
    }
    return true;
}

}  // namespace

bool arqAddProduct(const char* description, std::vector<ArqInput>* inputs) {
    std::string text;
    if (!readWhole(description, &text)) return false;
    static ProductDescription product;
    DescError error;
    std::string shown = arqShown(description);
    if (!ParseProductDescription(text.data(), text.size(), &product, &error)) {
        if (error.line)
            arqError("%s:%u: %s", shown.c_str(), (unsigned)error.line, error.message);
        else
            arqError("%s: %s", shown.c_str(), error.message);
        return false;
    }
    std::vector<const char*> named;
    for (uint32_t i = 0; i < product.fileCount; ++i) named.push_back(product.files[i].entry);
    for (const char* entry : {product.registry, product.readme, product.picture, product.logo})
        if (*entry) named.push_back(entry);

    bool whole = true;
    for (const char* name : named) {
        bool given = false;
        for (const ArqInput& input : *inputs) given = given || sameName(input.entry, name);
        if (!given) {
            arqError("%s names %s, which is not among the files given", shown.c_str(), arqShown(name).c_str());
            whole = false;
        }
    }
    for (const ArqInput& input : *inputs) {
        bool isNamed = false;
        for (const char* name : named) isNamed = isNamed || sameName(input.entry, name);
        if (sameName(input.entry, DESC_ENTRY_NAME)) {
            arqError("%s: its entry name is the product description's own", arqShown(input.path.c_str()).c_str());
            whole = false;
        } else if (!isNamed) {
            arqError("%s: not named in %s", arqShown(input.path.c_str()).c_str(), shown.c_str());
            whole = false;
        }
    }
    if (!whole) return false;
    // Stored with its own time, or, outside what an entry's time holds,
    // reported as the other files are.
    int64_t mtime = arqStat(description).mtime;
    bool timeLost = mtime < 0 || mtime > 0xFFFFFFFFll;
    inputs->insert(inputs->begin(), ArqInput{description, DESC_ENTRY_NAME, mtime, timeLost});
    return true;
}
