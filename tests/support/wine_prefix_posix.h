// A Windows build (i686 or x86-64) and the Wine prefix it runs in, for the
// Linux tests that drive Windows programs: where both are, the environment
// Wine needs for the build's architecture, COM ports of the prefix, and the
// end of every Wine process of the prefix when the test is done.
#pragma once
#include <string>

class WinePrefix {
public:
    // The Windows build's bin folder from QLN_WIN32_BIN (scripts/test.sh sets
    // it, to build/win32/bin or build/win64/bin), the prefix from WINEPREFIX
    // or else the build tree's own. A prefix made for the other architecture
    // than the build's is refused (Missing() says so).
    WinePrefix();
    // Ends every Wine process of the prefix, however the test ended.
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Why Wine tests cannot run here; empty when they can.
    const std::string& Missing() const { return m_Missing; }
    const std::string& Bin() const { return m_Bin; }
    const std::string& Path() const { return m_Path; }
    // "win32" or "win64": the build's architecture, from qln.exe's PE header.
    const std::string& Arch() const { return m_Arch; }
    // Puts WINEPREFIX, WINEARCH and WINEDEBUG into this process's
    // environment, and the Wine loader of the build's architecture first on
    // PATH (as "wine"), for every program it starts from now on.
    void Export() const;
    // Ends every Wine process of the prefix (wineserver -k).
    void EndAll() const;

private:
    std::string m_Bin;
    std::string m_Path;
    std::string m_Arch;
    std::string m_Missing;
};

// "win32" for an i686 PE file, "win64" for an x86-64 one, empty for anything
// else (no PE file, another machine, unreadable).
std::string PeWineArch(const std::string& path);

// The architecture a prefix was made for ("#arch=" in its system.reg);
// empty while it is not made.
std::string PrefixWineArch(const std::string& prefix);

// A COM port of the prefix that nobody uses yet: a link in its dosdevices
// folder to `target`, for the owner's lifetime. Wine follows the link at
// every open, so a target that is itself a link may be re-pointed meanwhile.
class WineComPort {
public:
    WineComPort(const WinePrefix& prefix, const std::string& target);
    ~WineComPort();
    WineComPort(const WineComPort&) = delete;
    WineComPort& operator=(const WineComPort&) = delete;

    // The name a Win32 program opens ("\\.\COMn"); empty when none was free.
    const std::string& Name() const { return m_Name; }

private:
    std::string m_Link;
    std::string m_Name;
};
