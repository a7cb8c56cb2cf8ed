// The end-to-end driver: runs the cases of the case files (tests/driver/cases)
// on the machine it runs on, Windows or Wine alike, and writes one line per
// case to the results file:
//   pass <case> | fail <case>: <what differed> | skip <case>: <why>
// (run-tests.cmd adds "N passed, N failed, N skipped" with --summary).
//
// Every setting a case may change is put back after the case, also when it
// fails or the run is interrupted with Ctrl-C (tests/driver/settings.h).
// Folders that existed before the run are moved aside for the run and moved
// back at its end.
//
// usage:
//   driver.exe [--case <name>] [--guard <seconds>] <bundle folder> <results file|-> <case file>...
//       the cases of the files, or the one named; "-" writes no results file.
//       --guard: the run ends itself after that long, the settings put back
//       (a hang guard below the timeout of whoever runs it)
//   driver.exe --gtest <program> <results file> [<arguments>]
//   driver.exe --summary <results file>
//   driver.exe --admin-check
// A path may be given as the Linux side names it (/work/...) under Wine.
// Exit code: 0 when nothing failed, 1 when a case failed, 2 when the driver
// could not run, 3 when interrupted, 4 when the one case asked for was skipped.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/driver/cases.h"
#include "tests/driver/settings.h"

enum { EXIT_PASSED = 0, EXIT_FAILED = 1, EXIT_CANNOT_RUN = 2, EXIT_INTERRUPTED = 3, EXIT_SKIPPED = 4 };

static void Say(const std::string &line)
{
    printf("%s\n", line.c_str());
    fflush(stdout);
}

static void Complain(const std::string &problem) { fprintf(stderr, "driver: %s\n", problem.c_str()); }

// The driver's children, and theirs, share a job of the driver's own, so
// that a run cut short ends them before it puts the settings back (what
// still ran could change them again), and so that none outlives the driver.
static HANDLE g_job;

static void JoinOwnJob(void)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof(limits));
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    g_job = CreateJobObjectW(NULL, NULL);
    if (g_job != NULL && (!SetInformationJobObject(g_job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
                          !AssignProcessToJobObject(g_job, GetCurrentProcess()))) {
        CloseHandle(g_job); // in a job that takes no other: the children are left running
        g_job = NULL;
    }
}

static void EndChildren(void)
{
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[1023];
    } ids;
    if (g_job == NULL || !QueryInformationJobObject(g_job, JobObjectBasicProcessIdList, &ids, sizeof(ids), NULL))
        return;
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; i++) {
        DWORD id = (DWORD)ids.list.ProcessIdList[i];
        HANDLE process = id == GetCurrentProcessId() ? NULL : OpenProcess(PROCESS_TERMINATE, FALSE, id);
        if (process != NULL) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
}

// A run cut short: the case's thread starts no further step and records
// nothing more, the children end, and everything is put back.
static void EndTheRunNow(void)
{
    StopCases();
    HoldSettings();
    EndChildren();
    EndRunNow();
}

static BOOL WINAPI OnInterrupt(DWORD signal)
{
    (void)signal;
    EndTheRunNow();
    Complain("interrupted; the settings are restored");
    ExitProcess(EXIT_INTERRUPTED);
}

static DWORD g_guardSeconds;

static DWORD WINAPI EndAtTheGuard(LPVOID unused)
{
    (void)unused;
    Sleep(g_guardSeconds * 1000);
    EndTheRunNow();
    Say("fail: the run did not end within the driver's guard of " + std::to_string(g_guardSeconds) +
        " s; the settings are restored");
    ExitProcess(EXIT_FAILED);
}

// ---------------------------------------------------------------- cases

struct CaseRun {
    std::string only;        // --case
    std::string bundle;
    std::string results;     // "" for none
    Strings caseFiles;
};

static bool ParseCaseRun(const Strings &args, CaseRun *run, std::string *problem)
{
    size_t i = 0;
    for (; i + 1 < args.size() && args[i].compare(0, 2, "--") == 0; i += 2) {
        if (args[i] == "--case")
            run->only = args[i + 1];
        else if (args[i] == "--guard")
            g_guardSeconds = (DWORD)strtoul(args[i + 1].c_str(), NULL, 10);
        else
            break;
    }
    if (args.size() < i + 3) {
        *problem = "usage: driver.exe [--case <name>] [--guard <seconds>] <bundle folder> <results file|-> "
                   "<case file>...\n"
                   "       driver.exe --gtest <program> <results file> [<arguments>]\n"
                   "       driver.exe --summary <results file>";
        return false;
    }
    run->bundle = WindowsPathOf(args[i]);
    while (!run->bundle.empty() && run->bundle.back() == '\\')
        run->bundle.pop_back();
    run->results = args[i + 1] == "-" ? "" : WindowsPathOf(args[i + 1]);
    for (i += 2; i < args.size(); i++)
        run->caseFiles.push_back(WindowsPathOf(args[i]));
    return true;
}

static bool ChooseCases(const CaseRun &run, std::vector<Case> *cases, std::string *problem)
{
    for (const std::string &file : run.caseFiles)
        if (!ReadCases(file, cases, problem))
            return false;
    if (run.only.empty())
        return true;
    for (const Case &one : *cases)
        if (one.name == run.only) {
            *cases = std::vector<Case>{one};
            return true;
        }
    *problem = "no case named \"" + run.only + "\" in the case files given";
    return false;
}

// One case's result; what differed in a failure a line each.
static void ReportOneCase(const Result &result)
{
    if (result.verdict != Result::FAIL) {
        Say(ResultLine(result));
        return;
    }
    Say("fail " + result.name + ": what differed:");
    for (const std::string &detail : result.details)
        Say("  " + detail);
}

static int RunCases(const Strings &args)
{
    CaseRun run;
    std::vector<Case> cases;
    std::string problem;
    if (!ParseCaseRun(args, &run, &problem) || !StartSettings(&problem) || !ChooseCases(run, &cases, &problem) ||
        !MoveAsideGuardedFolders(&problem)) {
        Complain(problem);
        return EXIT_CANNOT_RUN;
    }
    JoinOwnJob();
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
    if (g_guardSeconds > 0)
        CloseHandle(CreateThread(NULL, 0, EndAtTheGuard, NULL, 0, NULL));
    StartCases(run.bundle);
    bool one = !run.only.empty();
    int failed = 0, skipped = 0;
    for (const Case &each : cases) {
        if (one)
            Say("case " + each.name);
        Result result = RunCase(each, one);
        failed += result.verdict == Result::FAIL;
        skipped += result.verdict == Result::SKIP;
        if (!run.results.empty())
            AppendBytes(run.results, ResultLine(result) + "\r\n");
        if (one)
            ReportOneCase(result);
        else
            Say(ResultLine(result));
    }
    MoveBackGuardedFolders();
    return failed ? EXIT_FAILED : one && skipped ? EXIT_SKIPPED : EXIT_PASSED;
}

// ---------------------------------------------------------------- other modes

// A program's whole output through a pipe, echoed as it comes.
static bool RunCapturing(const std::string &command, std::string *output, DWORD *exitCode)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring line = Wide(command);
    BOOL started = CreateProcessW(NULL, &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    char chunk[4096];
    DWORD count;
    while (ReadFile(readEnd, chunk, sizeof(chunk), &count, NULL) && count > 0) {
        fwrite(chunk, 1, count, stdout);
        output->append(chunk, count);
    }
    CloseHandle(readEnd);
    CloseHandle(process.hThread);
    *exitCode = FinishProcess(process.hProcess, INFINITE);
    return true;
}

// A line per test from a GoogleTest program's own report lines
// ("[       OK ] Suite.Name (3 ms)"); 0 when there are none.
static int AppendTestLines(const std::string &program, const std::string &output, const std::string &results)
{
    static const struct {
        const char *mark;
        const char *verdict;
    } kMarks[] = {{"[       OK ]", "pass"}, {"[  FAILED  ]", "fail"}, {"[  SKIPPED ]", "skip"}};
    int reported = 0;
    for (const std::string &text : Lines(output)) {
        size_t end = text.find(" (");
        if (end == std::string::npos || text.find(" ms)") == std::string::npos)
            continue; // the summary lines at the end
        for (const auto &mark : kMarks) {
            if (text.compare(0, 12, mark.mark) != 0)
                continue;
            std::string verdict = mark.verdict;
            AppendBytes(results, verdict + " " + program + ": " + text.substr(13, end - 13) +
                                     (verdict == "pass" ? "" : ": see the program's output in the log") + "\r\n");
            reported++;
        }
    }
    return reported;
}

// The test programs write in the kit folder and the vendor key too: the
// same record and restore as for a case.
static int RunGoogleTests(const Strings &args)
{
    std::string exe = WindowsPathOf(args[1]), results = WindowsPathOf(args[2]), problem;
    if (!StartSettings(&problem) || !MoveAsideGuardedFolders(&problem)) {
        Complain(problem);
        return EXIT_CANNOT_RUN;
    }
    BeginCase();
    JoinOwnJob();
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
    std::string output, program = exe.substr(exe.rfind('\\') + 1);
    DWORD exitCode = 1;
    bool started = RunCapturing("\"" + exe + "\" " + (args.size() > 3 ? args[3] : ""), &output, &exitCode);
    EndRunNow();
    if (!started) {
        AppendBytes(results, "fail " + exe + ": cannot start it (error " + std::to_string(GetLastError()) + ")\r\n");
        return EXIT_FAILED;
    }
    int reported = AppendTestLines(program, output, results);
    if (reported == 0 || (exitCode != 0 && output.find("[  FAILED  ]") == std::string::npos))
        AppendBytes(results, "fail " + program + ": exit code " + std::to_string(exitCode) + ", " +
                                 std::to_string(reported) + " tests reported\r\n");
    return exitCode == 0 ? EXIT_PASSED : EXIT_FAILED;
}

// Appends "N passed, N failed, N skipped"; 1 when anything failed or a skip
// gives no reason.
static int Summarize(const std::string &results)
{
    std::string text;
    if (!ReadBytes(results, &text))
        return EXIT_CANNOT_RUN;
    int passed = 0, failed = 0, skipped = 0;
    for (const std::string &line : Lines(text)) {
        if (line.compare(0, 5, "pass ") == 0)
            passed++;
        else if (line.compare(0, 5, "skip ") == 0 && line.find(": ") != std::string::npos)
            skipped++;
        else if (!line.empty())
            failed++; // a failure, a skip without its reason, or anything else
    }
    std::string summary = std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " +
                          std::to_string(skipped) + " skipped";
    if (!AppendBytes(results, summary + "\r\n"))
        return EXIT_CANNOT_RUN;
    Say(summary);
    return failed ? EXIT_FAILED : EXIT_PASSED;
}

// 1 when this process runs elevated as a member of the Administrators group.
static bool IsElevatedAdministrator(void)
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators;
    BOOL member = FALSE;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return false;
    if (!CheckTokenMembership(NULL, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    HANDLE token;
    TOKEN_ELEVATION elevation = {0};
    DWORD size;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size))
            elevation.TokenIsElevated = 0;
        CloseHandle(token);
    }
    return member && elevation.TokenIsElevated;
}

static int CheckAdministrator(void)
{
    if (IsElevatedAdministrator())
        return EXIT_PASSED;
    Say("run-tests: administrator rights are needed. Open the command prompt with\n"
        "\"Run as administrator\" and start run-tests.cmd again. Nothing was changed.");
    return EXIT_FAILED;
}

int wmain(int argc, WCHAR **argv)
{
    Strings args;
    for (int i = 1; i < argc; i++)
        args.push_back(Utf8(std::wstring(argv[i])));
    if (args.size() == 1 && args[0] == "--admin-check")
        return CheckAdministrator();
    if (args.size() >= 3 && args[0] == "--gtest")
        return RunGoogleTests(args);
    if (args.size() == 2 && args[0] == "--summary")
        return Summarize(WindowsPathOf(args[1]));
    if (args.size() == 3 && args[0] == "--low-integrity")
        return (int)DoAtLowIntegrity(args[1], args[2]);
    return RunCases(args);
}
