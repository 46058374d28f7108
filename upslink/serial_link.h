// SerialLink: the agent's one serial link to the UPS, with the read deadline
// that the link and the XCP engine on it share.
#pragma once
#include <cstdint>
#include <string>

struct PnpCompatibleDevice {
    char manufacturer[3];
    uint16_t product;
};

// What the link keeps of a serial Plug and Play identification string.
struct PnpIdentity {
    uint16_t revision;
    char manufacturer[3];
    uint16_t product;
    uint32_t serialNumber;
    char className[34];
    PnpCompatibleDevice compatible[5];
    char userName[41];
    uint8_t checksum;
};

// Whether `deadline` lies behind `now` on the wrapping 32-bit tick count.
bool DeadlineExpired(uint32_t deadline, uint32_t now);

class SerialLink {
public:
    SerialLink(const std::string& portName, uint32_t baud, uint32_t dataBits, uint32_t parityIndex,
               uint32_t stopIndex);
    virtual ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // A DE-9 pin's state; a line the port cannot report reads as off.
    virtual bool GetModemLine(int pin);
    // DTR or RTS only; a failure is ignored (the handshake just gets no answer).
    virtual void SetControlLine(int pin, bool on);

    bool IsOpen() const;
    // (Re)opens the port and applies the line settings. Failures throw a new
    // UpsLinkError (upslink/link_error.h) carrying the system's code.
    void Open();
    void Close();
    // Kept for the next open; applied at once when the port is open.
    void SetBaud(uint32_t baud);
    void SetFormat(uint32_t dataBits, uint32_t parityIndex, uint32_t stopIndex);
    // Throws when the port is closed or refuses the settings.
    void ApplySettings();
    // Returns at once with what has arrived (`got` may be 0); throws on a
    // closed port or a failed read. No port name: reads nothing, no error.
    void Read(void* buffer, uint32_t count, uint32_t& got);
    // Blocks until all is written; throws as Read does.
    void Write(const void* buffer, uint32_t count, uint32_t& written);
    // What has arrived; a failed read gives 0 instead of throwing.
    uint32_t ReadRaw(void* buffer, uint32_t count);
    // Up to `count` bytes, sleeping `pauseMs` between reads until a read
    // brings nothing; blocks for at least one pause when short.
    uint32_t ReadPaced(void* buffer, uint32_t count, uint32_t pauseMs);
    // Discards input for `ms`; resets the link's deadline.
    void Drain(uint32_t ms);
    // Reopens the port at 1200 baud 7N1, runs the Plug and Play handshake on
    // DTR and RTS (about 1.4 s) and reads the identity; the format is restored.
    void EnumeratePnp();
    // Reads whatever the device sends until it stops, then parses it.
    void ReadPnpIdentity();
    // Throws, as a failed transfer does, when the port can no longer be used:
    // it is closed, a read or write failed since it was opened, or the
    // platform reports it hung up or gone. A link without a port name has
    // nothing to fail and passes.
    void CheckPort();
    // A cheap look whether a port of the link's name exists now (opens
    // nothing, sends nothing); false without a name.
    bool PortAvailable() const;
    // Blocks until input may be waiting on the open port, or `ms` have passed.
    bool WaitReadable(uint32_t ms);

    // The link's one deadline, `ms` from now: setting it replaces the one
    // before. Its reads and the engine's answer reads count against it.
    void SetDeadline(uint32_t ms);
    bool DeadlinePassed() const;
    // Milliseconds left until the deadline, 0 once it has passed.
    uint32_t DeadlineRemaining() const;

    // The system code of the last attempt to open the port when it failed; 0
    // once an open succeeds. Closing the port leaves it as it is.
    uint32_t OpenFailure() const { return m_nOpenFailure; }

    uint32_t GetBaud() const { return m_nBaud; }
    const std::string& GetPortName() const { return m_PortName; }
    const PnpIdentity& GetPnpIdentity() const { return m_Pnp; }

private:
    // Records the system error of a failed transfer and throws it.
    [[noreturn]] void FailTransfer();
    // Opens the port by name; on failure records the system's reason.
    void* OpenNamedPort();

    std::string m_PortName;
    uint32_t m_nBaud;
    uint32_t m_nDataBits;
    uint32_t m_nParity;
    uint32_t m_nStop;
    PnpIdentity m_Pnp{};
    void* m_hPort;                // the port layer's handle; invalid when closed
    uint32_t m_nFailure = 0;      // system code of a failed read or write since the port opened
    uint32_t m_nOpenFailure = 0;  // system code of the last open, when it failed
    uint32_t m_nDeadline = 0;     // tick count; see SetDeadline
};
