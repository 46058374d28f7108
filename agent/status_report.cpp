#include "agent/status_report.h"

#include <cerrno>
#include <ctime>

#include "agent/file_refusal.h"
#include "agent/qln_exception.h"
#include "agent/service_host.h"
#include "common/resources/message_ids.h"
#include "platform/agent_folder.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file_guard.h"
#include "platform/file_replace.h"
#include "platform/scoped_handle.h"

namespace {

constexpr uint32_t kWriteEveryMs = 1000;
constexpr uint32_t kSummaryEveryMs = 60000;

}  // namespace

bool ReplaceFileText(const std::string& path, const std::string& text, plat::FileRefusal& why) {
    why = plat::CheckWritePlace(path);
    if (why != plat::FileRefusal::kNone) return false;
    why = plat::FileRefusal::kSystem;
    // A link at the path is replaced with the file, never written through.
    if (!plat::WriteFileOver(path, text, plat::AtLink::kReplace)) return false;
    why = plat::FileRefusal::kNone;
    return true;
}

StatusReporter::StatusReporter(const RelaySettings& settings, const AgentService& service)
    : m_StatusFile(settings.statusFile), m_PrometheusFile(settings.prometheusFile) {
    m_Status.processId = plat::CurrentProcessId();
    m_Status.agentPort = settings.access.port;
    m_Status.portName = settings.portName;
    m_Status.instance = service.m_InstanceName;
    m_Status.iniFile = service.m_ConfigPath;
    m_Status.baud = settings.baud;
    m_Status.timing = settings.timing == XcpTiming::kPrompt ? "prompt" : "literal";
    m_bInRuntimeFolder = plat::FolderOf(m_StatusFile) == plat::AgentRuntimeFolder();
    m_bSummariseRelayRequests = service.m_bServiceMode;
    m_nLastSummary = plat::TickCount();
}

StatusReporter::~StatusReporter() {
    m_Status.state = RelayState::Stopped;
    Write();
}

void StatusReporter::Update(const NetXcpCounters& counters, bool now) {
    m_Status.counters = counters;
    uint32_t tick = plat::TickCount();
    SummariseRelayRequests(tick);
    if (!now && tick - m_nLastTick < kWriteEveryMs) return;
    m_nLastTick = tick;
    Write();
}

void StatusReporter::SummariseRelayRequests(uint32_t tick) {
    if (!m_bSummariseRelayRequests || tick - m_nLastSummary < kSummaryEveryMs) return;
    m_nLastSummary = tick;
    uint64_t count = m_Status.counters.relayRequests;
    if (count == m_nRelayRequestsTold) return;
    std::string told = std::to_string(count - m_nRelayRequestsTold);
    m_nRelayRequestsTold = count;
    CQLNException(MSG_RELAY_REQUESTS_SUMMARY, {told.c_str()}).Report();
}

// Writes one file. The first failure of a run of failures is reported: a
// refusal (a link, a folder open to other accounts) in the words of its rule,
// anything else with the system's reason.
bool StatusReporter::WriteFile(const std::string& path, const std::string& text, uint32_t failureId,
                               bool& reported) {
    plat::SetLastError(0);
    plat::FileRefusal why;
    if (ReplaceFileText(path, text, why)) {
        reported = false;
        return true;
    }
    if (!reported) {
        if (why != plat::FileRefusal::kSystem) {
            CQLNException(MSG_FILE_REFUSED, {path.c_str(), FileFailureReason(why, 0).c_str()})
                .Report();
        } else {
            uint32_t error = plat::LastError();
            std::string reason = plat::SystemReason(error ? error : static_cast<uint32_t>(EIO));
            CQLNException(failureId, {path.c_str(), reason.c_str()}).Report();
        }
        reported = true;
    }
    return false;
}

// A failed write is tried again at the next update, and reported once until
// a write succeeds; the relay goes on either way, as it does without a
// status file.
void StatusReporter::Write() {
    RelayStatus stamped = m_Status;
    stamped.updated = 0;
    std::string text = StatusFileText(stamped);
    if (text != m_Written) {
        m_Status.updated = static_cast<int64_t>(std::time(nullptr));
        std::string folder = plat::FolderOf(m_StatusFile);
        if (!m_bFolderMade) m_bFolderMade = plat::MakeAgentRuntimeFolder(folder);
        // The default file goes only into the folder the named events trust:
        // one that another account made first is not written through.
        bool own = !m_bInRuntimeFolder || plat::IsPrivateFolder(folder);
        if (!own && !m_bFolderReported) {
            CQLNException(MSG_STATUS_FOLDER_NOT_OWN, {m_StatusFile.c_str()}).Report();
        }
        m_bFolderReported = !own;
        if (own && WriteFile(m_StatusFile, StatusFileText(m_Status), MSG_STATUS_FILE_UNWRITABLE,
                             m_bStatusReported)) {
            m_Written = text;
        }
        if (!m_PrometheusFile.empty()) {
            WriteFile(m_PrometheusFile, PrometheusText(m_Status), MSG_PROMETHEUS_FILE_UNWRITABLE,
                      m_bPrometheusReported);
        }
    }
    std::string line = SystemdStatusLine(m_Status);
    if (line != m_Line && TellServiceManager(line)) m_Line = line;
}
