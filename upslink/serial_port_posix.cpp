#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/scoped_handle.h"
#include "upslink/serial_port.h"

namespace {
int Fd(PortHandle port) { return static_cast<int>(reinterpret_cast<intptr_t>(port)); }

// A write that cannot go on for this long (the other end reads nothing)
// fails instead of blocking the worker for good.
constexpr int kWriteStallMs = 5000;

bool SpeedFor(uint32_t baud, speed_t& speed) {
    static const struct {
        uint32_t baud;
        speed_t speed;
    } kSpeeds[] = {{50, B50},         {75, B75},        {110, B110},     {134, B134},
                   {150, B150},       {200, B200},      {300, B300},     {600, B600},
                   {1200, B1200},     {1800, B1800},    {2400, B2400},   {4800, B4800},
                   {9600, B9600},     {19200, B19200},  {38400, B38400}, {57600, B57600},
                   {115200, B115200}, {230400, B230400}};
    for (const auto& s : kSpeeds) {
        if (s.baud == baud) {
            speed = s.speed;
            return true;
        }
    }
    return false;
}

bool SizeFor(uint32_t dataBits, tcflag_t& size) {
    switch (dataBits) {
        case 5:
            size = CS5;
            return true;
        case 6:
            size = CS6;
            return true;
        case 7:
            size = CS7;
            return true;
        case 8:
            size = CS8;
            return true;
        default:
            return false;
    }
}
// The C library reports a failure when the line did not take every setting.
// A pseudo-terminal keeps 8-bit characters whatever is asked, as a real port
// on Windows would not care either: everything else having taken counts as
// success.
bool TookAllButCharacterSize(int fd, const termios& wanted) {
    int reason = errno;
    termios now{};
    if (::tcgetattr(fd, &now) != 0) return false;
    const tcflag_t mask = ~static_cast<tcflag_t>(CSIZE);
    bool took = now.c_iflag == wanted.c_iflag && now.c_oflag == wanted.c_oflag &&
                now.c_lflag == wanted.c_lflag && (now.c_cflag & mask) == (wanted.c_cflag & mask) &&
                ::cfgetospeed(&now) == ::cfgetospeed(&wanted) && now.c_cc[VMIN] == 0 &&
                now.c_cc[VTIME] == 0;
    if (!took) errno = reason;
    return took;
}
}  // namespace

PortHandle OpenPort(const char* name) {
    std::string path = PortDevicePath(name);
    plat::ScopedFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return InvalidPort();
    // The port is the agent's alone. TIOCEXCL stops other openers (except
    // root); the advisory lock stops every cooperating program, root or not.
    // A port someone else holds fails like a missing one, with "busy".
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        int reason = (errno == EWOULDBLOCK) ? EBUSY : errno;
        fd.Reset();
        errno = reason;
        return InvalidPort();
    }
    (void)::ioctl(fd.Get(), TIOCEXCL);  // not a terminal: the configuration will say so
    // From here the serial link owns it, and gives it back to ClosePort.
    return reinterpret_cast<PortHandle>(static_cast<intptr_t>(fd.Release()));
}

void ClosePort(PortHandle port) {
    plat::ScopedFd fd(Fd(port));
    (void)::ioctl(fd.Get(), TIOCNXCL);
}

bool ConfigurePort(PortHandle port, uint32_t baud, uint32_t dataBits, uint32_t parityIndex,
                   uint32_t stopIndex) {
    termios tio{};
    if (::tcgetattr(Fd(port), &tio) != 0) return false;
    speed_t speed;
    tcflag_t size;
    if (!SpeedFor(baud, speed) || !SizeFor(dataBits, size)) {
        errno = EINVAL;
        return false;
    }
    // Raw bytes both ways: no line editing, echo, signals, flow control or
    // translation of CR and NL.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= size | CLOCAL | CREAD;
    switch (ParityLetter(parityIndex)) {
        case 'E':
            tio.c_cflag |= PARENB;
            break;
        case 'O':
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 'M':
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 'S':
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // 1.5 stop bits exist only with 5 data bits, where CSTOPB means 1.5.
    if (stopIndex == 1 || stopIndex == 2) tio.c_cflag |= CSTOPB;
    // Reads return at once with what has arrived, possibly nothing.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return false;
    if (::tcsetattr(Fd(port), TCSANOW, &tio) == 0) return true;
    return TookAllButCharacterSize(Fd(port), tio);
}

bool ReadPort(PortHandle port, void* buffer, uint32_t count, uint32_t& got) {
    got = 0;
    ssize_t n = ::read(Fd(port), buffer, count);
    if (n >= 0) {
        got = static_cast<uint32_t>(n);  // 0 also after a hang-up: nothing arrived
        return true;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

uint32_t ReadAvailable(PortHandle port, void* buffer, uint32_t count) {
    uint32_t got = 0;
    return ReadPort(port, buffer, count, got) ? got : 0;
}

bool WritePort(PortHandle port, const void* buffer, uint32_t count, uint32_t& written) {
    // The handle is non-blocking for the reads' sake; a write still delivers
    // everything, as a synchronous port does, waiting while the line is full.
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    written = 0;
    while (written < count) {
        ssize_t n = ::write(Fd(port), bytes + written, count - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd p{Fd(port), POLLOUT, 0};
        int r = ::poll(&p, 1, kWriteStallMs);
        if (r == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        if (r < 0 && errno != EINTR) return false;
    }
    return true;
}

bool GetModemLine(PortHandle port, int pin) {
    int bits = 0;
    // A line that cannot be read (a pseudo-terminal has none) is off.
    if (::ioctl(Fd(port), TIOCMGET, &bits) != 0) bits = 0;
    switch (pin) {
        case kPinDcd:
            return (bits & TIOCM_CAR) != 0;
        case kPinDsr:
            return (bits & TIOCM_DSR) != 0;
        case kPinCts:
            return (bits & TIOCM_CTS) != 0;
        case kPinRi:
            return (bits & TIOCM_RNG) != 0;
        default:
            return false;
    }
}

bool SetControlLine(PortHandle port, int pin, bool on) {
    int bits;
    switch (pin) {
        case kPinDtr:
            bits = TIOCM_DTR;
            break;
        case kPinRts:
            bits = TIOCM_RTS;
            break;
        default:
            return false;
    }
    return ::ioctl(Fd(port), on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool PortPresent(PortHandle port) {
    // A line that hung up (a pseudo-terminal whose other side closed, a USB
    // adapter pulled out) says so at once and for good; reads of it return
    // nothing, as on a quiet line, so only this tells the two apart.
    pollfd p{Fd(port), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return errno == EINTR;
    if ((p.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return false;
    }
    if ((p.revents & (POLLHUP | POLLERR)) != 0) {
        errno = EIO;
        return false;
    }
    return true;
}

bool PortNamePresent(const std::string& name) {
    // Through symbolic links: a name under /dev/serial/by-id whose adapter is
    // gone is a dangling link, which is no port.
    struct stat info {};
    if (::stat(PortDevicePath(name).c_str(), &info) == 0) return true;
    return errno != ENOENT && errno != ENOTDIR;
}

bool WaitReadable(PortHandle port, uint32_t ms) {
    uint32_t start = plat::TickCount();
    for (;;) {
        uint32_t spent = plat::TickCount() - start;
        if (spent > ms) spent = ms;
        pollfd p{Fd(port), POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(ms - spent));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) return (p.revents & POLLIN) != 0;
        // A hung-up line reports itself at once and for good; what it still
        // holds is worth reading, otherwise nothing will come before the time
        // is up, so sleep it away rather than spin on it.
        int waiting = 0;
        if (::ioctl(Fd(port), FIONREAD, &waiting) == 0 && waiting > 0) return true;
        spent = plat::TickCount() - start;
        if (spent < ms) plat::SleepMs(ms - spent);
        return false;
    }
}
