// The relay worker: reads the configuration, opens the serial link and the
// NetXCP endpoint, then loops until told to stop: serve a waiting request,
// poll the UPS every fifth pass, or look for it again every tenth pass while
// there is none.
#include "agent/relay_worker.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "agent/absorb.h"
#include "agent/agent_service.h"
#include "agent/ini_file.h"
#include "agent/netxcp_endpoint.h"
#include "agent/qln_exception.h"
#include "common/config/encryption.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/event_log.h"
#include "upslink/serial_link.h"
#include "upslink/ups_device.h"

namespace {

const char* const kDefaultPassword = "Wopra3";
const char* const kUpsFoundEvent = "UPS Found";
constexpr uint32_t kCommsLost = 0xC0020039u;  // "UPS communications lost."
constexpr uint32_t kDefaultBaud = 9600;
constexpr int kDefaultAgentPort = 7010;
constexpr uint32_t kDataBits = 8, kParityIndex = 2, kStopIndex = 0;
constexpr uint32_t kPollEvery = 5, kDetectEvery = 10;
constexpr uint32_t kAttachedPauseMs = 500, kSearchingPauseMs = 1000, kPassGapMs = 10;
constexpr uint32_t kRequestWaitMs = 1000;
constexpr int32_t kXcpDevice = 2;

// A failure that is not an agent exception, described for the operator.
struct WorkerFailure {
    std::string text;
};

// Where an agent exception would be reported: the system log inside the
// service, standard error otherwise.
void ReportText(const std::string& text) {
    if (g_bEventLogReporting) {
        const char* strings[] = {text.c_str()};
        plat::WriteEventLogEntry(kAgentServiceName, plat::kEventError, 0, strings, 1, text);
        return;
    }
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

uint32_t ReadBaud(CINIFile& profile) {
    int baud = profile.GetInt("Communications", "CommunicationsBaudRate", 0);
    if (baud == 0) baud = profile.GetInt("Communications", "CommunicationsBaudRateLast", 9600);
    return baud == 0 ? kDefaultBaud : static_cast<uint32_t>(baud);
}

// The NetXCP password: the default as it stands, anything else unscrambled.
// `usable` is false when the stored text does not unscramble; then no
// password frame can match.
std::string ReadPassword(CINIFile& profile, bool& usable) {
    usable = true;
    std::string stored = profile.GetString("Network", "Passwd", kDefaultPassword);
    if (stored == kDefaultPassword) return stored;
    char* clear = CEncryption::UnEncrypt(stored.c_str());
    if (clear == nullptr) {
        usable = false;
        ReportText("qln: the Passwd value in [Network] does not unscramble; "
                   "privileged NetXCP commands are refused.\n");
        return std::string();
    }
    std::string password = clear;
    std::free(clear);
    return password;
}

uint16_t ReadAgentPort(CINIFile& profile) {
    int port = profile.GetInt("NetXCP", "AgentPort", kDefaultAgentPort);
    if (port < 1 || port > 65535) {
        throw WorkerFailure{"qln: AgentPort " + std::to_string(port) +
                            " in [NetXCP] is not a UDP port number (1 to 65535).\n"};
    }
    return static_cast<uint16_t>(port);
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
std::unique_ptr<UpsDevice> Detect(SerialLink& link, CINIFile& profile, uint32_t pass) {
    Absorb([&] { link.Close(); });
    Absorb([&] { link.EnumeratePnp(); });
    std::unique_ptr<UpsDevice> device(DetectUps(link, profile));
    bool failed = false;
    try {
        device->Identify();
    } catch (brx::CExceptionObject* failure) {
        delete failure;
        failed = true;
    } catch (const brx::CExceptionObject&) {
        failed = true;
    } catch (const std::exception&) {
        failed = true;
    }
    if (failed) {
        // Agent exceptions from here on end the worker.
        link.SetBaud(link.GetBaud());
        if (!link.IsOpen()) link.Open();
    }
    if (pass == 0) plat::SignalNamedEvent(kUpsFoundEvent);
    return device;
}

// Start-up and the loop. Everything of the run lives in this frame; the
// device goes before the link and the profile it refers to.
int RunRelay(uint16_t& agentPort) {
    CINIFile profile(g_AgentService.m_ConfigPath.c_str());
    uint32_t baud = ReadBaud(profile);
    std::string portName = profile.GetString("Communications", "CommunicationsPort", "COM1:");
    SerialLink link(portName, baud, kDataBits, kParityIndex, kStopIndex);
    Absorb([&] { link.EnumeratePnp(); });
    bool passwordUsable = true;
    std::string password = ReadPassword(profile, passwordUsable);
    agentPort = ReadAgentPort(profile);
    NetXcpEndpoint endpoint(password, agentPort, passwordUsable);
    std::unique_ptr<UpsDevice> device;

    for (uint32_t pass = 0;; ) {
        if (!g_AgentService.KeepRunning()) break;
        uint32_t waitMs =
            (device && !g_bInternalXcp && device->DeviceKind() == kXcpDevice) ? kRequestWaitMs : 0;
        // A stop that arrives between the frames of a datagram ends the run.
        auto keepRunning = [] { return g_AgentService.KeepRunning(); };
        if (endpoint.WaitForRequest(waitMs) && !endpoint.ServeRequest(device.get(), keepRunning)) {
            break;
        }

        uint32_t pauseMs;
        if (device) {
            if (pass % kPollEvery == 0) device->Poll();
            pauseMs = kAttachedPauseMs;
        } else {
            if (pass % kDetectEvery == 0) device = Detect(link, profile, pass);
            pauseMs = kSearchingPauseMs;
        }
        ++pass;
        plat::SleepMs(pauseMs);
        if (device && device->commsLost == -1) {
            device.reset();
            CQLNException(kCommsLost).Report();
        }
        plat::SleepMs(kPassGapMs);
    }
    return 0;
}

}  // namespace

int RelayWorker(void*) {
    uint16_t agentPort = 0;
    try {
        return RunRelay(agentPort);
    } catch (CQLNException* failure) {
        std::unique_ptr<CQLNException> owned(failure);
        owned->Report();
    } catch (brx::CCommunicationsExceptionObject* failure) {
        std::unique_ptr<brx::CCommunicationsExceptionObject> owned(failure);
        ReportText(CommunicationsFailureText(owned->GetIdentifier(), agentPort));
    } catch (const brx::CExceptionObject& failure) {
        ReportText(CommunicationsFailureText(failure.GetIdentifier(), agentPort));
    } catch (brx::CExceptionObject* failure) {
        std::unique_ptr<brx::CExceptionObject> owned(failure);
        ReportText("qln: the relay stopped on failure " + std::to_string(owned->GetIdentifier()) +
                   ".\n");
    } catch (const WorkerFailure& failure) {
        ReportText(failure.text);
    } catch (const std::exception& failure) {
        ReportText(std::string("qln: the relay stopped: ") + failure.what() + "\n");
    }
    return -1;
}
