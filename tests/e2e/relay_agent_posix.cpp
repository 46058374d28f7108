#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "agent/socket.h"
#include "platform/clock.h"
#include "relay_agent.h"

const ByteString kQlnAnswer{0x71, 0x6C, 0x6E, 0x00};

bool IsIdentification(const ByteString& reply) {
    return reply.size() >= 5 && reply[0] == 0xAB && reply[1] == 0x01;
}

ByteString Cat(std::initializer_list<ByteString> parts) {
    ByteString all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::string IniText(const IniSections& sections) {
    std::string text;
    for (const auto& [section, keys] : sections) {
        text += "[" + section + "]\n";
        for (const auto& [key, value] : keys) text += key + "=" + value + "\n";
    }
    return text;
}

RelayAgent::RelayAgent(const std::string& serialPort, IniSections extra,
                       const std::vector<std::string>& command, const std::vector<std::string>& env,
                       bool daemon, const std::string& instance)
    : m_nPort(FreeUdpPort()) {
    extra["Communications"].emplace("CommunicationsPort", serialPort);
    extra["NetXCP"].emplace("AgentPort", std::to_string(m_nPort));
    m_IniPath = m_Dir.Write(instance.empty() ? "qln.ini" : instance + ".ini", IniText(extra));
    std::string program = command.empty() ? BinPath("qln") : command[0];
    std::vector<std::string> args;
    if (!command.empty()) args.assign(command.begin() + 1, command.end());
    if (daemon) args.push_back("daemon");
    if (!instance.empty()) args.insert(args.end(), {"-n", instance});
    args.push_back("-c");
    // Under Wine the INI path goes through drive Z:, the host's root.
    m_IniArgument = command.empty() ? m_IniPath : "Z:" + m_IniPath;
    args.push_back(m_IniArgument);
    m_Process.Start(program, args, env);
}

RelayAgent::~RelayAgent() { m_Process.Stop(); }

// Every exchange uses a socket of its own, so that a late answer to an
// earlier datagram can never be taken for the answer to this one.
ByteString RelayAgent::Exchange(const ByteString& datagram, uint32_t ms) {
    NetXcpClient client("127.0.0.1", m_nPort);
    ByteString answer;
    client.Send(datagram);
    client.Receive(answer, ms);
    return answer;
}

bool RelayAgent::WaitUntilRelaying(uint32_t ms) {
    uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < ms) {
        if (!m_Process.Running()) return false;
        // Long enough for a pass to take the datagram, so that no backlog
        // builds up while the agent drops requests.
        if (Exchange(XcpFrame(0x00), 1500) == kQlnAnswer) return true;
    }
    return false;
}

bool RelayAgent::Unanswered(const ByteString& datagram, ByteString& answer, uint32_t ms) {
    NetXcpClient client("127.0.0.1", m_nPort);
    client.Send(datagram);
    client.Send(kProbe);
    answer.clear();
    if (!client.Receive(answer, ms)) return false;
    return IsProbeAnswer(answer);
}

// The relay answers requests of its own identification alone before those
// with frames for the UPS; a frame for the UPS behind it makes the probe wait
// its turn behind whatever its sender asked before.
const ByteString kProbe = Cat({XcpFrame(0x00), XcpFrame(0x30)});

bool IsProbeAnswer(const ByteString& answer) {
    return answer.size() >= kQlnAnswer.size() &&
           std::equal(kQlnAnswer.begin(), kQlnAnswer.end(), answer.begin());
}
