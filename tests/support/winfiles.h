// Whole files and directory trees for the Windows test programs.
#ifndef TESTS_SUPPORT_WINFILES_H
#define TESTS_SUPPORT_WINFILES_H

#include <string>

// The whole file; empty when it cannot be read.
std::string ReadWhole(const std::string& path);
// Replaces the file (read-only or not) with bytes.
bool WriteWhole(const std::string& path, const std::string& bytes);
// Removes dir (with a trailing backslash) and everything below it.
void RemoveTree(const std::string& dir);

#endif
