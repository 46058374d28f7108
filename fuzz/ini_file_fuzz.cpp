// The agent's INI reader over arbitrary file contents. The input holds the
// section name on its first line, the key on its second and the file after.
// The relay's settings are read from the same file and checked against
// their rules: a value either is refused or lies inside its setting.
#include "agent/ini_file.h"
#include "agent/relay_settings.h"
#include "fuzz/fuzz_support.h"

namespace {

void CheckSettings(CINIFile& ini) {
    RelaySettings s;
    try {
        s = ReadRelaySettings(ini, fuzz::ScratchPath());
    } catch (const SettingsError& error) {
        if (error.key.empty() || error.section.empty() || error.allowed.empty())
            fuzz::Fail("a settings error that names no key, section or rule");
        return;
    }
    const NetXcpAccess& a = s.access;
    if (a.port == 0) fuzz::Fail("agent port 0 from an INI file");
    if (s.baud == 0) fuzz::Fail("baud rate 0");
    if (s.portName.empty()) fuzz::Fail("no port name");
    if (a.passwordUsable && a.password.empty()) fuzz::Fail("an empty password that admits");
    if (!a.passwordUsable && (!a.password.empty() || s.passwordIsDefault))
        fuzz::Fail("an unusable password with a text or called the default");
    if (a.passwordTries > 1000 || a.passwordWindowSeconds == 0 || a.passwordWindowSeconds > 86400 ||
        a.passwordLockoutSeconds == 0 || a.passwordLockoutSeconds > 86400)
        fuzz::Fail("a password limit outside its range");
    for (const ClientNetwork& n : a.allowedClients) {
        if ((n.address & ~n.mask) != 0) fuzz::Fail("an allowed network with host bits set");
        if (n.mask != 0 && ((~n.mask + 1) & ~n.mask) != 0) fuzz::Fail("a mask that is no prefix");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string section = fuzz::TakeLine(data, size, 64);
    std::string key = fuzz::TakeLine(data, size, 64);
    fuzz::WriteScratch(data, size);

    CINIFile ini(fuzz::ScratchPath().c_str());
    std::string value = ini.GetString(section.c_str(), key.c_str(), "default");
    if (value.size() > 255) fuzz::Fail("string value longer than 255 characters");
    ini.GetInt(section.c_str(), key.c_str(), -7);
    CheckSettings(ini);
    return 0;
}
