// A qln process for the end-to-end tests: its INI file, its NetXCP port and
// a client that talks to it.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "loopback_udp.h"
#include "scratch_dir.h"
#include "tools/netxcp/netxcp_client.h"
#include "tools/netxcp/netxcp_request.h"

// INI text from section -> (key -> value).
using IniSections = std::map<std::string, std::map<std::string, std::string>>;
std::string IniText(const IniSections& sections);

class RelayAgent {
public:
    // Writes the INI (port name and a free agent port added) and starts
    // `qln daemon -c <ini>`. `command` runs the program (wine for qln.exe).
    // `env` adds to its environment; without `daemon` it runs as a service
    // would (on Linux: under the service manager that NOTIFY_SOCKET names).
    // `instance` names it with "-n" and its INI file NAME.ini.
    RelayAgent(const std::string& serialPort, IniSections extra = {},
               const std::vector<std::string>& command = {},
               const std::vector<std::string>& env = {}, bool daemon = true,
               const std::string& instance = "");
    ~RelayAgent();

    uint16_t Port() const { return m_nPort; }
    ChildProcess& Process() { return m_Process; }
    const std::string& IniPath() const { return m_IniPath; }
    // The INI path as the agent was given it (through drive Z: under Wine).
    const std::string& IniArgument() const { return m_IniArgument; }

    // Sends `datagram` and waits up to `ms` for the answer; empty when none.
    ByteString Exchange(const ByteString& datagram, uint32_t ms);
    // Waits (bounded) until the agent relays: a relay identification sent
    // every half second is answered. Only a device that identified answers.
    bool WaitUntilRelaying(uint32_t ms);
    // Sends `datagram`, then kProbe: true when the first answer is the
    // probe's, that is, `datagram` went unanswered. The first answer
    // otherwise lands in `answer`.
    bool Unanswered(const ByteString& datagram, ByteString& answer, uint32_t ms = 20000);

private:
    ScratchDir m_Dir{"e2e"};
    uint16_t m_nPort;
    std::string m_IniPath;
    std::string m_IniArgument;
    ChildProcess m_Process;
};

extern const ByteString kQlnAnswer;
// A request served in its sender's turn after everything the sender asked
// before (a relay identification with a frame for the UPS behind it), and
// whether `answer` is its answer (the relay's identification first).
extern const ByteString kProbe;
bool IsProbeAnswer(const ByteString& answer);

// Whether `reply` starts with the UPS's identification (answer block 1).
bool IsIdentification(const ByteString& reply);

// The parts one after another, as one datagram.
ByteString Cat(std::initializer_list<ByteString> parts);
