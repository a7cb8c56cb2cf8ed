#include "tests/win/imports.h"

#include <string.h>

// The import address table slot through which this program calls
// `function` of `dll`, found by name in the import descriptors; NULL if none.
static void **FindImportSlot(const char *dll, const char *function)
{
    BYTE *base = (BYTE *)GetModuleHandleA(NULL);
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *import = (IMAGE_IMPORT_DESCRIPTOR *)(base + directory.VirtualAddress);
         import->Name != 0; import++) {
        if (lstrcmpiA((const char *)(base + import->Name), dll) != 0 || import->OriginalFirstThunk == 0)
            continue;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + import->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)byName->Name, function) == 0)
                return (void **)&slots->u1.Function;
        }
    }
    return NULL;
}

static void WriteSlot(void **slot, void *value)
{
    DWORD oldProtection;
    if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &oldProtection))
        return;
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), oldProtection, &oldProtection);
}

ScopedImportPatch::ScopedImportPatch(const char *dll, const char *function, void *replacement)
    : slot_(FindImportSlot(dll, function))
{
    if (slot_ == NULL)
        return;
    original_ = *slot_;
    WriteSlot(slot_, replacement);
}

ScopedImportPatch::~ScopedImportPatch()
{
    if (slot_ != NULL)
        WriteSlot(slot_, original_);
}
