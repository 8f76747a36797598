// arq sfx --product: the product description of a generic setup, checked
// against the files the installer is built from before anything is written.
#ifndef ARQ_PRODUCT_H
#define ARQ_PRODUCT_H

#include <vector>

#include "collect.h"

// Parses the description and checks that every file it names is among the
// inputs and every input is named by it; then puts the description in
// front of the inputs as the entry the setup reads. False after reporting
// each problem (a fault of the description with its line).
bool arqAddProduct(const char* description, std::vector<ArqInput>* inputs);

#endif
