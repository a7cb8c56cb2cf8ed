// A link in place of a folder, as an attacker would put one in the staging
// chain: a junction on Windows; under Wine, which cannot make junctions, a
// Unix symbolic link, which Wine shows as one. Shared by the Windows-level
// tests and the end-to-end driver.
#ifndef TOOLS_LINKS_H
#define TOOLS_LINKS_H

#include <string>

// Whether this program runs under Wine.
bool RunsUnderWine();

// Makes `link` (a path whose folder exists, nothing at it) a link to the
// folder `target`. On failure, false with the reason in `problem`.
bool MakeFolderLink(const std::string &target, const std::string &link, std::string *problem);

// Removes the link `link` itself, never what it leads to.
bool RemoveFolderLink(const std::string &link, std::string *problem);

// The Unix path Wine gives a Windows path ("" when there is none).
std::string UnixPathOf(const std::string &path);

#endif
