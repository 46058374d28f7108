// The Win32 build and the Wine prefix it runs in, for the Linux tests that
// drive Win32 programs: where both are, the environment Wine needs, COM
// ports of the prefix, and the end of every Wine process of the prefix when
// the test is done.
#pragma once
#include <string>

class WinePrefix {
public:
    // The Win32 build's bin folder from QLN_WIN32_BIN (scripts/test.sh sets
    // it), the prefix from WINEPREFIX or else the build tree's own.
    WinePrefix();
    // Ends every Wine process of the prefix, however the test ended.
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Why Wine tests cannot run here; empty when they can.
    const std::string& Missing() const { return m_Missing; }
    const std::string& Bin() const { return m_Bin; }
    const std::string& Path() const { return m_Path; }
    // Puts WINEPREFIX, WINEARCH and WINEDEBUG into this process's
    // environment, for every program it starts from now on.
    void Export() const;
    // Ends every Wine process of the prefix (wineserver -k).
    void EndAll() const;

private:
    std::string m_Bin;
    std::string m_Path;
    std::string m_Missing;
};

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
