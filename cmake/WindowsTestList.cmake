# The Windows-level tests (tests/win), as data for both builds: the sources
# holding their TEST()s, from which the Windows build makes windows_tests.exe
# and the native build registers a CTest test per TEST(); and the suites
# whose tests change state the whole Wine prefix shares, which hold the
# prefix lock while they run.
set(WINDOWS_TEST_SOURCES
    tests/win/staging_test.cpp
    tests/win/engine_test.cpp
    tests/win/cabinet_test.cpp
    tests/win/probes_test.cpp
    tests/win/log_test.cpp
    tests/win/sysload_test.cpp)

set(WINDOWS_TEST_PREFIX_LOCK_SUITES
    UserDataFolder                # the shell's user data folder, which cases and its own tests point elsewhere
    StagingPath                   # the user data folder, which cases point elsewhere
    EngineGate                    # system32's msi.dll, which cases swap for a while
    LocateMsiexec                 # InstallerLocation
    OnVersion52                   # InstallerLocation
    OnVersion51                   # InstallerLocation
    CabinetWriter                 # the kit folder and the cabinet event
    VendorKey                     # the vendor and kit keys under HKLM
    SystemLoaderInSystemDirectory # DLLs placed in system32
    HardeningInSystemDirectory    # DLLs placed in system32
    DiagnosticLogInTempFolder)    # the temporary folder
