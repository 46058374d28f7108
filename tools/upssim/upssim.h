// UpsSim: a simulated XCP UPS on a pseudo-terminal. The host opens the slave
// side as its serial port; the simulator watches the line settings from the
// master side (speed, raw mode), answers the Plug and Play identification at
// 1200 baud and XCP at its own current speed, and shows faults on demand.
// Tests run it in-process; the upssim command wraps it for a shell.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/scoped_handle.h"
#include "trace_replay.h"
#include "ups_model.h"

class UpsSim {
public:
    UpsSim();
    ~UpsSim();
    UpsSim(const UpsSim&) = delete;
    UpsSim& operator=(const UpsSim&) = delete;

    // Opens the pseudo-terminal and starts answering; false with a reason.
    bool Start(std::string& error);
    // Stops answering and hangs the line up.
    void Stop();

    // The slave side's path, the port name a host opens ("" while unplugged).
    std::string SlavePath() const;
    // Keeps a symbolic link at `path` pointing at the slave side, also across
    // unplug and plug. Empty: none.
    bool SetLink(const std::string& path, std::string& error);

    // A control line: every word of UpsModel::Control, and
    //   unplug      hang the line up (close the master side)
    //   plug        a new line (new slave path, reported in the answer)
    //   path        the slave path
    //   line        the host's line speed as last seen ("0" before any)
    //   opens       how often the host has opened the line
    //   verbose on|off   traffic to standard error
    //   replay FILE|off  answer as the UPS of a wire trace did (see TraceReplay)
    //   replayed    "<answered> <unmatched bytes>" of the replay
    //   gap         the shortest time in ms from the end of an answer to the
    //               next byte the host sent ("none" before any)
    //   gap reset   forget it
    std::string Control(const std::string& line);

    // Convenience for tests.
    uint32_t Count(uint8_t command);
    uint32_t Speed();
    uint32_t LineBaud();

private:
    void Run();
    bool OpenLine(std::string& error);
    void CloseLine();
    void ForgetHostLineSettings(int master);
    void UpdateLink();
    void Send(const std::vector<uint8_t>& bytes);
    // Sends the answers whose delay has run out by `now`.
    void SendDue(uint32_t now);
    void Log(const char* what, const uint8_t* bytes, size_t count);

    mutable std::mutex m_Mutex;
    UpsModel m_Model;
    std::unique_ptr<TraceReplay> m_pReplay;  // set: the trace answers, not the model
    plat::ScopedFd m_Master;
    plat::ScopedFd m_Watch;  // inotify descriptor that sees the slave opened and closed
    std::string m_SlavePath;
    std::string m_LinkPath;
    std::thread m_Thread;
    std::atomic<bool> m_bStop{false};
    bool m_bVerbose = false;

    // What the simulator has seen of the line.
    uint32_t m_nLineBaud = 0;
    uint32_t m_nOpens = 0;
    uint32_t m_nHostHolds = 0;  // opens of the slave side not yet closed
    bool m_bFresh = false;      // opened anew, no Plug and Play answer yet
    bool m_bPnpArmed = false;   // waiting for a quiet moment to answer
    uint32_t m_nPnpSince = 0;
    uint32_t m_nLastHeard = 0;

    // Answers held back by the "delay" setting: when each is due, and its bytes.
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> m_Delayed;
    // The end of the last answer not yet followed by a byte of the host's,
    // and the shortest such gap seen (UINT32_MAX: none yet).
    bool m_bAnswerOpen = false;
    uint32_t m_nAnswerEnd = 0;
    uint32_t m_nShortestGap = UINT32_MAX;
};
