#include "upslink/serial_link.h"

#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "platform/errors.h"
#include "upslink/link_error.h"
#include "upslink/pnp_identity.h"
#include "upslink/serial_port.h"
#include "upslink/wire_trace.h"

namespace {

// A line that never stops talking would hold a drain for good; past this
// much beyond its own time the drain gives up and leaves the rest.
constexpr uint32_t kDrainOverrunMs = 2000;

[[noreturn]] void Fail(uint32_t id) { throw new UpsLinkError(id); }

}  // namespace

// The tick count wraps every 49.7 days; comparing the plain values would end
// a wait set just before the wrap at once, or never end one that spans it.
bool DeadlineExpired(uint32_t deadline, uint32_t now) {
    return static_cast<int32_t>(now - deadline) > 0;
}

SerialLink::SerialLink(const std::string& portName, uint32_t baud, uint32_t dataBits,
                       uint32_t parityIndex, uint32_t stopIndex)
    : m_PortName(portName),
      m_nBaud(baud),
      m_nDataBits(dataBits),
      m_nParity(parityIndex),
      m_nStop(stopIndex),
      m_hPort(InvalidPort()) {}

SerialLink::~SerialLink() { Close(); }

bool SerialLink::GetModemLine(int pin) { return ::GetModemLine(m_hPort, pin); }

void SerialLink::SetControlLine(int pin, bool on) {
    TraceNote([&] {
        return std::string(pin == kPinDtr   ? "DTR"
                           : pin == kPinRts ? "RTS"
                                            : "pin " + std::to_string(pin)) +
               (on ? " on" : " off");
    });
    (void)::SetControlLine(m_hPort, pin, on);
}

bool SerialLink::IsOpen() const { return m_hPort != InvalidPort(); }

void SerialLink::Open() {
    if (m_PortName.empty()) Fail(plat::kErrInvalidParameter);
    Close();
    PortHandle port = OpenNamedPort();
    if (port == InvalidPort()) Fail(plat::LastError());
    m_hPort = port;
    m_nFailure = 0;
    TraceNote([&] { return "open " + m_PortName; });
    ApplySettings();
}

// The reason is kept for the agent's report; what each caller throws stays
// its own (Open the reason itself, the enumeration an invalid handle).
PortHandle SerialLink::OpenNamedPort() {
    PortHandle port = OpenPort(m_PortName.c_str());
    m_nOpenFailure = 0;
    if (port == InvalidPort()) {
        m_nOpenFailure = plat::LastError();
        if (m_nOpenFailure == 0) m_nOpenFailure = plat::kErrInvalidHandle;
    }
    return port;
}

void SerialLink::Close() {
    if (!IsOpen()) return;
    TraceNote([] { return std::string("close"); });
    ClosePort(m_hPort);
    m_hPort = InvalidPort();
    m_nFailure = 0;
}

void SerialLink::SetBaud(uint32_t baud) {
    m_nBaud = baud;
    if (IsOpen()) ApplySettings();
}

void SerialLink::SetFormat(uint32_t dataBits, uint32_t parityIndex, uint32_t stopIndex) {
    m_nDataBits = dataBits;
    m_nParity = parityIndex;
    m_nStop = stopIndex;
    if (IsOpen()) ApplySettings();
}

void SerialLink::ApplySettings() {
    // A replay answers at the speed and format the line had when it was recorded.
    TraceNote([&] { return "line " + BuildModeString(m_nBaud, m_nDataBits, m_nParity, m_nStop); });
    if (!IsOpen() || !ConfigurePort(m_hPort, m_nBaud, m_nDataBits, m_nParity, m_nStop))
        Fail(plat::kErrInvalidHandle);
}

void SerialLink::Read(void* buffer, uint32_t count, uint32_t& got) {
    got = 0;
    if (m_PortName.empty()) return;
    if (!IsOpen()) Fail(plat::kErrInvalidHandle);
    bool read = ReadPort(m_hPort, buffer, count, got);
    TraceBytes(TraceDirection::FromUps, buffer, got);
    if (!read) FailTransfer();
}

void SerialLink::Write(const void* buffer, uint32_t count, uint32_t& written) {
    written = 0;
    if (m_PortName.empty()) return;
    if (!IsOpen()) Fail(plat::kErrInvalidHandle);
    bool wrote = WritePort(m_hPort, buffer, count, written);
    TraceBytes(TraceDirection::ToUps, buffer, written);
    if (!wrote) FailTransfer();
}

void SerialLink::FailTransfer() {
    m_nFailure = plat::LastError();
    if (m_nFailure == 0) m_nFailure = plat::kErrInvalidHandle;
    Fail(m_nFailure);
}

void SerialLink::CheckPort() {
    if (m_PortName.empty()) return;
    if (!IsOpen()) Fail(plat::kErrInvalidHandle);
    if (m_nFailure != 0) Fail(m_nFailure);
    if (!PortPresent(m_hPort)) FailTransfer();
}

uint32_t SerialLink::ReadRaw(void* buffer, uint32_t count) {
    if (!IsOpen()) Fail(plat::kErrInvalidHandle);
    uint32_t got = ReadAvailable(m_hPort, buffer, count);
    TraceBytes(TraceDirection::FromUps, buffer, got);
    return got;
}

uint32_t SerialLink::ReadPaced(void* buffer, uint32_t count, uint32_t pauseMs) {
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    plat::SleepMs(pauseMs / 10);
    uint32_t got = ReadRaw(bytes, count);
    uint32_t total = got;
    for (;;) {
        if (total < count) plat::SleepMs(pauseMs);
        if (total >= count || got == 0) break;
        got = ReadRaw(bytes + total, count - total);
        total += got;
    }
    return total;
}

bool SerialLink::PortAvailable() const {
    return !m_PortName.empty() && PortNamePresent(m_PortName);
}

bool SerialLink::WaitReadable(uint32_t ms) {
    if (!IsOpen()) {
        plat::SleepMs(ms);
        return false;
    }
    return ::WaitReadable(m_hPort, ms);
}

void SerialLink::SetDeadline(uint32_t ms) { m_nDeadline = plat::TickCount() + ms; }

bool SerialLink::DeadlinePassed() const { return DeadlineExpired(m_nDeadline, plat::TickCount()); }

uint32_t SerialLink::DeadlineRemaining() const {
    uint32_t now = plat::TickCount();
    if (DeadlineExpired(m_nDeadline, now)) return 0;
    return m_nDeadline - now;
}

void SerialLink::Drain(uint32_t ms) {
    uint32_t start = plat::TickCount();
    SetDeadline(ms);
    unsigned char scratch[1000];
    for (;;) {
        uint32_t got = 0;
        Read(scratch, sizeof scratch, got);
        if (plat::TickCount() - start >= ms + kDrainOverrunMs) return;
        if (got != 0) continue;
        if (DeadlinePassed()) return;
        // Block until more input or the deadline rather than spin on reads
        // that return at once.
        WaitReadable(DeadlineRemaining() + 1);
    }
}

void SerialLink::EnumeratePnp() {
    const uint32_t dataBits = m_nDataBits;
    const uint32_t parity = m_nParity;
    const uint32_t stop = m_nStop;
    try {
        SetBaud(1200);
        SetFormat(7, 2, 0);
        if (m_PortName.empty()) Fail(plat::kErrInvalidHandle);
        Close();
        PortHandle port = OpenNamedPort();
        if (port == InvalidPort()) Fail(plat::kErrInvalidHandle);
        m_hPort = port;
        TraceNote([&] { return "open " + m_PortName + " for Plug and Play"; });
        ApplySettings();

        // The Plug and Play handshake: the device answers this dance of DTR
        // and RTS with its identification string.
        SetControlLine(kPinRts, false);
        SetControlLine(kPinDtr, true);
        SetControlLine(kPinRts, false);
        plat::SleepMs(200);
        SetControlLine(kPinDtr, false);
        plat::SleepMs(200);
        SetControlLine(kPinDtr, true);
        plat::SleepMs(200);
        SetControlLine(kPinRts, true);
        plat::SleepMs(200);
        SetControlLine(kPinRts, false);
        SetControlLine(kPinDtr, false);
        plat::SleepMs(200);
        SetControlLine(kPinRts, true);
        SetControlLine(kPinDtr, true);
        plat::SleepMs(400);

        ReadPnpIdentity();
        // Back to the wanted format at 1200 baud, configured once: some ports
        // (a pseudo-terminal under Wine) take 7 data bits only once.
        m_nBaud = 1200;
        SetFormat(dataBits, parity, stop);
    } catch (...) {
        Close();
        try {
            SetBaud(1200);
            SetFormat(dataBits, parity, stop);
        } catch (UpsLinkError* e) {
            delete e;
        }
        throw;
    }
}

void SerialLink::ReadPnpIdentity() {
    std::memset(&m_Pnp, 0, sizeof m_Pnp);
    uint8_t buffer[150];
    uint32_t held = 0;
    for (;;) {
        uint32_t got = ReadPaced(buffer + held, sizeof buffer - held, 200);
        held += got;
        if (got == 0 || held >= sizeof buffer) break;
    }
    ParsePnpIdentity(buffer, held, m_Pnp);
}
