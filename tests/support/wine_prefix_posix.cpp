#include "wine_prefix_posix.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "child_process.h"

namespace {

constexpr uint32_t kEndAllMs = 30000;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

}  // namespace

std::string PeWineArch(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char dos[64] = {};
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return "";
    const uint32_t offset = dos[60] | dos[61] << 8 | dos[62] << 16 | uint32_t(dos[63]) << 24;
    unsigned char nt[6] = {};
    if (!in.seekg(offset) || !in.read(reinterpret_cast<char*>(nt), sizeof nt) || nt[0] != 'P' ||
        nt[1] != 'E' || nt[2] != 0 || nt[3] != 0)
        return "";
    switch (nt[4] | nt[5] << 8) {
        case 0x014c:
            return "win32";
        case 0x8664:
            return "win64";
        default:
            return "";
    }
}

std::string PrefixWineArch(const std::string& prefix) {
    std::ifstream in(prefix + "/system.reg");
    std::string line;
    for (int n = 0; n < 20 && std::getline(in, line); ++n) {
        if (line.compare(0, 6, "#arch=") == 0)
            return line.substr(6, line.find_first_of("\r\n", 6) - 6);
    }
    return "";
}

WinePrefix::WinePrefix() : m_Bin(EnvOr("QLN_WIN32_BIN", "")) {
    if (m_Bin.empty()) {
        m_Missing = "QLN_WIN32_BIN is not set (scripts/test.sh sets it)";
        return;
    }
    m_Arch = PeWineArch(m_Bin + "/qln.exe");
    if (m_Arch.empty()) {
        m_Missing = m_Bin + "/qln.exe is no Windows program of either build";
        return;
    }
    m_Path = EnvOr("WINEPREFIX", m_Bin + "/../wineprefix");
    // wineboot writes the registry last: without it the prefix is not ready.
    if (::access((m_Path + "/system.reg").c_str(), F_OK) != 0) {
        m_Missing = "no Wine prefix at " + m_Path;
        return;
    }
    const std::string made = PrefixWineArch(m_Path);
    if (made != m_Arch) {
        m_Missing = "the Wine prefix " + m_Path + " was made for " + (made.empty() ? "?" : made) +
                    ", the build in " + m_Bin + " is " + m_Arch;
    }
}

WinePrefix::~WinePrefix() {
    if (m_Missing.empty()) EndAll();
}

void WinePrefix::Export() const {
    ::setenv("WINEPREFIX", m_Path.c_str(), 1);
    ::setenv("WINEARCH", m_Arch.c_str(), 1);
    // Debian's own "wine" takes the 32-bit loader whenever it is installed;
    // the tree's wrapper names the loader of this build's architecture.
    const std::string loaders = std::string(QLN_SOURCE_DIR) + "/cmake/wine/" + m_Arch;
    const std::string path = EnvOr("PATH", "/usr/bin:/bin");
    if (path.compare(0, loaders.size() + 1, loaders + ":") != 0)
        ::setenv("PATH", (loaders + ":" + path).c_str(), 1);
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
