#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "upssim.h"

namespace {

// The Plug and Play answer goes out once the host has kept quiet this long
// with the line at 1200 baud (it has finished toggling its lines).
constexpr uint32_t kPnpQuietMs = 250;
// A request cut short is forgotten after this much silence.
constexpr uint32_t kPartialMs = 1000;

uint32_t BaudOf(speed_t speed) {
    static const struct {
        speed_t speed;
        uint32_t baud;
    } kTable[] = {{B300, 300},     {B600, 600},       {B1200, 1200},    {B2400, 2400},
                  {B4800, 4800},   {B9600, 9600},     {B19200, 19200},  {B38400, 38400},
                  {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    for (const auto& e : kTable)
        if (e.speed == speed) return e.baud;
    return 0;
}

}  // namespace

UpsSim::UpsSim() = default;

UpsSim::~UpsSim() { Stop(); }

bool UpsSim::Start(std::string& error) {
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (!OpenLine(error)) return false;
    }
    m_bStop = false;
    m_Thread = std::thread([this] { Run(); });
    return true;
}

void UpsSim::Stop() {
    m_bStop = true;
    if (m_Thread.joinable()) m_Thread.join();
    std::lock_guard<std::mutex> lock(m_Mutex);
    CloseLine();
    if (!m_LinkPath.empty()) ::unlink(m_LinkPath.c_str());
    m_LinkPath.clear();
}

bool UpsSim::OpenLine(std::string& error) {
    plat::ScopedFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ::ptsname(master.Get());
    plat::ScopedFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!name || !watch || ::inotify_add_watch(watch.Get(), name, IN_OPEN | IN_CLOSE) < 0) {
        error = std::string("cannot watch the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    m_Master = std::move(master);
    m_Watch = std::move(watch);
    m_SlavePath = name;
    m_nLineBaud = 0;
    m_bFresh = false;
    m_bPnpArmed = false;
    UpdateLink();
    return true;
}

void UpsSim::CloseLine() {
    m_Watch.Reset();
    m_Master.Reset();
    m_SlavePath.clear();
    m_bPnpArmed = false;
    m_Delayed.clear();  // what was on its way goes with the line
}

void UpsSim::UpdateLink() {
    if (m_LinkPath.empty() || m_SlavePath.empty()) return;
    // Replace the link in one step, so that a host never finds it missing.
    std::string temporary = m_LinkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(m_SlavePath.c_str(), temporary.c_str()) == 0)
        ::rename(temporary.c_str(), m_LinkPath.c_str());
}

bool UpsSim::SetLink(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_LinkPath.empty()) ::unlink(m_LinkPath.c_str());
    m_LinkPath = path;
    UpdateLink();
    char target[512];
    if (!path.empty() && ::readlink(path.c_str(), target, sizeof target) <= 0) {
        error = "cannot make the link " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string UpsSim::SlavePath() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_SlavePath;
}

std::string UpsSim::Control(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    std::string name = line.substr(0, line.find(' '));
    if (name == "unplug") {
        CloseLine();
        return "ok";
    }
    if (name == "plug") {
        if (m_Master) return "ok " + m_SlavePath;
        std::string error;
        if (!OpenLine(error)) return "error plug: " + error;
        m_Model.LineReopened();
        return "ok " + m_SlavePath;
    }
    if (name == "path") return "ok " + m_SlavePath;
    if (name == "line") return "ok " + std::to_string(m_nLineBaud);
    if (name == "opens") return "ok " + std::to_string(m_nOpens);
    if (name == "replay") {
        std::string file = line.size() > name.size() ? line.substr(name.size() + 1) : "";
        if (file.empty()) return "error replay: name a trace file, or off";
        if (file == "off") {
            m_pReplay.reset();
            return "ok";
        }
        auto replay = std::make_unique<TraceReplay>();
        std::string error;
        if (!replay->Load(file, error)) return "error replay: " + error;
        std::string count = std::to_string(replay->Exchanges().size());
        m_pReplay = std::move(replay);
        return "ok " + count + " exchanges";
    }
    if (name == "replayed") {
        if (!m_pReplay) return "error no replay";
        return "ok " + std::to_string(m_pReplay->Answered()) + " " +
               std::to_string(m_pReplay->Unmatched());
    }
    if (name == "gap") {
        if (line == "gap reset") {
            m_nShortestGap = UINT32_MAX;
            m_bAnswerOpen = false;
            return "ok";
        }
        return m_nShortestGap == UINT32_MAX ? "ok none" : "ok " + std::to_string(m_nShortestGap);
    }
    if (name == "verbose") {
        m_bVerbose = line.find("on") != std::string::npos;
        return "ok";
    }
    return m_Model.Control(line);
}

uint32_t UpsSim::Count(uint8_t command) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Model.Count(command);
}

uint32_t UpsSim::Speed() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Model.Speed();
}

uint32_t UpsSim::LineBaud() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_nLineBaud;
}

void UpsSim::Log(const char* what, const uint8_t* bytes, size_t count) {
    if (!m_bVerbose) return;
    std::string text;
    char two[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, " %02X", bytes[i]);
        text += two;
    }
    std::fprintf(stderr, "upssim: %s%s\n", what, text.c_str());
}

void UpsSim::Send(const std::vector<uint8_t>& bytes) {
    Log("answers", bytes.data(), bytes.size());
    const uint32_t trickle = m_Model.TrickleMs();
    size_t done = 0;
    while (done < bytes.size() && m_Master) {
        size_t chunk = trickle ? 1 : bytes.size() - done;
        ssize_t n = ::write(m_Master.Get(), bytes.data() + done, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the host has gone: what it missed is lost, as on a wire
        done += static_cast<size_t>(n);
        if (trickle && done < bytes.size()) plat::SleepMs(trickle);
    }
    m_bAnswerOpen = true;
    m_nAnswerEnd = plat::TickCount();
}

void UpsSim::SendDue(uint32_t now) {
    while (!m_Delayed.empty() && static_cast<int32_t>(now - m_Delayed.front().first) >= 0) {
        std::vector<uint8_t> bytes = std::move(m_Delayed.front().second);
        m_Delayed.erase(m_Delayed.begin());
        Send(bytes);
    }
}

// A real port starts every open with its driver's defaults; a
// pseudo-terminal keeps what the last host set. Wine's SetCommState fails
// ("Invalid argument") on a line left with CLOCAL by an earlier Wine session,
// so the next host would find the line unusable: the simulator clears it
// when the host lets go, as the serial driver of a real line would.
void UpsSim::ForgetHostLineSettings(int master) {
    termios tio{};
    if (::tcgetattr(master, &tio) != 0 || (tio.c_cflag & CLOCAL) == 0) return;
    tio.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    ::tcsetattr(master, TCSANOW, &tio);
}

void UpsSim::Run() {
    uint8_t buffer[512];
    while (!m_bStop) {
        int master, watch;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            master = m_Master.Get();
            watch = m_Watch.Get();
        }
        if (master < 0) {  // unplugged
            plat::SleepMs(10);
            continue;
        }
        pollfd p[2] = {{master, POLLIN, 0}, {watch, POLLIN, 0}};
        ::poll(p, 2, 10);

        std::lock_guard<std::mutex> lock(m_Mutex);
        if (master != m_Master.Get()) continue;
        const uint32_t now = plat::TickCount();

        // Opens and closes of the slave side. An open is a fresh start: a
        // real line drops DTR in between, which sends the UPS back to its
        // starting rate.
        if (p[1].revents & POLLIN) {
            alignas(inotify_event) char events[1024];
            ssize_t n;
            while ((n = ::read(m_Watch.Get(), events, sizeof events)) > 0) {
                for (char* e = events; e < events + n;) {
                    const inotify_event* ev = reinterpret_cast<const inotify_event*>(e);
                    if (ev->mask & IN_OPEN) {
                        ++m_nOpens;
                        m_bFresh = true;
                        m_Model.LineReopened();
                        m_Model.ForgetPartial();
                    }
                    if (ev->mask & IN_OPEN) ++m_nHostHolds;
                    if ((ev->mask & IN_CLOSE) && m_nHostHolds > 0) --m_nHostHolds;
                    e += sizeof(inotify_event) + ev->len;
                }
            }
            // Only once every host has let go: a host that closes and opens
            // again at once must not have its fresh settings touched.
            if (m_nHostHolds == 0) ForgetHostLineSettings(master);
        }

        termios tio{};
        if (::tcgetattr(master, &tio) != 0) continue;
        const uint32_t baud = BaudOf(::cfgetospeed(&tio));
        const bool raw = (tio.c_lflag & ICANON) == 0;
        if (baud != m_nLineBaud) {
            if (baud == 1200) m_bFresh = true;
            m_nLineBaud = baud;
            m_bPnpArmed = false;
        }
        // A host that has configured the line to 1200 baud after opening it
        // (or switched to 1200) is enumerating: answer when it falls quiet.
        if (m_bFresh && raw && baud == 1200 && !m_bPnpArmed) {
            m_bPnpArmed = true;
            m_nPnpSince = now;
        }

        if (p[0].revents & POLLIN) {
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                Log("hears", buffer, static_cast<size_t>(n));
                m_bFresh = m_bPnpArmed = false;
                m_nLastHeard = now;
                if (m_bAnswerOpen) {
                    m_bAnswerOpen = false;
                    const uint32_t gap = now - m_nAnswerEnd;
                    if (gap < m_nShortestGap) m_nShortestGap = gap;
                }
                std::vector<uint8_t> out;
                // Until the host has put the line in raw mode its bytes are
                // not trusted, and nothing is sent into a cooked line.
                if (raw && m_pReplay) {
                    m_pReplay->Hear(buffer, static_cast<size_t>(n), baud, out);
                } else if (raw) {
                    m_Model.Hear(buffer, static_cast<size_t>(n), baud, out);
                }
                if (!out.empty() && m_Model.DelayMs() != 0) {
                    m_Delayed.emplace_back(now + m_Model.DelayMs(), std::move(out));
                } else if (!out.empty()) {
                    Send(out);
                }
            }
        } else if ((p[0].revents & POLLHUP) != 0) {
            // No slave side open: nothing to hear until the host opens it.
            m_bPnpArmed = false;
        }
        SendDue(now);
        if (m_Model.HasPartial() && now - m_nLastHeard > kPartialMs) m_Model.ForgetPartial();
        if (m_pReplay && m_pReplay->HasPartial() && now - m_nLastHeard > kPartialMs)
            m_pReplay->ForgetPartial();

        if (m_bPnpArmed && now - m_nPnpSince >= kPnpQuietMs) {
            m_bPnpArmed = m_bFresh = false;
            std::string pnp = m_pReplay ? m_pReplay->PnpAnswer() : m_Model.PnpAnswer();
            if (!pnp.empty()) Send(std::vector<uint8_t>(pnp.begin(), pnp.end()));
        }
        if ((p[0].revents & POLLHUP) != 0) {
            // The master reports the hang-up at once and for good; pace the
            // loop instead of spinning on it.
            m_Mutex.unlock();
            plat::SleepMs(10);
            m_Mutex.lock();
        }
    }
}
