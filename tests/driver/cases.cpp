#include "tests/driver/cases.h"

#include <winsafer.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "staging/cabinets.h"
#include "support/profile.h"
#include "tests/driver/settings.h"
#include "tests/tools/watch.h"

static std::string g_bundle, g_callsLog, g_report;
static volatile LONG g_stopped;

static const RegKey kInstallerKey = {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer"};

// Hang guards, not timings: what the slowest machine needs many times over.
static const DWORD kEngineLimitMs = 300000;
static const int kReportWaits = 600; // of 100 ms

void StartCases(const std::string &bundle)
{
    g_bundle = bundle;
    g_callsLog = CasePlaces().scratch + "\\calls.txt";
    g_report = CasePlaces().scratch + "\\report.txt";
    SetVariable("FAKE_MSIEXEC_LOG", g_callsLog);
    SetVariable("FAKE_MSIEXEC_REPORT", g_report);
    SetHook(bundle + "\\bin\\wine-hook.sh", CasePlaces().temp);
}

// ---------------------------------------------------------------- reading

bool ReadCases(const std::string &path, std::vector<Case> *cases, std::string *problem)
{
    std::string text;
    if (!ReadBytes(path, &text)) {
        *problem = "cannot read " + path;
        return false;
    }
    size_t first = cases->size();
    for (const std::string &line : Lines(text)) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t space = line.find(' ');
        Step step = {line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1)};
        if (step.verb == "case") {
            for (size_t i = first; i < cases->size(); i++)
                if ((*cases)[i].name == step.rest) {
                    *problem = path + ": two cases named " + step.rest;
                    return false;
                }
            cases->push_back(Case{step.rest, {}, {}});
        } else if (cases->size() == first) {
            *problem = path + ": a step before the first case: " + line;
            return false;
        } else if (step.verb == "finally") {
            size_t inner = step.rest.find(' ');
            cases->back().finally.push_back(
                Step{step.rest.substr(0, inner), inner == std::string::npos ? "" : step.rest.substr(inner + 1)});
        } else {
            cases->back().steps.push_back(step);
        }
    }
    return true;
}

// ---------------------------------------------------------------- text

// Splits at " | "; the pieces keep every other space, which commands need.
static Strings SplitFields(const std::string &text)
{
    Strings fields;
    size_t start = 0, bar;
    while ((bar = text.find(" | ", start)) != std::string::npos) {
        fields.push_back(text.substr(start, bar - start));
        start = bar + 3;
    }
    fields.push_back(text.substr(start));
    return fields;
}

static const size_t kShown = 160;

static std::string Printable(const std::string &text)
{
    std::string out = text.size() > kShown ? text.substr(0, kShown) + "...(" + std::to_string(text.size()) + " bytes)"
                                           : text;
    return ReplaceAll(ReplaceAll(out, "\r", "\\r"), "\n", "\\n");
}

static std::string CabinetName(int index)
{
    char name[MAX_PATH];
    FormatCabinetName(name, sizeof(name), &kCabinetTable[index]);
    return std::string(name) + ".cab";
}

static std::string Repeated(const std::string &piece, int count)
{
    std::string text;
    for (; count > 0; count--)
        text += piece;
    return text;
}

// {rep:<text>:<n>}: the text n times.
static std::string ExpandRepeats(std::string text)
{
    size_t at;
    while ((at = text.find("{rep:")) != std::string::npos) {
        size_t colon = text.find(':', at + 5), end = text.find('}', at);
        if (colon == std::string::npos || end == std::string::npos || colon > end)
            break;
        int count = atoi(text.substr(colon + 1, end - colon - 1).c_str());
        text.replace(at, end - at + 1, Repeated(text.substr(at + 5, colon - at - 5), count));
    }
    return text;
}

// The {name} placeholders of the case files, from the places of the case
// (which follow `local-low`) and the build profile.
static std::string Expand(std::string text)
{
    const Places &places = CasePlaces();
    const std::string kit = places.staging + "\\Orva\\" PROFILE_KIT_FOLDER;
    const std::string package = kit + "\\" PROFILE_PACKAGE_FILE;
    const std::string engine = g_bundle + "\\engine";
    std::vector<std::pair<std::string, std::string>> names = {
        {"{product}", "installers\\" BUNDLE_PRODUCT},
        {"{main}", "\"" + engine + "\\msiexec.exe\" /i \"" + package + "\""},
        {"{engine}", engine},
        {"{package}", package},
        {"{kit}", kit},
        {"{staging}", places.staging},
        {"{userdata}", places.userData},
        {"{bundle}", g_bundle},
        {"{scratch}", places.scratch},
        {"{programfiles}", places.programFiles},
        {"{vendorfolder}", places.vendorFolder},
        {"{system}", places.system},
        {"{windows}", places.windows},
        {"{profile}", places.profile},
        {"{kitkey}", PROFILE_KIT_KEY},
        {"{vendorkey}", "SOFTWARE\\" PROFILE_VENDOR},
        {"{vendor}", PROFILE_VENDOR},
        {"{version}", PROFILE_VERSION},
        {"{kitfolder}", PROFILE_KIT_FOLDER},
        {"{packagefile}", PROFILE_PACKAGE_FILE},
    };
    for (int i = 0; i < CABINET_COUNT; i++)
        names.push_back({"{cab" + std::to_string(i + 1) + "}", CabinetName(i)});
    for (const auto &name : names)
        text = ReplaceAll(text, name.first, name.second);
    return ExpandRepeats(text);
}

// ---------------------------------------------------------------- a case's state

struct Run {
    bool done;
    DWORD exitCode;
    Strings boxes;    // "caption | text"
    Strings calls;    // engine command lines, in order
    std::string gate; // what `run-gated` saw of the engine at the event
};

struct Context {
    Run run;
    bool skipped;
    std::string why;     // the reason of a skip, or of a failed setup step
    Strings differences; // one per failed check
    std::string folder;  // the current folder of the programs the case starts ("" for the driver's)
    bool fromLinuxSide;  // its installers are started from the Linux side (`locale`, `dll-override`)
};

static bool Skip(Context *context, const std::string &why)
{
    context->skipped = true;
    context->why = why;
    return false;
}

static bool Fail(Context *context, const std::string &why)
{
    context->why = why;
    return false;
}

// The first place two long texts part, for a failure that would else show
// only their beginnings.
static std::string FirstDifference(const std::string &expected, const std::string &actual)
{
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        at++;
    size_t from = at > 20 ? at - 20 : 0;
    return " (first difference at byte " + std::to_string(at) + ": expected [..." +
           Printable(expected.substr(from, 60)) + "], got [..." + Printable(actual.substr(from, 60)) + "])";
}

static void Differ(Context *context, const std::string &what, const std::string &expected, const std::string &actual)
{
    std::string difference = what + ": expected [" + Printable(expected) + "], got [" + Printable(actual) + "]";
    if (expected.size() > kShown || actual.size() > kShown)
        difference += FirstDifference(expected, actual);
    context->differences.push_back(difference);
}

static void Expect(Context *context, const std::string &what, const std::string &expected, const std::string &actual)
{
    if (expected != actual)
        Differ(context, what, expected, actual);
}

static bool ParseNumber(const std::string &text, DWORD *value)
{
    char *end;
    *value = (DWORD)strtoull(text.c_str(), &end, 0);
    return !text.empty() && *end == '\0';
}

static const std::string &Arg(const Strings &args, size_t index)
{
    static const std::string none;
    return index < args.size() ? args[index] : none;
}

// ---------------------------------------------------------------- running programs

static void ClearRecords(Run *run)
{
    DeleteFileW(Wide(g_callsLog).c_str());
    DeleteFileW(Wide(g_report).c_str());
    *run = Run{false, 0, {}, {}, ""};
}

static void ReadCalls(Run *run)
{
    std::string calls;
    if (ReadBytes(g_callsLog, &calls)) // the stand-in writes them in the ANSI code page
        for (const std::string &line : Lines(calls))
            run->calls.push_back(Utf8FromAnsi(line));
}

static bool RunWatchedHere(const std::string &exe, const std::string &tail, Context *context)
{
    std::wstring command = L"\"" + Wide(exe) + L"\"" + (tail.empty() ? L"" : L" " + Wide(tail));
    std::wstring folder = Wide(context->folder);
    static WatchResult result;
    if (!RunWatchedIn(command.c_str(), context->folder.empty() ? NULL : folder.c_str(), &result))
        return Fail(context, "cannot start " + exe + ": error " + std::to_string(GetLastError()));
    context->run.done = true;
    context->run.exitCode = result.exitCode;
    for (int i = 0; i < result.boxCount; i++)
        context->run.boxes.push_back(std::string(result.boxes[i].captionUtf8) + " | " + result.boxes[i].textUtf8);
    return true;
}

// The runner's report: "box: <caption> | <text>" (line breaks written as
// \r and \n) a line each, then "exit: <decimal> 0x<hex>".
static void ReadRunnerReport(const std::string &report, Run *run)
{
    for (const std::string &line : Lines(report)) {
        if (line.compare(0, 5, "box: ") == 0)
            run->boxes.push_back(ReplaceAll(ReplaceAll(line.substr(5), "\\r", "\r"), "\\n", "\n"));
        if (line.compare(0, 6, "exit: ") == 0) {
            run->exitCode = (DWORD)strtoul(line.c_str() + 6, NULL, 10);
            run->done = true;
        }
    }
}

// Wine takes a process's LANG and WINEDLLOVERRIDES from the Linux side when
// it starts it, never from a Windows parent's environment block: a case
// that sets them has its programs started from there, by the runner.
static bool RunFromLinuxSide(const std::string &exe, const std::string &tail, Context *context)
{
    SetVariable("RUNNER_TAIL", tail);
    if (!context->folder.empty())
        SetVariable("RUNNER_CWD", context->folder);
    std::string runner = UnixPath(g_bundle + "\\bin\\runner.exe"), overrides;
    ReadVariable("WINEDLLOVERRIDES", &overrides);
    std::string report = RunHookForText("run", Strings{runner, exe, overrides}, kEngineLimitMs);
    RemoveVariable("RUNNER_TAIL");
    RemoveVariable("RUNNER_CWD");
    ReadRunnerReport(report, &context->run);
    return context->run.done || Fail(context, "the runner started from the Linux side gave no exit code: " +
                                                  Printable(report));
}

static bool RunProgram(const std::string &exe, const std::string &tail, Context *context)
{
    ClearRecords(&context->run);
    if (!(context->fromLinuxSide ? RunFromLinuxSide(exe, tail, context) : RunWatchedHere(exe, tail, context)))
        return false;
    ReadCalls(&context->run);
    return true;
}

static std::string SystemEngine(void) { return "\"" + CasePlaces().system + "\\msiexec.exe\""; }

// The bootstrap's side of the cabinet event for a run of the system's
// engine without it: the event is made unset, held so while the engine
// runs, at most `holdMs`, then set.
static bool RunGated(DWORD holdMs, const std::string &arguments, Context *context)
{
    ClearRecords(&context->run);
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, Wide(CABINET_EVENT_NAME).c_str());
    if (event == NULL || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (event != NULL)
            CloseHandle(event);
        return Fail(context, "the cabinet event exists already: another program holds it");
    }
    HANDLE engine = StartProcess(SystemEngine() + " " + arguments, context->folder);
    if (engine == NULL) {
        CloseHandle(event);
        return Fail(context, "cannot start the system's engine: error " + std::to_string(GetLastError()));
    }
    bool finished = WaitForSingleObject(engine, holdMs) == WAIT_OBJECT_0;
    context->run.gate = finished ? "finished before the event" : "running at the event";
    SetEvent(event);
    context->run.exitCode = FinishProcess(engine, kEngineLimitMs);
    context->run.done = true;
    CloseHandle(event);
    return true;
}

// The stand-in's report once it ends with "done" (it may outlive the
// installer that started it), lines joined by ";"; without `all`, the line
// that depends on timing is left out.
static std::string WaitForReport(bool all)
{
    std::string text;
    for (int i = 0; i < kReportWaits; i++) {
        if (ReadBytes(g_report, &text) && text.size() >= 5 && text.compare(text.size() - 5, 5, "done\n") == 0)
            break;
        Sleep(100);
    }
    std::string kept;
    for (const std::string &line : Lines(text))
        if (all || line.compare(0, 15, "event at start:") != 0)
            kept += (kept.empty() ? "" : ";") + line;
    return kept;
}

// A start from a normal user's token, as from Explorer without elevation:
// Windows refuses a program that requires administrator rights with 740.
static bool StartAsNormalUser(const std::string &exe, DWORD *error)
{
    SAFER_LEVEL_HANDLE level;
    HANDLE token = NULL;
    if (!SaferCreateLevel(SAFER_SCOPEID_USER, SAFER_LEVELID_NORMALUSER, SAFER_LEVEL_OPEN, &level, NULL))
        return false;
    BOOL made = SaferComputeTokenFromLevel(level, NULL, &token, 0, NULL);
    SaferCloseLevel(level);
    if (!made)
        return false;
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    // Refused at once by the option check if it starts at all.
    std::wstring command = L"\"" + Wide(exe) + L"\" /lang=abc " + std::wstring(1100, L'P');
    if (CreateProcessAsUserW(token, NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        *error = 0;
        FinishProcess(process.hProcess, 60000);
        CloseHandle(process.hThread);
    } else {
        *error = GetLastError();
    }
    CloseHandle(token);
    return true;
}

// ---------------------------------------------------------------- setup steps

// Each returns false when the case cannot go on: a step failed (the reason
// in context->why) or the case is skipped here.
typedef bool (*StepFunction)(const Strings &args, Context *context);

static bool WindowsOnly(const Strings &args, Context *context) { return !IsWine() || Skip(context, Arg(args, 0)); }
static bool WineOnly(const Strings &args, Context *context) { return IsWine() || Skip(context, Arg(args, 0)); }

static bool SetCaseVariable(const std::string &name, const std::string &value)
{
    RecordVariable(name);
    return SetVariable(name, value);
}

static bool Env(const Strings &args, Context *context)
{
    size_t equals = args[0].find('=');
    if (equals == std::string::npos)
        return Fail(context, "env needs NAME=value: " + args[0]);
    return SetCaseVariable(args[0].substr(0, equals), args[0].substr(equals + 1));
}

// A child takes LANG from its environment block; LC_ALL would override it.
static bool Locale(const Strings &args, Context *context)
{
    if (!IsWine())
        return Skip(context, "the user's language is a setting of the account on Windows");
    RecordVariable("LC_ALL");
    RemoveVariable("LC_ALL");
    context->fromLinuxSide = true;
    return SetCaseVariable("LANG", args[0]);
}

static bool DllOverride(const Strings &args, Context *context)
{
    if (!IsWine())
        return true;
    context->fromLinuxSide = true;
    std::string overrides;
    ReadVariable("WINEDLLOVERRIDES", &overrides);
    return SetCaseVariable("WINEDLLOVERRIDES", overrides + (overrides.empty() ? "" : ";") + args[0]);
}

static bool Folder(const Strings &args, Context *context)
{
    if (!IsFolder(args[0]))
        return Fail(context, "no folder " + args[0] + " to start programs in");
    context->folder = args[0];
    return true;
}

static bool RecordAndWrite(const RegKey &key, const std::string &name, DWORD type, const std::string &bytes)
{
    RecordValue(key, name);
    return WriteValue(key, name, type, bytes);
}

static bool Engine(const Strings &args, Context *context)
{
    (void)context;
    const std::string &where = args[0];
    if (where == "none") {
        RecordValue(kInstallerKey, "InstallerLocation");
        return DeleteValue(kInstallerKey, "InstallerLocation");
    }
    std::string folder = where == "stand-in" ? g_bundle + "\\engine" : where == "system" ? CasePlaces().system : where;
    return RecordAndWrite(kInstallerKey, "InstallerLocation", REG_SZ, StringBytes(folder, REG_SZ));
}

static bool Reg(const Strings &args, Context *context)
{
    static const struct {
        const char *name;
        DWORD type;
    } kTypes[] = {{"sz", REG_SZ}, {"expand_sz", REG_EXPAND_SZ}, {"multi_sz", REG_MULTI_SZ}, {"dword", REG_DWORD}};
    RegKey key = ParseKey(args[0]);
    const std::string &name = Arg(args, 1), &type = Arg(args, 2), &data = Arg(args, 3);
    if (type == "delete") {
        RecordValue(key, name);
        return DeleteValue(key, name);
    }
    for (const auto &known : kTypes) {
        if (type != known.name)
            continue;
        if (known.type != REG_DWORD)
            return RecordAndWrite(key, name, known.type, StringBytes(data, known.type));
        DWORD number;
        return ParseNumber(data, &number) &&
               RecordAndWrite(key, name, REG_DWORD, std::string((const char *)&number, sizeof(number)));
    }
    return Fail(context, "reg: no such type " + type);
}

// The shell reads LocalLow from the registry at each lookup, so a program
// started later finds this folder (which must exist for the lookup).
static bool LocalLow(const Strings &args, Context *context)
{
    const std::string &folder = args[0];
    if (Exists(folder + "\\Qel"))
        return Fail(context, folder + "\\Qel is there already; the case would remove it");
    std::string made;
    if (!MakeFolders(folder, &made))
        return Fail(context, "cannot make " + folder);
    if (!made.empty())
        RemoveAfterCase(made);
    MoveUserDataForCase(folder);
    return RecordAndWrite(kUserShellFolders, kLocalLowValue, REG_EXPAND_SZ, StringBytes(folder, REG_EXPAND_SZ)) &&
           RecordAndWrite(kShellFolders, kLocalLowValue, REG_SZ, StringBytes(folder, REG_SZ));
}

static bool MakeFolder(const Strings &args, Context *context)
{
    (void)context;
    return MakeFolders(args[0]);
}

static bool File(const Strings &args, Context *context)
{
    (void)context;
    return WriteBytes(args[0], Arg(args, 1));
}

static bool Remove(const Strings &args, Context *context)
{
    (void)context;
    RemoveTree(args[0]);
    return !Exists(args[0]);
}

// `<folder>\*` copies every file of the folder into the folder `to`.
static bool Copy(const Strings &args, Context *context)
{
    const std::string &from = args[0], &to = Arg(args, 1);
    if (from.size() < 2 || from.compare(from.size() - 2, 2, "\\*") != 0)
        return CopyOne(from, to) || Fail(context, "cannot copy " + from + " to " + to);
    std::string folder = from.substr(0, from.size() - 2);
    if (!MakeFolders(to))
        return Fail(context, "cannot make " + to);
    for (const std::string &name : NamesIn(folder))
        if (!IsFolder(folder + "\\" + name) && !CopyOne(folder + "\\" + name, to + "\\" + name))
            return Fail(context, "cannot copy " + name + " to " + to);
    return true;
}

static bool HardLink(const Strings &args, Context *context)
{
    if (CreateHardLinkW(Wide(args[0]).c_str(), Wide(Arg(args, 1)).c_str(), NULL))
        return true;
    return Skip(context, "cannot make a hard link here: error " + std::to_string(GetLastError()));
}

// A filesystem without junctions skips the case on Windows; under Wine the
// hook must manage.
static bool Link(const Strings &args, Context *context)
{
    std::string problem;
    if (!MakeFolderLink(args[0], Arg(args, 1), &problem))
        return IsWine() ? Fail(context, problem) : Skip(context, problem);
    RemoveAfterCase(args[0]);
    return true;
}

static bool SmallDisk(const Strings &args, Context *context)
{
    if (!IsWine())
        return Skip(context, "a small drive needs a disk of its own on Windows");
    std::string letter = args[0], dosDevices = DosDevicesFolder();
    if (letter.size() != 1 || !isalpha((unsigned char)letter[0]) || dosDevices.empty())
        return Fail(context, "small-disk needs a drive letter and Wine's dosdevices folder");
    letter[0] = (char)tolower((unsigned char)letter[0]); // as Wine names its drive links
    std::string answer = RunHook("small-disk", Strings{dosDevices, letter, Arg(args, 1)});
    if (answer.compare(0, 9, "refused: ") == 0)
        return Skip(context, answer.substr(9));
    if (answer != "ok")
        return Fail(context, "small-disk " + letter + ": " + answer);
    UnmountAfterCase(letter);
    return IsFolder(letter + ":\\") || Fail(context, "drive " + letter + ": does not show after the hook made it");
}

static bool SystemDll(const Strings &args, Context *context)
{
    if (!IsWine())
        return Skip(context, "system32 is protected by the system on Windows");
    std::string problem;
    return ReplaceSystemFile(args[0], g_bundle + "\\" + Arg(args, 1), &problem) || Fail(context, problem);
}

static bool RunInBundle(const Strings &args, Context *context)
{
    return RunProgram(g_bundle + "\\" + args[0], Arg(args, 1), context);
}

static bool RunCopy(const Strings &args, Context *context) { return RunProgram(args[0], Arg(args, 1), context); }

static bool RunGatedStep(const Strings &args, Context *context)
{
    DWORD holdMs;
    if (!ParseNumber(args[0], &holdMs))
        return Fail(context, "run-gated needs a hold in ms: " + args[0]);
    return RunGated(holdMs, Arg(args, 1), context);
}

// The system's own engine with the arguments, waited for: `exit` checks its code.
static bool SystemEngineStep(const Strings &args, Context *context)
{
    ClearRecords(&context->run);
    HANDLE engine = StartProcess(SystemEngine() + " " + args[0], context->folder);
    if (engine == NULL)
        return Fail(context, "cannot start the system's engine: error " + std::to_string(GetLastError()));
    context->run.exitCode = FinishProcess(engine, kEngineLimitMs);
    context->run.done = true;
    return true;
}

static bool NormalUserStart(const Strings &args, Context *context)
{
    DWORD error, expected;
    if (!StartAsNormalUser(g_bundle + "\\" + args[0], &error))
        return Skip(context, "cannot make a normal user's token here: error " + std::to_string(GetLastError()));
    ParseNumber(Arg(args, 1), &expected);
    Expect(context, "error of a start without elevation", std::to_string(expected), std::to_string(error));
    return true;
}

// A step of code of low integrity: <action> | <path> | <the error it gets>.
static bool LowIntegrity(const Strings &args, Context *context)
{
    if (IsWine())
        return Skip(context, "Wine has no integrity levels");
    DWORD error = 0, expected = 0;
    std::string problem;
    if (!RunAtLowIntegrity("--low-integrity " + Arg(args, 0) + " \"" + Arg(args, 1) + "\"", &error, &problem))
        return Skip(context, problem);
    ParseNumber(Arg(args, 2), &expected);
    Expect(context, "what code of low integrity got for " + Arg(args, 0) + " " + Arg(args, 1),
           std::to_string(expected), std::to_string(error));
    return true;
}

// ---------------------------------------------------------------- checks

// A difference is recorded and the case goes on.

static bool ExitCode(const Strings &args, Context *context)
{
    DWORD expected;
    ParseNumber(args[0], &expected);
    const Run &run = context->run;
    Expect(context, "exit code", std::to_string(expected), run.done ? std::to_string(run.exitCode) : "no run");
    return true;
}

static bool CallCount(const Strings &args, Context *context)
{
    Expect(context, "engine runs", args[0], std::to_string(context->run.calls.size()));
    return true;
}

static std::string Nth(const Strings &items, const std::string &number, const char *none)
{
    size_t n = (size_t)atoi(number.c_str());
    return n >= 1 && n <= items.size() ? items[n - 1] : none;
}

static bool Call(const Strings &args, Context *context)
{
    Expect(context, "engine command " + args[0], Arg(args, 1), Nth(context->run.calls, args[0], "<no such run>"));
    return true;
}

static bool BoxCount(const Strings &args, Context *context)
{
    Expect(context, "boxes", args[0], std::to_string(context->run.boxes.size()));
    return true;
}

// caption | text, up to a trailing "*"
static bool Box(const Strings &args, Context *context)
{
    std::string actual = Nth(context->run.boxes, args[0], "<no such box>");
    std::string expected = Arg(args, 1) + " | " + Arg(args, 2);
    bool prefix = !expected.empty() && expected.back() == '*';
    size_t length = prefix ? expected.size() - 1 : std::string::npos;
    if (prefix ? actual.compare(0, length, expected, 0, length) != 0 : actual != expected)
        Differ(context, "box " + args[0], expected, actual);
    return true;
}

static bool Gated(const Strings &args, Context *context)
{
    Expect(context, "the engine at the event", args[0], context->run.done ? context->run.gate : "no run");
    return true;
}

static bool Present(const Strings &args, Context *context)
{
    if (!Exists(args[0]))
        Differ(context, "present", args[0], "<none>");
    return true;
}

static bool Absent(const Strings &args, Context *context)
{
    if (Exists(args[0]))
        Differ(context, "absent", args[0], "present");
    return true;
}

static bool SameBytes(const std::string &file, const std::string &other)
{
    std::string left, right;
    return ReadBytes(file, &left) && ReadBytes(other, &right) && left == right;
}

static bool Same(const Strings &args, Context *context)
{
    if (!SameBytes(args[0], Arg(args, 1)))
        Differ(context, "same bytes as " + Arg(args, 1), args[0], "differs or missing");
    return true;
}

// Every file of the reference folder is in the folder with the same bytes.
static bool SameFiles(const Strings &args, Context *context)
{
    const std::string &folder = args[0], &reference = Arg(args, 1);
    std::string differing;
    for (const std::string &name : NamesIn(reference))
        if (!IsFolder(reference + "\\" + name) && !SameBytes(folder + "\\" + name, reference + "\\" + name))
            differing += (differing.empty() ? "" : ",") + name;
    if (NamesIn(reference).empty())
        differing = "<no files in " + reference + ">";
    Expect(context, "files in " + folder + " that differ from " + reference + " or are missing", "", differing);
    return true;
}

static std::string TextOf(const std::string &path)
{
    std::string text;
    return ReadBytes(path, &text) ? text : "<none>";
}

static bool Text(const Strings &args, Context *context)
{
    Expect(context, "text of " + args[0], Arg(args, 1), TextOf(args[0]));
    return true;
}

static bool Contains(const Strings &args, Context *context)
{
    std::string text = TextOf(args[0]);
    if (text.find(Arg(args, 1)) == std::string::npos)
        Differ(context, "text of " + args[0] + " containing", Arg(args, 1), text);
    return true;
}

// The names in the folder, comma-separated ("<none>" when there is no such folder).
static bool Files(const Strings &args, Context *context)
{
    std::string listing = IsFolder(args[0]) ? "" : "<none>";
    for (const std::string &name : NamesIn(args[0]))
        listing += (listing.empty() ? "" : ",") + name;
    Expect(context, "files in " + args[0], Arg(args, 1), listing);
    return true;
}

static bool Links(const Strings &args, Context *context)
{
    Expect(context, "links to " + args[0], Arg(args, 1), std::to_string(LinkCount(args[0])));
    return true;
}

static bool Value(const Strings &args, Context *context)
{
    Expect(context, "value " + Arg(args, 1), Arg(args, 2), ValueText(ReadValue(ParseKey(args[0]), Arg(args, 1))));
    return true;
}

static bool ValueContains(const Strings &args, Context *context)
{
    std::string actual = ValueText(ReadValue(ParseKey(args[0]), Arg(args, 1)));
    if (actual.find(Arg(args, 2)) == std::string::npos)
        Differ(context, "value " + Arg(args, 1) + " containing", Arg(args, 2), actual);
    return true;
}

static bool ValueSize(const Strings &args, Context *context)
{
    RegValue value = ReadValue(ParseKey(args[0]), Arg(args, 1));
    Expect(context, "bytes of value " + Arg(args, 1), Arg(args, 2),
           value.exists ? std::to_string(AnsiByteCount(value)) : "<none>");
    return true;
}

static bool NoKey(const Strings &args, Context *context)
{
    if (KeyExists(ParseKey(args[0])))
        Differ(context, "key", "<none>", args[0]);
    return true;
}

static bool Report(const Strings &args, Context *context)
{
    Expect(context, "what the package saw", args[0], WaitForReport(false));
    return true;
}

static bool ReportAll(const Strings &args, Context *context)
{
    Expect(context, "the stand-in's whole report", args[0], WaitForReport(true));
    return true;
}

static bool Size(const Strings &args, Context *context)
{
    long long size = FileSize(args[0]);
    Expect(context, "size of " + args[0], Arg(args, 1), size < 0 ? "<none>" : std::to_string(size));
    return true;
}

// No planted DLL in the folder was loaded: each leaves "<name>.loaded".
static bool NoLoadedMarkers(const Strings &args, Context *context)
{
    std::string loaded;
    for (const std::string &name : NamesIn(args[0], "*.loaded"))
        loaded += (loaded.empty() ? "" : ",") + name;
    Expect(context, "planted DLLs loaded", "", loaded);
    return true;
}

static const struct {
    const char *verb;
    StepFunction run;
} kVerbs[] = {
    {"windows-only", WindowsOnly},
    {"wine-only", WineOnly},
    {"env", Env},
    {"locale", Locale},
    {"dll-override", DllOverride},
    {"cwd", Folder},
    {"engine", Engine},
    {"reg", Reg},
    {"local-low", LocalLow},
    {"mkdir", MakeFolder},
    {"file", File},
    {"remove", Remove},
    {"copy", Copy},
    {"hardlink", HardLink},
    {"link", Link},
    {"small-disk", SmallDisk},
    {"system-dll", SystemDll},
    {"run", RunInBundle},
    {"run-copy", RunCopy},
    {"run-gated", RunGatedStep},
    {"system-engine", SystemEngineStep},
    {"normal-user-start", NormalUserStart},
    {"low-integrity", LowIntegrity},
    {"exit", ExitCode},
    {"calls", CallCount},
    {"call", Call},
    {"boxes", BoxCount},
    {"box", Box},
    {"gated", Gated},
    {"exists", Present},
    {"absent", Absent},
    {"same", Same},
    {"same-files", SameFiles},
    {"text", Text},
    {"contains", Contains},
    {"files", Files},
    {"links", Links},
    {"value", Value},
    {"value-contains", ValueContains},
    {"value-size", ValueSize},
    {"no-key", NoKey},
    {"report", Report},
    {"report-all", ReportAll},
    {"size", Size},
    {"no-loaded-markers", NoLoadedMarkers},
};

// ---------------------------------------------------------------- a case

void StopCases(void) { InterlockedExchange(&g_stopped, 1); }

static bool RunStep(const Step &step, Context *context, bool trace)
{
    if (g_stopped)
        return Fail(context, "the run is ending");
    std::string rest = Expand(step.rest);
    if (trace)
        printf("  %s %s\n", step.verb.c_str(), Printable(rest).c_str());
    for (const auto &known : kVerbs) {
        if (step.verb != known.verb)
            continue;
        if (known.run(SplitFields(rest), context))
            return true;
        if (!context->skipped && context->why.empty())
            context->why = "setup step failed: " + step.verb + " " + Printable(rest);
        return false;
    }
    return Fail(context, "unknown step: " + step.verb);
}

// The installer's diagnostic log in the user's temporary folder, where its
// records go unless a case sets TMPDIR: an engine it could not start is
// recorded there with the system's code, which an exit code of 1 does not
// tell apart from an engine that returned 1.
static std::string DiagnosticLogPath(void)
{
    return CasePlaces().temp + "\\quorlim.log";
}

static size_t DiagnosticLogSize(void)
{
    std::string bytes;
    return ReadBytes(DiagnosticLogPath(), &bytes) ? bytes.size() : 0;
}

// What the last run gave, beside the differences: where a check cannot
// tell, this says whether the engine was reached at all, and what the
// installer logged meanwhile.
static std::string LastRun(const Run &run, size_t logSizeBefore)
{
    std::string text = "the last run: exit code " + std::to_string(run.exitCode) + ", " +
                       std::to_string(run.calls.size()) + " engine runs";
    for (size_t i = 0; i < run.calls.size(); i++)
        text += (i == 0 ? ": " : ", ") + Printable(run.calls[i]);
    text += ", " + std::to_string(run.boxes.size()) + " boxes";
    std::string log;
    if (ReadBytes(DiagnosticLogPath(), &log) && log.size() > logSizeBefore)
        text += "; the diagnostic log meanwhile: " + Printable(log.substr(logSizeBefore));
    return text;
}

Result RunCase(const Case &one, bool trace)
{
    BeginCase();
    Context context = {{false, 0, {}, {}, ""}, false, "", {}, "", false};
    MakeFolders(CasePlaces().scratch);
    size_t logSizeBefore = DiagnosticLogSize();
    // Every case starts with the stand-in as the engine, unless it says otherwise.
    RunStep(Step{"engine", "stand-in"}, &context, false);
    for (const Step &step : one.steps)
        if (!RunStep(step, &context, trace))
            break;
    Context cleanup = context;
    for (const Step &step : one.finally)
        RunStep(step, &cleanup, trace);
    EndCase();
    if (context.skipped)
        return Result{Result::SKIP, one.name, {context.why}};
    if (!context.why.empty())
        context.differences.insert(context.differences.begin(), context.why);
    if (!context.differences.empty() && context.run.done)
        context.differences.push_back(LastRun(context.run, logSizeBefore));
    return Result{context.differences.empty() ? Result::PASS : Result::FAIL, one.name, context.differences};
}

std::string ResultLine(const Result &result)
{
    static const char *kVerdicts[] = {"pass ", "fail ", "skip "};
    std::string line = kVerdicts[result.verdict] + result.name;
    for (size_t i = 0; i < result.details.size(); i++)
        line += (i == 0 ? ": " : "; ") + result.details[i];
    return line;
}
