// Faults the product meets only on a hostile or broken system, made in this
// test program without a seam in the product: the product's units are linked
// into this program, so their calls into kernel32 go through this program's
// import table, and an entry of it can be pointed at a stand-in for a while.
#ifndef TESTS_WIN_IMPORTS_H
#define TESTS_WIN_IMPORTS_H

#include <windows.h>

// Points this program's import of `function` from `dll` (e.g. "kernel32.dll")
// at `replacement` for the life of the object; the original stays callable
// through original(). ok() is false when the import was not found (the test
// then fails: the fault it meant to make is not made).
class ScopedImportPatch {
  public:
    ScopedImportPatch(const char *dll, const char *function, void *replacement);
    ~ScopedImportPatch();
    bool ok() const { return slot_ != NULL; }
    void *original() const { return original_; }

  private:
    void **slot_ = NULL;
    void *original_ = NULL;
};

#endif
