// A bare pseudo-terminal for tests of the port and the link: the test plays
// the device on the master side.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

class TestPty {
public:
    TestPty() {
        m_nMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_nMaster >= 0 && ::grantpt(m_nMaster) == 0 && ::unlockpt(m_nMaster) == 0) {
            const char* name = ::ptsname(m_nMaster);
            if (name) m_SlavePath = name;
        }
        // Keep one slave descriptor open so that the master never sees the
        // line hang up between the test's opens and closes.
        if (!m_SlavePath.empty())
            m_nKeep = ::open(m_SlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    }
    ~TestPty() {
        if (m_nKeep >= 0) ::close(m_nKeep);
        if (m_nMaster >= 0) ::close(m_nMaster);
    }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    bool Ok() const { return m_nMaster >= 0 && m_nKeep >= 0; }
    const std::string& SlavePath() const { return m_SlavePath; }
    int Master() const { return m_nMaster; }
    // Hang the line up: close the master (the slave side sees a hang-up).
    void CloseMaster() {
        if (m_nMaster >= 0) ::close(m_nMaster);
        m_nMaster = -1;
    }

    void Send(const std::string& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_nMaster, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }
    // What the host has written so far, waiting up to `ms` for the first byte.
    std::string Receive(int ms = 0) const {
        std::string got;
        pollfd p{m_nMaster, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return got;
        char buf[512];
        for (;;) {
            pollfd q{m_nMaster, POLLIN, 0};
            if (::poll(&q, 1, 20) <= 0) break;
            ssize_t n = ::read(m_nMaster, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }
    // The host's line settings as the master side sees them.
    bool LineSettings(termios& tio) const { return ::tcgetattr(m_nMaster, &tio) == 0; }
    speed_t Speed() const {
        termios tio{};
        return LineSettings(tio) ? ::cfgetospeed(&tio) : 0;
    }

private:
    int m_nMaster = -1;
    int m_nKeep = -1;
    std::string m_SlavePath;
};
