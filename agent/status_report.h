// StatusReporter: the worker's side of the status report. It keeps the
// RelayStatus and passes it on: the status file (and the Prometheus file when
// one is configured), replaced as a whole, and the systemd status line. Each
// is written when the state changes and otherwise at most once a second, and
// only when what it says has changed, so an idle relay writes nothing.
#pragma once
#include <cstdint>
#include <string>

#include "agent/relay_settings.h"
#include "agent/relay_status.h"
#include "platform/file_guard.h"

class StatusReporter {
public:
    explicit StatusReporter(const RelaySettings& settings);
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
    bool Replace(const std::string& path, const std::string& text, bool& refused);

    RelayStatus m_Status;
    std::string m_StatusFile;
    std::string m_PrometheusFile;
    std::string m_Written;   // the status file's text as last written
    std::string m_Line;      // the systemd line as last sent
    uint32_t m_nLastTick = 0;
    bool m_bFolderMade = false;
    bool m_bStatusRefused = false;
    bool m_bPrometheusRefused = false;
};

// Replaces the file at `path` with `text` (atomically) for others to read:
// only in a place plat::CheckWritePlace accepts, and a link at `path` is
// replaced, never written through. False on failure, with the reason.
bool ReplaceFileText(const std::string& path, const std::string& text, plat::FileRefusal& why);
