// POSIX events are pipes: a pending byte is the signalled state, so that
// waits block in poll() and a wait on several events is one poll. A named
// event is a FIFO in a folder of the account's own; like a Win32 named event,
// its signal lives only while some process holds it open.
//
// The folder and the FIFOs are the agent's control channel: a byte in
// "UPS_Found" makes a service ready, one in "UPS_Find_Failed" stops it. So
// nobody but the account itself may read, write, create or replace anything
// there: the folder is opened without following a link and must belong to the
// account with no access for group or others, the FIFOs are made 0600 under
// that one descriptor and opened without following a link and without taking
// a terminal, and each is checked again once it is open.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/scoped_handle.h"

namespace plat {

namespace {

// Tries at a named event when its folder or FIFO vanished half way: another
// event of the account removed what it had made just then.
const int kNamedEventTries = 5;

std::string Getenv(const char* name) {
    const char* value = ::getenv(name);
    return value ? value : "";
}

// A path as given, less the slashes at its end: "dir/" would follow a link
// that "dir" names.
std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// A folder of the account's own, as lstat sees it: a parent that the agent may
// make its own folder in.
bool IsOwnFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The folder of the account's named events. $QLN_EVENT_DIR overrides it (the
// tests' own folders); systemd hands a service its runtime folder in
// $RUNTIME_DIRECTORY (the first, when the unit names several); a login
// session has $XDG_RUNTIME_DIR. Without these root takes a folder under /run,
// where no other account can make one first; other accounts take one under
// /run/user/<uid> when that is theirs, else under /tmp.
// `given` is false for the folders the events make for themselves: those go
// again with the last FIFO in them.
std::string EventFolder(bool& given) {
    given = true;
    std::string dir = Getenv("QLN_EVENT_DIR");
    if (!dir.empty()) return WithoutTrailingSlashes(dir);
    dir = Getenv("RUNTIME_DIRECTORY");
    if (!dir.empty()) return WithoutTrailingSlashes(dir.substr(0, dir.find(':')));
    given = false;
    dir = Getenv("XDG_RUNTIME_DIR");
    if (!dir.empty() && dir[0] == '/' && IsOwnFolder(dir))
        return WithoutTrailingSlashes(dir) + "/qln";
    uid_t uid = ::geteuid();
    if (uid == 0 && IsOwnFolder("/run")) return "/run/qln-events";
    std::string user = "/run/user/" + std::to_string(uid);
    if (IsOwnFolder(user)) return user + "/qln";
    return "/tmp/qln-" + std::to_string(uid);
}

}  // namespace

std::string NamedEventFolder() {
    bool given = false;
    return EventFolder(given);
}

namespace {

// The FIFO's name for an event's name: no folder separators, no hidden or
// relative names.
std::string FifoName(const std::string& name) {
    std::string file;
    for (char c : name) file += (c == '/' || c == ' ') ? '_' : c;
    if (file.empty() || file[0] == '.') file.insert(0, 1, '_');
    return file;
}

// Owned by this account and closed to everyone else.
bool IsPrivate(const struct stat& st) {
    return st.st_uid == ::geteuid() && (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace

// Here, beside the events' own check of their folder, so that the two never
// disagree (declared in platform/agent_folder.h).
bool IsPrivateFolder(const std::string& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && IsPrivate(st);
}

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

struct Event::Impl {
    ScopedFd readFd;
    // An unnamed event's pipe has a write end of its own; a named event reads
    // and writes its FIFO through readFd.
    ScopedFd writeFd;
    // Named events: the folder's descriptor, and what this event made there.
    ScopedFd dirFd;
    std::string dir;
    std::string file;
    std::string path;
    bool madeFifo = false;
    bool madeDir = false;
    bool folderGiven = true;
    EventFault fault = EventFault::kNone;
    std::string faultPath;
    uint32_t faultError = 0;

    void Fail(EventFault why, const std::string& where, int error) {
        fault = why;
        faultPath = where;
        faultError = static_cast<uint32_t>(error);
    }
    // One try at the folder and the FIFO; false when either vanished under it
    // and the try is worth repeating.
    bool TryNamed();
    void OpenFolder();
    void OpenFifo();
    void Close();
    void RemoveWhatWasMade();
    int WriteEnd() const { return writeFd ? writeFd.Get() : readFd.Get(); }
};

void Event::Impl::OpenFolder() {
    if (::mkdir(dir.c_str(), 0700) == 0) {
        madeDir = true;
    } else if (errno != EEXIST) {
        Fail(EventFault::kUnusable, dir, errno);
        return;
    }
    dirFd.Reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (!dirFd) {
        // A link, or a file, where the folder should be.
        if (errno == ELOOP || errno == ENOTDIR) {
            Fail(EventFault::kRefused, dir, errno);
        } else {
            Fail(EventFault::kUnusable, dir, errno);
        }
        return;
    }
    struct stat st {};
    if (::fstat(dirFd.Get(), &st) != 0) {
        Fail(EventFault::kUnusable, dir, errno);
    } else if (!S_ISDIR(st.st_mode) || !IsPrivate(st)) {
        Fail(EventFault::kRefused, dir, EACCES);
    }
}

void Event::Impl::OpenFifo() {
    if (::mkfifoat(dirFd.Get(), file.c_str(), 0600) == 0) {
        madeFifo = true;
    } else if (errno != EEXIST) {
        Fail(EventFault::kUnusable, dir, errno);
        return;
    }
    // O_RDWR keeps the FIFO open without a peer and never blocks the open.
    readFd.Reset(::openat(dirFd.Get(), file.c_str(),
                          O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
    if (!readFd) {
        // A link, a socket, a folder, or something of another account's.
        if (errno == ELOOP || errno == ENXIO || errno == EISDIR || errno == EACCES ||
            errno == EPERM) {
            Fail(EventFault::kRefused, path, errno);
        } else {
            Fail(EventFault::kUnusable, dir, errno);
        }
        return;
    }
    struct stat st {};
    if (::fstat(readFd.Get(), &st) != 0) {
        Fail(EventFault::kUnusable, dir, errno);
    } else if (!S_ISFIFO(st.st_mode) || !IsPrivate(st)) {
        Fail(EventFault::kRefused, path, EACCES);
    }
}

bool Event::Impl::TryNamed() {
    OpenFolder();
    if (fault == EventFault::kNone) OpenFifo();
    if (fault == EventFault::kNone) return true;
    // Nothing of a failed try stays open, and nothing it made stays behind.
    RemoveWhatWasMade();
    Close();
    return !(fault == EventFault::kUnusable && faultError == ENOENT);
}

// Removes the FIFO this event made, if it is still the one it made, and then
// the folder when this event made it or the events make it for themselves; a
// folder that still holds events stays. Another event that is just opening
// the folder then finds it gone and tries again.
void Event::Impl::RemoveWhatWasMade() {
    struct stat mine {
    }, there{};
    bool removed = false;
    if (madeFifo && !readFd && dirFd) {
        // Made just now but not opened: in a folder of the account's alone,
        // nobody else can have put another file under that name.
        removed = ::unlinkat(dirFd.Get(), file.c_str(), 0) == 0;
    } else if (madeFifo && readFd && ::fstat(readFd.Get(), &mine) == 0 &&
               ::fstatat(dirFd.Get(), file.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
               SameFile(mine, there)) {
        removed = ::unlinkat(dirFd.Get(), file.c_str(), 0) == 0;
    }
    if ((madeDir || (removed && !folderGiven)) && dirFd && ::fstat(dirFd.Get(), &mine) == 0 &&
        ::lstat(dir.c_str(), &there) == 0 && SameFile(mine, there)) {
        ::rmdir(dir.c_str());
    }
    madeFifo = false;
    madeDir = false;
}

void Event::Impl::Close() {
    readFd.Reset();
    writeFd.Reset();
    dirFd.Reset();
}

Event::Event() : m_pImpl(new Impl) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        m_pImpl->readFd.Reset(fds[0]);
        m_pImpl->writeFd.Reset(fds[1]);
    } else {
        m_pImpl->Fail(EventFault::kUnusable, "", errno);
    }
}

Event::Event(const std::string& name) : m_pImpl(new Impl) {
    Impl& e = *m_pImpl;
    e.dir = EventFolder(e.folderGiven);
    e.file = FifoName(name);
    e.path = e.dir + "/" + e.file;
    for (int i = 0; i < kNamedEventTries; ++i) {
        e.fault = EventFault::kNone;
        if (e.TryNamed()) break;
    }
    if (e.fault != EventFault::kNone) errno = static_cast<int>(e.faultError);
}

Event::~Event() {
    m_pImpl->RemoveWhatWasMade();
    m_pImpl->Close();
}

bool Event::IsValid() const { return static_cast<bool>(m_pImpl->readFd); }

EventFault Event::Fault() const { return m_pImpl->fault; }

const std::string& Event::FaultPath() const { return m_pImpl->faultPath; }

uint32_t Event::FaultError() const { return m_pImpl->faultError; }

const std::string& Event::Path() const { return m_pImpl->path; }

void Event::Set() {
    if (m_pImpl->WriteEnd() < 0) return;
    pollfd p{m_pImpl->readFd.Get(), POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) return;  // already signalled
    char one = 1;
    ssize_t ignored = ::write(m_pImpl->WriteEnd(), &one, 1);
    (void)ignored;
}

bool Event::TryConsume() {
    if (!m_pImpl->readFd) return false;
    char scratch[64];
    bool consumed = false;
    ssize_t n;
    while ((n = ::read(m_pImpl->readFd.Get(), scratch, sizeof scratch)) > 0) consumed = true;
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
            fds[static_cast<size_t>(i)] = pollfd{events[i]->m_pImpl->readFd.Get(), POLLIN, 0};
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
    return reinterpret_cast<void*>(static_cast<intptr_t>(m_pImpl->readFd.Get()));
}

bool SignalNamedEvent(const std::string& name) {
    Event e(name);
    e.Set();
    return e.IsValid();
}

}  // namespace plat
