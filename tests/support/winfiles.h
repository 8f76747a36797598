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
// A symbolic link of the host file system at link, to target (Windows
// paths; the target need not exist). Wine follows it as Windows follows a
// junction or an object-manager link, so it stands for those in the tests
// of what a user can plant in a shared folder.
bool PlantHostLink(const std::string& link, const std::string& target);
// Removes such a link itself, never what it points at.
bool RemoveHostLink(const std::string& link);
// Renames on the host file system, past the share modes of Wine's handles,
// as a user of another session could.
bool HostRename(const std::string& from, const std::string& to);

#endif
