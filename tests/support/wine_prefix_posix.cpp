#include "wine_prefix_posix.h"

#include <unistd.h>

#include <cstdlib>

#include "child_process.h"

namespace {

constexpr uint32_t kEndAllMs = 30000;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

}  // namespace

WinePrefix::WinePrefix() : m_Bin(EnvOr("QLN_WIN32_BIN", "")) {
    if (m_Bin.empty()) {
        m_Missing = "QLN_WIN32_BIN is not set (scripts/test.sh sets it)";
        return;
    }
    m_Path = EnvOr("WINEPREFIX", m_Bin + "/../wineprefix");
    // wineboot writes the registry last: without it the prefix is not ready.
    if (::access((m_Path + "/system.reg").c_str(), F_OK) != 0)
        m_Missing = "no Wine prefix at " + m_Path;
}

WinePrefix::~WinePrefix() {
    if (m_Missing.empty()) EndAll();
}

void WinePrefix::Export() const {
    ::setenv("WINEPREFIX", m_Path.c_str(), 1);
    ::setenv("WINEARCH", "win32", 1);
    ::setenv("WINEDEBUG", "-all", 1);
}

void WinePrefix::EndAll() const {
    // Straight to the program, not through a shell: the path may hold any
    // character.
    ChildProcess kill;
    if (kill.Start("wineserver", {"-k"}, {"WINEPREFIX=" + m_Path})) kill.WaitForExit(kEndAllMs);
}

WineComPort::WineComPort(const WinePrefix& prefix, const std::string& target) {
    // Numbers above 9 are no DOS device names: they open as \\.\COMn. A link
    // left over from an earlier run keeps its number out of use.
    for (int n = 20; n < 100 && m_Link.empty(); ++n) {
        std::string candidate = prefix.Path() + "/dosdevices/com" + std::to_string(n);
        if (::symlink(target.c_str(), candidate.c_str()) == 0) {
            m_Link = candidate;
            m_Name = "\\\\.\\COM" + std::to_string(n);
        }
    }
}

WineComPort::~WineComPort() {
    if (!m_Link.empty()) ::unlink(m_Link.c_str());
}
