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
// The host's own file calls on Windows paths, past Wine and the share
// modes of its handles, as another user of the machine makes them. Wine
// follows a symbolic link planted so as Windows follows a junction or an
// object-manager link: it stands for those in the tests of attacks.
bool PlantHostLink(const std::string& link, const std::string& target);  // target need not exist
bool RemoveHostLink(const std::string& link);                            // the link, not its target
bool HostRename(const std::string& from, const std::string& to);

#endif
