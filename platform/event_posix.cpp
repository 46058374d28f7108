// POSIX events are pipes: a pending byte is the signalled state, so that
// waits block in poll() and a wait on several events is one poll. A named
// event is a FIFO under the runtime directory; like a Win32 named event, its
// signal lives only while some process holds it open.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"

namespace plat {

namespace {

std::string EventDirectory() {
    const char* dir = ::getenv("QLN_EVENT_DIR");
    if (dir && *dir) return dir;
    return "/tmp/qln-events";
}

std::string FifoPath(const std::string& name) {
    std::string file;
    for (char c : name) file += (c == '/' || c == ' ') ? '_' : c;
    return EventDirectory() + "/" + file;
}

}  // namespace

struct Event::Impl {
    int readFd = -1;
    int writeFd = -1;
};

Event::Event() : m_pImpl(new Impl) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        m_pImpl->readFd = fds[0];
        m_pImpl->writeFd = fds[1];
    }
}

Event::Event(const std::string& name) : m_pImpl(new Impl) {
    std::string dir = EventDirectory();
    ::mkdir(dir.c_str(), 01777);
    std::string path = FifoPath(name);
    if (::mkfifo(path.c_str(), 0666) != 0 && errno != EEXIST) return;
    // O_RDWR keeps the FIFO open without a peer and never blocks the open.
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    m_pImpl->readFd = fd;
    m_pImpl->writeFd = fd;
}

Event::~Event() {
    if (m_pImpl->readFd >= 0) ::close(m_pImpl->readFd);
    if (m_pImpl->writeFd >= 0 && m_pImpl->writeFd != m_pImpl->readFd) ::close(m_pImpl->writeFd);
}

bool Event::IsValid() const { return m_pImpl->readFd >= 0; }

void Event::Set() {
    if (m_pImpl->writeFd < 0) return;
    pollfd p{m_pImpl->readFd, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) return;  // already signalled
    char one = 1;
    ssize_t ignored = ::write(m_pImpl->writeFd, &one, 1);
    (void)ignored;
}

bool Event::TryConsume() {
    if (m_pImpl->readFd < 0) return false;
    char scratch[64];
    bool consumed = false;
    ssize_t n;
    while ((n = ::read(m_pImpl->readFd, scratch, sizeof scratch)) > 0) consumed = true;
    return consumed;
}

bool Event::Wait(uint32_t ms) {
    Event* self = this;
    return WaitAny(&self, 1, ms) == 0;
}

int Event::WaitAny(Event* const* events, int count, uint32_t ms) {
    std::vector<pollfd> fds(static_cast<size_t>(count));
    uint32_t start = TickCount();
    for (;;) {
        for (int i = 0; i < count; ++i) {
            if (events[i]->TryConsume()) return i;
            fds[static_cast<size_t>(i)] = pollfd{events[i]->m_pImpl->readFd, POLLIN, 0};
        }
        int timeout = -1;
        if (ms != kInfinite) {
            uint32_t spent = TickCount() - start;
            if (spent >= ms) return -1;
            timeout = static_cast<int>(ms - spent);
        }
        int r = ::poll(fds.data(), fds.size(), timeout);
        if (r == 0) return -1;
        if (r < 0 && errno != EINTR) return -1;
    }
}

void* Event::NativeHandle() const {
    return reinterpret_cast<void*>(static_cast<intptr_t>(m_pImpl->readFd));
}

void SignalNamedEvent(const std::string& name) {
    Event e(name);
    e.Set();
}

}  // namespace plat
