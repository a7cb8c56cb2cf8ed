#include "support/probes.h"

#include "support/profile.h"
#include "support/probes_logic.h"

static_assert(REGISTRY_TYPE_NONE == REG_NONE && REGISTRY_TYPE_SZ == REG_SZ &&
                  REGISTRY_TYPE_EXPAND_SZ == REG_EXPAND_SZ && REGISTRY_TYPE_MULTI_SZ == REG_MULTI_SZ,
              "the registry's own type numbers");
static_assert(REGISTRY_STATUS_INVALID_DATA == ERROR_INVALID_DATA, "the registry's own status");

static const char kSoftwareKey[] = "Software";
static const char kVendorKey[] = PROFILE_VENDOR;
static const char kKitKey[] = PROFILE_KIT_KEY;

// Deleting needs the vendor key with KEY_READ, KEY_CREATE_SUB_KEY and
// KEY_SET_VALUE (0x2001F); "Software" itself is only read.
static const REGSAM kVendorDeleteAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;

LONG QueryRegistryString(HKEY key, char *buffer, const char *name, DWORD *count)
{
    DWORD type = 0;
    DWORD bufferSize = *count;
    LONG status = RegQueryValueExA(key, name, NULL, &type, (BYTE *)buffer, count);
    return CheckRegistryString(status, type, *count, buffer, bufferSize);
}

// Opens "Software" and the vendor key below it. On failure nothing stays open.
static int OpenVendorKey(REGSAM vendorAccess, HKEY *software, HKEY *vendor)
{
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSoftwareKey, 0, KEY_READ, software) != ERROR_SUCCESS)
        return 0;
    if (RegOpenKeyExA(*software, kVendorKey, 0, vendorAccess, vendor) != ERROR_SUCCESS) {
        RegCloseKey(*software);
        return 0;
    }
    return 1;
}

int ReadVendorValue(const char *name, char *buffer, DWORD size)
{
    HKEY software, vendor;
    if (!OpenVendorKey(KEY_READ, &software, &vendor))
        return 0;
    DWORD count = size;
    LONG status = QueryRegistryString(vendor, buffer, name, &count);
    // A success means count <= size, so the first byte is the buffer's own.
    int found = status == ERROR_SUCCESS && count != 0 && buffer != NULL && buffer[0] != '\0';
    RegCloseKey(vendor);
    RegCloseKey(software);
    return found;
}

int DeleteVendorValue(const char *name)
{
    HKEY software, vendor;
    if (!OpenVendorKey(kVendorDeleteAccess, &software, &vendor))
        return 0;
    RegDeleteValueA(vendor, name); // a value already gone is no obstacle to what follows
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyA(vendor, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL,
                         NULL) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0)
        RegDeleteKeyA(software, kVendorKey); // nothing of the vendor's is left in it
    RegCloseKey(vendor);
    RegCloseKey(software);
    return 1;
}

int ClearInstallStatus(void)
{
    DeleteVendorValue("InstallStatus");
    return 1;
}

int GetKitHome(char *buffer, DWORD size)
{
    HKEY kit;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKitKey, 0, KEY_READ, &kit) != ERROR_SUCCESS)
        return 0;
    DWORD count = size;
    LONG status = QueryRegistryString(kit, buffer, "OrvaHome", &count);
    RegCloseKey(kit);
    return status == ERROR_SUCCESS;
}

int FileExists(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return 1;
}
