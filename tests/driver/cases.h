// The cases of the case files (tests/driver/cases; the language is in
// tests/driver/README.md): reading them and running one.
#ifndef DRIVER_CASES_H
#define DRIVER_CASES_H

#include "tests/driver/win32.h"

struct Step {
    std::string verb, rest;
};

struct Case {
    std::string name;
    std::vector<Step> steps, finally;
};

// Appends the cases of one file; false with the reason (a step before the
// first case, two cases of one name).
bool ReadCases(const std::string &path, std::vector<Case> *cases, std::string *problem);

struct Result {
    enum Verdict { PASS, FAIL, SKIP } verdict;
    std::string name;
    Strings details; // what differed, or why the case was skipped
};

// The bundle the cases run from, and where the stand-in keeps its records.
void StartCases(const std::string &bundle);
// Runs one case; with `trace`, each step is printed as it runs.
Result RunCase(const Case &one, bool trace);
// From any thread: no case starts another step (a run cut short).
void StopCases(void);
// "pass <case>", "fail <case>: <what differed>; ..." or "skip <case>: <why>".
std::string ResultLine(const Result &result);

#endif
