// The relay worker: reads and checks the configuration, opens the serial link
// and the NetXCP endpoint, then loops until told to stop: serve a waiting
// request, poll the UPS about every 2.5 s, or look for it again about every
// 10 s while there is none. Literal timing counts passes of fixed pauses;
// prompt timing waits on readiness, keeps the same cadence by the clock, and
// also looks at the port every second, so that a port that goes or comes
// back is seen within seconds.
#include "agent/relay_worker.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/absorb.h"
#include "agent/agent_service.h"
#include "agent/file_refusal.h"
#include "agent/ini_file.h"
#include "agent/netxcp_endpoint.h"
#include "agent/qln_exception.h"
#include "agent/relay_settings.h"
#include "agent/status_report.h"
#include "common/config/ini_format.h"
#include "common/resources/message_ids.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event.h"
#include "platform/event_log.h"
#include "platform/file_guard.h"
#include "platform/product_names.h"
#include "platform/scoped_handle.h"
#include "upslink/device_text.h"
#include "upslink/link_error.h"
#include "upslink/serial_link.h"
#include "upslink/ups_device.h"
#include "upslink/wire_trace.h"

namespace {

constexpr uint32_t kDataBits = 8, kParityIndex = 2, kStopIndex = 0;
constexpr uint32_t kPollEvery = 5, kDetectEvery = 10;
constexpr uint32_t kAttachedPauseMs = 500, kSearchingPauseMs = 1000, kPassGapMs = 10;
constexpr uint32_t kRequestWaitMs = 1000;
// Prompt timing: how often the port is looked at, and how soon a UPS that
// left an ask for its life unanswered is asked again.
constexpr uint32_t kPortLookMs = 1000, kDoubtRetryMs = 500;
constexpr int32_t kXcpDevice = 2;

// Where an agent exception would be reported: the system log inside the
// service, standard error otherwise.
void ReportText(const std::string& text) {
    if (g_bEventLogReporting) {
        const char* strings[] = {text.c_str()};
        plat::WriteEventLogEntry(g_AgentService.m_ServiceName.c_str(), plat::kEventError, 0,
                                 strings, 1, text);
        return;
    }
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// What the start of a run has to say about the configuration: a file that
// gives nothing but the built-in settings, a stored password that admits
// nothing, the published password in use.
void ReportConfigurationFile(const std::string& path) {
    uint32_t error = 0;
    if (ConfigFileReadable(path, error)) return;
    CQLNException(MSG_CONFIG_UNREADABLE, {path.c_str(), plat::SystemReason(error).c_str()})
        .Report();
}

// A FIFO, a device or a huge file named as the INI file would hold every
// read of it (or never end): the run does not start on it.
void RefuseEndlessConfiguration(const std::string& path) {
    plat::FileRefusal why;
    plat::ScopedFile file(plat::OpenBoundedFile(path, ini::kMaxFileBytes, false, why));
    if (why == plat::FileRefusal::kNotRegular || why == plat::FileRefusal::kTooLarge) {
        throw new CQLNException(MSG_CONFIG_REFUSED,
                                {path.c_str(), FileFailureReason(why, 0).c_str()});
    }
}

void ReportPassword(const RelaySettings& settings) {
    const char* path = settings.configPath.c_str();
    if (!settings.access.passwordUsable) CQLNException(MSG_PASSWORD_NOT_SCRAMBLED, {path}).Report();
    if (settings.passwordIsDefault) CQLNException(MSG_DEFAULT_PASSWORD_IN_USE, {path}).Report();
}

void ReportSettingsError(const SettingsError& error, const std::string& path) {
    CQLNException(MSG_SETTING_NOT_VALID, {error.key.c_str(), error.section.c_str(), path.c_str(),
                                          error.value.c_str(), error.allowed.c_str()})
        .Report();
}

std::string CommunicationsFailureText(int32_t identifier, uint16_t port) {
    std::string what;
    switch (identifier) {
        case brx::kCommBindError:
            what = "cannot bind UDP port " + std::to_string(port) +
                   " for NetXCP (is another agent or program using it?)";
            break;
        case brx::kCommStartupError:
            what = "the socket library did not start";
            break;
        default:
            what = "cannot open the NetXCP socket on UDP port " + std::to_string(port);
    }
    return "qln: " + what + "; communications failure " + std::to_string(identifier) + ".\n";
}

// A detection pass: re-open the link, make a device and identify the UPS.
std::unique_ptr<UpsDevice> Detect(SerialLink& link, const UpsIdentity& identity, uint32_t pass,
                                  XcpTiming timing, uint32_t livenessTries) {
    Absorb([&] { link.Close(); });
    Absorb([&] { link.EnumeratePnp(); });
    std::unique_ptr<UpsDevice> device(DetectUps(link, identity));
    device->SetTiming(timing);
    device->SetLiveness(livenessTries);
    // Identify keeps the agent's own failures to itself; what else it throws
    // is absorbed here.
    if (!Absorb([&] { device->Identify(); })) {
        // Agent exceptions from here on end the worker.
        link.SetBaud(link.GetBaud());
        if (!link.IsOpen()) link.Open();
    }
    if (pass == 0) plat::SignalNamedEvent(AgentEventName(kUpsFoundEvent));
    return device;
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// The start and the end of a relay, for the event log.
void ReportRelay(uint32_t id, const RelayStatus& status) {
    std::string port = std::to_string(status.agentPort);
    CQLNException(id, {port.c_str(), status.portName.c_str(), status.timing.c_str()}).Report();
}

// A detection that identified the UPS: its identity goes into the status and
// the event log.
void RecordFound(StatusReporter& reporter, const UpsDevice& device, const SerialLink& link,
                 const NetXcpCounters& counters) {
    RelayStatus& status = reporter.Status();
    status.state = RelayState::Attached;
    status.family = device.m_FamilyName;
    status.model = device.m_ModelName;
    status.versions = device.m_Versions;
    status.baud = link.GetBaud();
    status.attachedSince = Now();
    ++status.detections;
    reporter.Update(counters, true);
    std::string baud = std::to_string(status.baud);
    const std::string family = PrintableText(status.family), model = PrintableText(status.model),
                      versions = PrintableText(status.versions);
    CQLNException(MSG_UPS_FOUND, {family.c_str(), model.c_str(), versions.c_str(), baud.c_str()})
        .Report();
}

void RecordLoss(StatusReporter& reporter, const NetXcpCounters& counters) {
    RelayStatus& status = reporter.Status();
    if (status.state != RelayState::Attached) return;
    status.state = RelayState::Searching;
    status.lastLoss = Now();
    ++status.losses;
    reporter.Update(counters, true);
}

// What one run of the relay works with, for either loop. The device goes
// before the link it refers to, which outlives this.
struct RelayRun {
    AgentService& service;  // the stop, pause and continue of the host
    const UpsIdentity& identity;
    SerialLink& link;
    NetXcpEndpoint& endpoint;
    XcpTiming timing;
    uint32_t livenessTries;
    StatusReporter& reporter;
    std::unique_ptr<UpsDevice> device;
    // Whether the port has been named in this run of losses: a port that
    // cannot be opened is named once, not every ten seconds.
    bool portNamed = false;
};

// A device whose communication is lost is dropped and reported; true then.
bool CheckForLoss(RelayRun& run) {
    if (run.device && run.device->commsLost == -1) {
        run.device.reset();
        RecordLoss(run.reporter, run.endpoint.Counters());
        CQLNException(MSG_UPS_COMMUNICATIONS_LOST).Report();
        if (!run.portNamed && run.link.OpenFailure() != 0) {
            run.portNamed = true;
            CQLNException(MSG_SERIAL_PORT_UNOPENABLE,
                          {run.link.GetPortName().c_str(),
                           plat::SystemReason(run.link.OpenFailure()).c_str()})
                .Report();
        }
        return true;
    }
    if (run.device) run.portNamed = false;  // the UPS answers: a later loss starts a new run
    return false;
}

// A detection pass, and what the status makes of it when the UPS answered.
void Search(RelayRun& run, uint32_t pass) {
    run.device = Detect(run.link, run.identity, pass, run.timing, run.livenessTries);
    if (run.device->commsLost == 0) {
        RecordFound(run.reporter, *run.device, run.link, run.endpoint.Counters());
    }
}

// The cadence both timings keep: with a UPS, a poll every kPollEvery passes
// of kAttachedPauseMs (2.5 s); without, a search every kDetectEvery passes
// of kSearchingPauseMs (10 s). Literal timing counts the passes, prompt
// timing the clock.
struct Cadence {
    uint32_t every;    // passes from one step to the next
    uint32_t pauseMs;  // the pause of a literal pass
    uint32_t PeriodMs() const { return every * pauseMs; }
};
constexpr Cadence kPolling{kPollEvery, kAttachedPauseMs};
constexpr Cadence kSearching{kDetectEvery, kSearchingPauseMs};

Cadence CadenceOf(const RelayRun& run) { return run.device ? kPolling : kSearching; }

// One step of the cadence: poll the UPS, or look for it (search number
// `search`; the first ends a pending start).
void Tend(RelayRun& run, uint32_t search) {
    if (run.device) {
        run.device->Poll();
    } else {
        Search(run, search);
    }
}

// Literal timing: passes of fixed pauses, a request waited for at the top
// of each, the UPS polled every fifth pass and looked for every tenth.
void LiteralLoop(RelayRun& run, bool internalXcp) {
    // A stop that arrives between the frames of a datagram ends the run.
    const std::function<bool()> keepServing = [&run] { return run.service.KeepRunning(); };
    for (uint32_t pass = 0;;) {
        if (!run.service.KeepRunning()) break;
        UpsDevice* device = run.device.get();
        uint32_t waitMs =
            (device && !internalXcp && device->DeviceKind() == kXcpDevice) ? kRequestWaitMs : 0;
        if (run.endpoint.WaitForRequest(waitMs) &&
            !run.endpoint.ServeRequest(device, keepServing)) {
            break;
        }

        const Cadence cadence = CadenceOf(run);
        if (pass % cadence.every == 0) Tend(run, pass);
        ++pass;
        run.endpoint.TakeWhileWaiting(cadence.pauseMs);  // the socket's queue is small
        CheckForLoss(run);
        plat::SleepMs(kPassGapMs);
        run.reporter.Update(run.endpoint.Counters());
    }
}

// Prompt timing: the worker sleeps on the socket and on the service's stop
// and pause events together, so that a request is served the moment it
// arrives and a control is seen the moment it is given. The status poll and
// the search for a UPS keep the literal passes' cadence, by the clock. Once a
// second the port is looked at as well: an open port that hung up (an adapter
// pulled out) loses the UPS at once, and the search follows at once; a port
// name that was missing and is there again is searched at once. A look
// costs a system call; only a search opens the port and negotiates a speed.
void PromptLoop(RelayRun& run) {
    const std::function<bool()> keepServing = [&run] { return run.service.KeepRunning(); };
    plat::Event* events[2] = {};
    const int eventCount = run.service.ControlEvents(events);
    uint32_t due = plat::TickCount();  // of the next poll, or the next search
    uint32_t lookDue = due;            // of the next look at the port
    bool portThere = true;             // at the last look, while searching
    uint32_t searches = 0;
    for (;;) {
        if (!run.service.KeepRunning()) break;
        uint32_t now = plat::TickCount();
        if (DeadlineExpired(lookDue, now + 1)) {
            lookDue = now + kPortLookMs;
            if (run.device) {
                run.device->CheckLine();
                if (CheckForLoss(run)) due = now;
            } else {
                const bool there = run.link.PortAvailable();
                if (there && !portThere) due = now;
                portThere = there;
            }
            continue;  // a control given meanwhile comes first
        }
        if (DeadlineExpired(due, now + 1)) {
            const bool searching = !run.device;
            Tend(run, searching ? searches++ : 0);
            const bool lost = CheckForLoss(run);
            uint32_t nextMs = CadenceOf(run).PeriodMs();
            if (searching) {
                if (!run.device) portThere = run.link.PortAvailable();
            } else if (lost) {
                nextMs = 0;  // look for it again at once
            } else if (run.device->InDoubt()) {
                nextMs = kDoubtRetryMs;
            }
            due = plat::TickCount() + nextMs;
            continue;
        }
        now = plat::TickCount();
        const uint32_t next = DeadlineExpired(due, lookDue) ? due : lookDue;  // the sooner
        const uint32_t waitMs = DeadlineExpired(next, now) ? 0 : next - now;
        if (run.endpoint.WaitForRequestOrEvent(waitMs, events, eventCount) ==
                NetXcpEndpoint::Wake::kRequest &&
            !run.endpoint.ServeRequest(run.device.get(), keepServing)) {
            break;
        }
        run.reporter.Update(run.endpoint.Counters());
    }
}

// Start-up and the loop. Everything of the run lives in this frame; the
// device goes before the link it refers to.
int RunRelay(AgentService& service, uint16_t& agentPort) {
    const std::string& path = service.m_ConfigPath;
    RefuseEndlessConfiguration(path);
    ReportConfigurationFile(path);
    CINIFile profile(path.c_str());
    const RelaySettings settings = ReadRelaySettings(profile, path);
    ReportPassword(settings);
    agentPort = settings.access.port;
    // Opened before the link so that the first Plug and Play look is traced
    // too, and closed after it.
    WireTraceScope trace(
        settings.traceFile, settings.traceLimitKb,
        [](const std::string& file, const std::string& what, plat::FileRefusal why, uint32_t code) {
            const std::string reason = what + ": " + FileFailureReason(why, code);
            CQLNException(MSG_TRACE_UNWRITABLE, {file.c_str(), reason.c_str()}).Report();
        });
    SerialLink link(settings.portName, settings.baud, kDataBits, kParityIndex, kStopIndex);
    Absorb([&] { link.EnumeratePnp(); });
    NetXcpEndpoint endpoint(settings.access);
    endpoint.EchoRelayRequests(!service.m_bServiceMode);
    // Made after the endpoint, so that it is gone (and has written "stopped")
    // before the endpoint closes; the pause hook goes before it.
    StatusReporter reporter(settings, service);
    struct PauseHook {
        AgentService& service;
        ~PauseHook() { service.m_PauseChanged = nullptr; }
    } pauseHook{service};
    RelayRun run{service,         settings.upsIdentity,   link,     endpoint,
                 settings.timing, settings.livenessTries, reporter, nullptr};
    service.m_PauseChanged = [&](bool paused) {
        RelayStatus& status = reporter.Status();
        if (paused) {
            status.state = RelayState::Paused;
        } else {
            status.state = run.device ? RelayState::Attached : RelayState::Searching;
        }
        reporter.Update(endpoint.Counters(), true);
    };
    reporter.Update(endpoint.Counters(), true);
    ReportRelay(MSG_RELAY_STARTED, reporter.Status());
    if (settings.timing == XcpTiming::kPrompt) {
        PromptLoop(run);
    } else {
        LiteralLoop(run, service.m_bInternalXcp);
    }
    ReportRelay(MSG_RELAY_STOPPED, reporter.Status());
    return 0;
}

// Why the run ended early, told the way each kind of failure has always
// been told.
void ReportFailure(const CaughtFailure& failure, uint16_t agentPort, const std::string& path) {
    switch (failure.kind) {
        case CaughtFailure::Kind::kAgent:
            failure.agent->Report();
            break;
        case CaughtFailure::Kind::kCommunications:
            ReportText(CommunicationsFailureText(failure.identifier, agentPort));
            break;
        case CaughtFailure::Kind::kLibrary:
            ReportText("qln: the relay stopped on failure " + std::to_string(failure.identifier) +
                       ".\n");
            break;
        case CaughtFailure::Kind::kSettings:
            ReportSettingsError(failure.settings, path);
            break;
        case CaughtFailure::Kind::kStandard:
            ReportText("qln: the relay stopped: " + failure.what + "\n");
            break;
    }
}

}  // namespace

int RelayWorker(void* argument) {
    AgentService& service = *static_cast<AgentService*>(argument);
    uint16_t agentPort = 0;
    int result = -1;
    if (std::optional<CaughtFailure> failure =
            Catch([&] { result = RunRelay(service, agentPort); })) {
        ReportFailure(*failure, agentPort, service.m_ConfigPath);
        return -1;
    }
    return result;
}
