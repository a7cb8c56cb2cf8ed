// The driver's view of the system: files, links, the registry, the
// environment and processes. Every string here is UTF-8; each call into the
// system is the wide one, so that paths and values outside the ANSI code
// page (a user folder in Chinese under code page 1252) work as any other.
#ifndef DRIVER_WIN32_H
#define DRIVER_WIN32_H

#include <windows.h>

#include <string>
#include <vector>

typedef std::vector<std::string> Strings;

// ---------------------------------------------------------------- text

std::wstring Wide(const std::string &utf8);
std::string Utf8(const WCHAR *wide, size_t count);
std::string Utf8(const std::wstring &wide);
std::string Utf8FromAnsi(const std::string &ansi); // from the ANSI code page
std::string ReplaceAll(std::string text, const std::string &from, const std::string &to);
Strings Lines(const std::string &text); // at LF, each without its CR
std::string ParentOf(const std::string &path);

// ---------------------------------------------------------------- files

bool Exists(const std::string &path);
bool IsFolder(const std::string &path);
bool IsLink(const std::string &path); // a folder that is a reparse point
// The folder and every missing one above it; `topmostMade` (when given)
// gets the highest folder this call created ("" when none).
bool MakeFolders(const std::string &path, std::string *topmostMade = NULL);
// A file, or a folder with everything in it. A link is removed itself; what
// it points to is never entered.
void RemoveTree(const std::string &path);
bool ReadBytes(const std::string &path, std::string *bytes);
bool WriteBytes(const std::string &path, const std::string &bytes);
bool AppendBytes(const std::string &path, const std::string &bytes);
bool CopyOne(const std::string &from, const std::string &to);
// Moves a file or folder, replacing a file at `to`.
bool MoveOver(const std::string &from, const std::string &to);
long long FileSize(const std::string &path); // -1 when there is no such file
DWORD LinkCount(const std::string &path);
// The names in `folder`, in case-insensitive name order.
Strings NamesIn(const std::string &folder, const std::string &pattern = "*");

// ---------------------------------------------------------------- links

// Makes `link` a link to the folder `target`: a junction on Windows, a Unix
// symbolic link under Wine (what Wine shows for one). false with the reason.
bool MakeFolderLink(const std::string &link, const std::string &target, std::string *problem);

// ---------------------------------------------------------------- Wine

bool IsWine(void);
// The Unix path of a Windows path whose folder exists ("" when none).
std::string UnixPath(const std::string &path);
// The prefix's dosdevices folder, where each drive letter is a link
// ("" when not under Wine).
std::string DosDevicesFolder(void);
// A path as given on the Linux side ("/work/..."), as Windows names it;
// any other path is returned as it is.
std::string WindowsPathOf(const std::string &path);
// The hook (tests/driver/wine-hook.sh) that carries out what only the Linux
// side can, and the folder its answers are written in (each is removed
// once read); set once before the first use.
void SetHook(const std::string &script, const std::string &answerFolder);
// Runs `verb` with the hook and waits for its answer: "ok", "refused: <why>"
// (this machine does not allow it) or "failed: <why>". The Unix program
// gets the driver's environment block as its environment.
std::string RunHook(const std::string &verb, const Strings &arguments);
// The same for a verb that answers with text, waited for at most `limitMs`.
std::string RunHookForText(const std::string &verb, const Strings &arguments, DWORD limitMs);

// ---------------------------------------------------------------- registry

// A key as the case files write it: "HKLM\<path>" or "HKCU\<path>" (also
// spelt out, HKEY_LOCAL_MACHINE\...), or a path alone, which is HKLM's.
struct RegKey {
    HKEY hive;
    std::string path;
};
RegKey ParseKey(const std::string &text);
std::string KeyText(const RegKey &key);

struct RegValue {
    bool exists;
    DWORD type;
    std::string bytes; // as the wide functions hand them over
};
RegValue ReadValue(const RegKey &key, const std::string &name);
bool WriteValue(const RegKey &key, const std::string &name, DWORD type, const std::string &bytes);
bool DeleteValue(const RegKey &key, const std::string &name); // true also when it was absent
bool KeyExists(const RegKey &key);
bool KeyIsEmpty(const RegKey &key); // no values and no subkeys
void DeleteKeyTree(const RegKey &key);
// The bytes of a string for REG_SZ and REG_EXPAND_SZ (with its NUL), and
// for REG_MULTI_SZ (one string, then the list's closing NUL).
std::string StringBytes(const std::string &utf8, DWORD type);
// A value as text: a DWORD as its decimal number, a string without its
// closing NULs.
std::string ValueText(const RegValue &value);
// The byte count of the value as a program reading through the ANSI
// functions is handed it, which is how the bootstrap reads the registry:
// for a string, its characters in the ANSI code page.
size_t AnsiByteCount(const RegValue &value);

// A key with all its values and subkeys.
struct RegTree {
    bool exists;
    std::vector<std::pair<std::string, RegValue>> values;
    std::vector<std::pair<std::string, RegTree>> subkeys;
};
RegTree ReadTree(const RegKey &key);
void WriteTree(const RegKey &key, const RegTree &tree);

// ---------------------------------------------------------------- environment

bool ReadVariable(const std::string &name, std::string *value);
bool SetVariable(const std::string &name, const std::string &value);
void RemoveVariable(const std::string &name);

// ---------------------------------------------------------------- processes

// Starts `command` in `folder` ("" for the driver's own): its process handle,
// NULL when it could not start.
HANDLE StartProcess(const std::string &command, const std::string &folder);
// Waits for the process at most `limitMs` and closes its handle: its exit
// code, STILL_ACTIVE for one still running then.
DWORD FinishProcess(HANDLE process, DWORD limitMs);

// Runs this driver as `driver.exe <arguments>` at low integrity (a duplicate
// of its own token with the Low mandatory label), as a sandboxed browser or
// viewer of the same user runs, and waits for it. False, with the reason in
// `problem`, when no such process can be started here.
bool RunAtLowIntegrity(const std::string &arguments, DWORD *exitCode, std::string *problem);

// What the low-integrity driver does (`driver.exe --low-integrity <action>
// <path>`): "mkdir" makes the folder and those above it, "create" a new file,
// "write" opens an existing file for writing. 0, or the system's code.
DWORD DoAtLowIntegrity(const std::string &action, const std::string &path);

#endif
