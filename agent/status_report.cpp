#include "agent/status_report.h"

#include <ctime>

#include "agent/file_refusal.h"
#include "agent/qln_exception.h"
#include "agent/service_host.h"
#include "platform/agent_folder.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file_guard.h"
#include "platform/file_replace.h"
#include "platform/scoped_handle.h"

namespace {

constexpr uint32_t kWriteEveryMs = 1000;
constexpr uint32_t kFileRefused = 0x800201C1u;  // file, reason

}  // namespace

bool ReplaceFileText(const std::string& path, const std::string& text, plat::FileRefusal& why) {
    why = plat::CheckWritePlace(path);
    if (why != plat::FileRefusal::kNone) return false;
    why = plat::FileRefusal::kSystem;
    // A link at the path is replaced with the file, never written through.
    std::string tempPath;
    plat::ScopedFile out(
        plat::CreateTempFileBeside(path, tempPath, plat::FileMode::Binary, plat::AtLink::kReplace));
    if (!out) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), out.Get()) == text.size() &&
              plat::FlushToDisk(out.Get());
    ok = std::fclose(out.Release()) == 0 && ok;
    ok = ok && plat::ReplaceFileWith(tempPath, path, plat::AtLink::kReplace);
    if (!ok) plat::DeleteFileAt(tempPath);
    if (ok) why = plat::FileRefusal::kNone;
    return ok;
}

// A refused file is said once, in words, until it is written again; a
// passing failure of the system (a full disk) is tried again in silence.
bool StatusReporter::Replace(const std::string& path, const std::string& text, bool& refused) {
    plat::FileRefusal why;
    const bool ok = ReplaceFileText(path, text, why);
    const bool refusal = why != plat::FileRefusal::kNone && why != plat::FileRefusal::kSystem;
    if (refusal && !refused) {
        CQLNException(kFileRefused, {path.c_str(), FileFailureReason(why, 0).c_str()}).Report();
    }
    refused = refusal;
    return ok;
}

StatusReporter::StatusReporter(const RelaySettings& settings)
    : m_StatusFile(settings.statusFile), m_PrometheusFile(settings.prometheusFile) {
    m_Status.processId = plat::CurrentProcessId();
    m_Status.agentPort = settings.access.port;
    m_Status.portName = settings.portName;
    m_Status.baud = settings.baud;
    m_Status.timing = settings.timing == XcpTiming::kPrompt ? "prompt" : "literal";
}

StatusReporter::~StatusReporter() {
    m_Status.state = RelayState::Stopped;
    Write();
}

void StatusReporter::Update(const NetXcpCounters& counters, bool now) {
    m_Status.counters = counters;
    uint32_t tick = plat::TickCount();
    if (!now && tick - m_nLastTick < kWriteEveryMs) return;
    m_nLastTick = tick;
    Write();
}

// A failed write is tried again at the next update; the relay goes on
// either way, as it does without a status file.
void StatusReporter::Write() {
    RelayStatus stamped = m_Status;
    stamped.updated = 0;
    std::string text = StatusFileText(stamped);
    if (text != m_Written) {
        m_Status.updated = static_cast<int64_t>(std::time(nullptr));
        if (!m_bFolderMade) m_bFolderMade = plat::MakeAgentRuntimeFolder(plat::FolderOf(m_StatusFile));
        if (Replace(m_StatusFile, StatusFileText(m_Status), m_bStatusRefused)) m_Written = text;
        if (!m_PrometheusFile.empty()) {
            Replace(m_PrometheusFile, PrometheusText(m_Status), m_bPrometheusRefused);
        }
    }
    std::string line = SystemdStatusLine(m_Status);
    if (line != m_Line) {
        m_Line = line;
        TellServiceManager(line);
    }
}
