// The follow-up commands and the reinstall request. The input gives the
// language (two bytes), then the kit home, the install folder and the engine
// path as lines; the rest is a status buffer of exactly its own size. Each
// command is exactly its template filled in when that fits its buffer, else
// "", and the status asks for a second run only when it is "reinstall" with
// its terminator inside the buffer.
#include "tests/fuzz/fuzz_support.h"

#include <ctype.h>

#include "installer/afterinstall_logic.h"
#include "support/language.h"

static std::string InstallHead(const std::string &msiexec, const std::string &package)
{
    return "\"" + msiexec + "\" /i \"" + package + "\"";
}

static std::string InstallDirTail(const std::string &installDir)
{
    return installDir.empty() ? std::string() : " INSTALLDIR=" + installDir;
}

// The command and whether it may be composed at all (the transform path has
// a buffer of its own, FOLLOWUP_BUFFER_SIZE).
static std::string ExpectedRuntimeCommand(const std::string &msiexec, const std::string &package,
                                          const std::string &kitHome, unsigned short language,
                                          const std::string &installDir, bool *fits)
{
    std::string command = InstallHead(msiexec, package);
    *fits = true;
    if (language != LANGUAGE_ENGLISH) {
        std::string transform = kitHome + "\\hux" + std::to_string(language) + ".MST";
        *fits = transform.size() < FOLLOWUP_BUFFER_SIZE;
        command += " TRANSFORMS=\"" + transform + "\"";
    }
    command += " /qn ADDLOCAL=ALL SDKSILENT=1" + InstallDirTail(installDir);
    *fits = *fits && command.size() < FOLLOWUP_BUFFER_SIZE;
    return command;
}

static void CheckResult(int composed, bool fits, const HeapBuffer &out, const std::string &expected)
{
    Check(composed == (int)fits);
    Check(out.Terminated());
    Check(composed ? expected == out.bytes : out.bytes[0] == '\0');
}

// A usable kit home is an absolute path with a drive or a UNC root, and holds
// no quote that could end a quoted path in a command.
static void CheckKitHome(const std::string &kitHome)
{
    HeapText home(kitHome);
    if (!IsUsableKitHome(home.text))
        return;
    Check(kitHome.find('"') == std::string::npos);
    bool drive = kitHome.size() >= 3 && isalpha((unsigned char)kitHome[0]) && kitHome[1] == ':' && kitHome[2] == '\\';
    bool unc = kitHome.size() >= 5 && kitHome[0] == '\\' && kitHome[1] == '\\' && kitHome[2] != '\\';
    Check(drive || unc);
}

static void CheckReinstallRequest(const std::string &status)
{
    // Exactly the status's bytes, no terminator added: a read past them is a fault.
    char *buffer = (char *)malloc(status.size() ? status.size() : 1);
    memcpy(buffer, status.data(), status.size());
    bool expected = status.size() >= 10 && memcmp(status.data(), "reinstall\0", 10) == 0;
    Check(IsReinstallRequest(buffer, status.size()) == (int)expected);
    free(buffer);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzReader reader{data, size};
    unsigned short language = (unsigned short)(reader.Byte() << 8 | reader.Byte());
    // Most inputs take one of the package's languages, the rest any LANGID.
    static const unsigned short kLanguages[] = {LANGUAGE_ENGLISH, LANGUAGE_JAPANESE, LANGUAGE_CHINESE_SIMPLIFIED};
    if ((language & 0xC000) != 0xC000)
        language = kLanguages[language % 3];
    std::string kitHome = reader.Line();
    std::string installDir = reader.Line();
    std::string msiexec = reader.Line();
    if (msiexec.empty())
        msiexec = "C:\\windows\\system32\\msiexec.exe";
    std::string runtimePackage = kitHome + "\\hux.msi";
    std::string databasePackage = kitHome + "\\orvadb.msi";

    HeapText home(kitHome), dir(installDir), engine(msiexec), runtimeText(runtimePackage),
        databaseText(databasePackage);
    bool fits = false;
    std::string expected = ExpectedRuntimeCommand(msiexec, runtimePackage, kitHome, language, installDir, &fits);
    HeapBuffer runtime(FOLLOWUP_BUFFER_SIZE);
    int composed = ComposeRuntimeCommand(runtime.bytes, runtime.cap, engine.text, runtimeText.text, home.text,
                                         language, dir.text);
    CheckResult(composed, fits, runtime, expected);

    expected = InstallHead(msiexec, databasePackage) + " /qn" + InstallDirTail(installDir);
    HeapBuffer database(FOLLOWUP_BUFFER_SIZE);
    composed = ComposeDatabaseCommand(database.bytes, database.cap, engine.text, databaseText.text, dir.text);
    CheckResult(composed, expected.size() < FOLLOWUP_BUFFER_SIZE, database, expected);

    CheckKitHome(kitHome);
    CheckReinstallRequest(reader.Rest());
    return 0;
}
