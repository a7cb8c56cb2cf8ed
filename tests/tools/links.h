// A link in place of a folder, as an attacker would put one in the staging
// chain: a junction on Windows; under Wine, which cannot make junctions, a
// Unix symbolic link, which Wine shows as one. Shared by the Windows-level
// tests and the end-to-end driver (which makes its Unix links through its
// Linux-side hook instead).
#ifndef TOOLS_LINKS_H
#define TOOLS_LINKS_H

#include <string>

// Whether this program runs under Wine.
bool RunsUnderWine();

// The Unix path Wine gives a Windows path, in the Unix code set ("" when
// there is none, or not under Wine).
std::string UnixPathOf(const std::wstring &path);

// Makes `link` (a path whose folder exists, nothing at it) a junction to the
// folder `target`. On failure, false with the reason in `problem`.
bool MakeJunction(const std::wstring &link, const std::wstring &target, std::string *problem);

// A junction on Windows, a Unix symbolic link made with /bin/ln under Wine.
bool MakeFolderLink(const std::wstring &target, const std::wstring &link, std::string *problem);

// Removes the link `link` itself, never what it leads to (under Wine,
// RemoveDirectory would follow a Unix link and remove the folder it leads
// to when that is empty).
bool RemoveFolderLink(const std::wstring &link, std::string *problem);

#endif
