// SerialLink: the agent's one serial link to the UPS, with the process-wide
// deadline timer that the link and the XCP engine share.
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

// Process-wide deadline in milliseconds (one for the whole agent).
void SetDeadline(uint32_t ms);
bool DeadlinePassed();
// Milliseconds left until the deadline, 0 once it has passed.
uint32_t DeadlineRemaining();
// Whether `deadline` lies behind `now` on the wrapping 32-bit tick count.
bool DeadlineExpired(uint32_t deadline, uint32_t now);

class SerialLink {
public:
    SerialLink(const std::string& portName, uint32_t baud, uint32_t dataBits, uint32_t parityIndex,
               uint32_t stopIndex);
    virtual ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    virtual bool GetModemLine(int pin);
    virtual void SetControlLine(int pin, bool on);

    bool IsOpen() const;
    void Open();
    void Close();
    void SetBaud(uint32_t baud);
    void SetFormat(uint32_t dataBits, uint32_t parityIndex, uint32_t stopIndex);
    void ApplySettings();
    void Read(void* buffer, uint32_t count, uint32_t& got);
    void Write(const void* buffer, uint32_t count, uint32_t& written);
    uint32_t ReadRaw(void* buffer, uint32_t count);
    uint32_t ReadPaced(void* buffer, uint32_t count, uint32_t pauseMs);
    void Drain(uint32_t ms);
    void EnumeratePnp();
    void ReadPnpIdentity();
    // Throws, as a failed transfer does, when the port can no longer be used:
    // it is closed, a read or write failed since it was opened, or the
    // platform reports it hung up or gone. A link without a port name has
    // nothing to fail and passes.
    void CheckPort();
    // Blocks until input may be waiting on the open port, or `ms` have passed.
    bool WaitReadable(uint32_t ms);

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
};
