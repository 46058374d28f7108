// StatusReporter: the worker's side of the status report. It keeps the
// RelayStatus and passes it on: the status file (and the Prometheus file when
// one is configured), replaced as a whole, and the systemd status line. Each
// is written when the state changes and otherwise at most once a second, and
// only when what it says has changed, so an idle relay writes nothing.
#pragma once
#include <cstdint>
#include <string>

#include "agent/agent_service.h"
#include "agent/relay_settings.h"
#include "agent/relay_status.h"
#include "platform/file_guard.h"

class StatusReporter {
public:
    // The record names `service`'s instance and INI file; a service tells
    // the relay's own answers in a summary line now and then instead of one
    // line each.
    StatusReporter(const RelaySettings& settings, const AgentService& service);
    // Marks the relay stopped and writes that, so that a reader of the file
    // never takes a stopped agent for a running one.
    ~StatusReporter();
    StatusReporter(const StatusReporter&) = delete;
    StatusReporter& operator=(const StatusReporter&) = delete;

    RelayStatus& Status() { return m_Status; }
    // Takes the endpoint's counters and writes what changed, when a second
    // has passed since the last write or `now` is set (a change of state).
    void Update(const NetXcpCounters& counters, bool now = false);

private:
    void Write();
    // Writes one file; reports the first failure of a run of failures.
    bool WriteFile(const std::string& path, const std::string& text, uint32_t failureId,
                   bool& reported);
    void SummariseRelayRequests(uint32_t tick);

    RelayStatus m_Status;
    std::string m_StatusFile;
    std::string m_PrometheusFile;
    std::string m_Written;  // the status file's text as last written
    std::string m_Line;     // the systemd line as last sent
    uint32_t m_nLastTick = 0;
    bool m_bFolderMade = false;
    // The default file lives only in the agent's own runtime folder.
    bool m_bInRuntimeFolder = false;
    bool m_bStatusReported = false;
    bool m_bPrometheusReported = false;
    bool m_bFolderReported = false;
    // As a service, 0x00 frames are summarised once a minute (see
    // NetXcpEndpoint::EchoRelayRequests).
    bool m_bSummariseRelayRequests = false;
    uint64_t m_nRelayRequestsTold = 0;
    uint32_t m_nLastSummary = 0;
};

// Replaces the file at `path` with `text` (atomically) for others to read:
// only in a place plat::CheckWritePlace accepts, and a link at `path` is
// replaced, never written through. False on failure, with the reason.
bool ReplaceFileText(const std::string& path, const std::string& text, plat::FileRefusal& why);
