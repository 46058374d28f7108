#include "bench_relay_posix.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "loopback_udp.h"
#include "platform/clock.h"
#include "tools/netxcp/netxcp_client.h"

const ByteString kQln{0x71, 0x6C, 0x6E, 0x00};

namespace {

std::string Bin(const std::string& name) { return std::string(QLN_BIN_DIR) + "/" + name; }

std::string SlavePath(ChildProcess& sim) {
    if (!sim.WaitForText(false, "/dev/pts/", 1, 10000)) return "";
    std::string out = sim.Out();
    size_t at = out.find("/dev/pts/");
    size_t end = out.find_first_not_of("0123456789", at + 9);
    return out.substr(at, end - at);
}

}  // namespace

double ThreadCpuSeconds(int pid) {
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) return 0;
    double total = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
        unsigned long long ns = 0;
        if (in >> ns) total += static_cast<double>(ns) / 1e9;
    }
    closedir(dir);
    return total;
}

long StatusKb(int pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

double TimedExchange(uint16_t port, const ByteString& datagram, uint32_t timeoutMs) {
    NetXcpClient client("127.0.0.1", port);
    ByteString answer;
    uint32_t start = plat::TickCount();
    client.Send(datagram);
    if (!client.Receive(answer, timeoutMs)) return -1;
    return static_cast<double>(plat::TickCount() - start);
}

BenchRelay::BenchRelay() {
    char dir[] = "/tmp/qln-bench-XXXXXX";
    if (mkdtemp(dir)) m_Dir = dir;
}

BenchRelay::~BenchRelay() {
    Stop();
    if (m_Dir.empty()) return;
    unlink((m_Dir + "/qln.ini").c_str());
    rmdir(m_Dir.c_str());
}

bool BenchRelay::Start(const std::string& extraIni) { return StartUps() && StartAgent(extraIni); }

bool BenchRelay::StartUps(const std::vector<std::string>& options) {
    if (m_Dir.empty() || !m_Sim.Start(Bin("upssim"), options)) {
        std::fprintf(stderr, "bench: cannot start upssim\n");
        return false;
    }
    m_Pty = SlavePath(m_Sim);
    if (m_Pty.empty()) {
        std::fprintf(stderr, "bench: upssim printed no pseudo-terminal\n");
        return false;
    }
    return true;
}

bool BenchRelay::StartAgent(const std::string& extraIni, const std::string& portName,
                            const std::vector<std::string>& command, uint32_t startMs) {
    m_nPort = FreeUdpPort();
    std::string ini = m_Dir + "/qln.ini";
    std::ofstream(ini) << "[Communications]\nCommunicationsPort="
                       << (portName.empty() ? m_Pty : portName)
                       << "\n[NetXCP]\nAgentPort=" << m_nPort << "\n"
                       << extraIni;
    if (command.empty()) {
        m_Agent.Start(Bin("qln"), {"daemon", "-c", ini});
    } else {
        std::vector<std::string> args(command.begin() + 1, command.end());
        args.insert(args.end(), {"daemon", "-c", ini});
        m_Agent.Start(command[0], args);
    }
    uint32_t start = plat::TickCount();
    bool relaying = false;
    while (!relaying && plat::TickCount() - start < startMs && m_Agent.Running()) {
        relaying = TimedExchange(m_nPort, XcpFrame(0x00), 1500) >= 0;
    }
    if (!relaying) {
        std::fprintf(stderr, "bench: the agent does not relay:\n%s", m_Agent.Err().c_str());
        return false;
    }
    return true;
}

void BenchRelay::Stop() {
    m_Agent.Stop();
    m_Sim.Stop();
}
