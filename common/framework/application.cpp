#include "common/framework/application.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "common/config/profile.h"
#include "common/framework/brx_runtime.h"
#include "common/framework/debug_text.h"
#include "common/framework/processing_module.h"
#include "common/resources/message_ids.h"
#include "platform/errors.h"
#include "platform/event.h"

CApplication* CApplication::m_pApp = nullptr;

namespace {

// Debug categories of option "-d"; each is the "Dynamic" flag "Debug" + name.
const char* const kDebugCategories[] = {"MainLoop",
                                        "WebServer",
                                        "Database",
                                        "DiscoveryManagement",
                                        "EventManagement",
                                        "Communications",
                                        "DeviceManagement",
                                        "ShutdownManagement",
                                        "SSL"};

const char* const kUsageLines[] = {"Options: -p dir   Base directory, defaults to exe dir.",
                                   "         daemon   Run as a daemon.",
                                   "         install  Install as a service.",
                                   "         remove   Remove as a service.",
                                   "         start    Start service.",
                                   "         stop     Stop service.",
                                   "         pause    Pause service.",
                                   "         resume   Resume service.",
                                   ""};

// Trace texts are cut at this size.
constexpr size_t kTraceBuffer = 1024;

bool SameNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

char Separator() {
    const char* text = brx::GetDirectorySeparator();
    return (text && *text) ? text[0] : '/';
}

// `dir` with the separator behind it, unless it is empty or has one.
std::string WithSeparator(std::string dir, char separator) {
    if (!dir.empty() && dir.back() != separator) dir += separator;
    return dir;
}

// Directory of the program path (the first word of the command line), else
// the current directory.
std::string ExeDirectory(int argc, char** argv) {
    char separator = Separator();
    std::string path = (argc > 0 && argv && argv[0]) ? brx::GetShortName(argv[0]) : std::string();
    std::string::size_type cut = path.rfind(separator);
    std::string dir;
    if (cut != std::string::npos && cut > 0) {
        dir = path.substr(0, cut);
    } else {
        dir = brx::GetShortName(brx::GetCwd().c_str());
    }
    return WithSeparator(dir, separator);
}

std::string CurrentTimeText() {
    time_t now = time(nullptr);
    const char* text = ctime(&now);
    return text ? text : "\n";
}

}  // namespace

CApplication::CApplication(int argc, char** argv, const char* appName, const char* exeName,
                           const char* profileType, const char* profileName, bool bUseSockets,
                           bool bAutoStart)
    : m_bUseSockets(bUseSockets), m_bRunAsService(true), m_bAutoStart(bAutoStart) {
    try {
        InternalConstructor(argc, argv, appName, exeName, profileType, profileName);
        m_PauseEvent = m_ContinueEvent = m_StopEvent = nullptr;
        m_WorkerThread = nullptr;
        std::unique_ptr<plat::Event> named(new plat::Event(m_ExeName + "Stop"));
        // Without it only the named stop is unavailable.
        if (named->IsValid()) m_NamedStopEvent = named.release();
        if (m_bRunAsService) {
            m_ServiceStatus = CServiceStatus{};
            m_ServiceStatus.dwServiceType = plat::kServiceTypeWin32;
            m_ServiceStatus.dwCurrentState = plat::kServiceStartPending;
            m_ServiceStatus.dwControlsAccepted = plat::kAcceptStop | plat::kAcceptPauseContinue;
            m_ServiceStatusHandle = nullptr;
        }
        if (m_bUseSockets && !StartSockets()) throw new CAppException(MSG_SHUTDOWN_AGENT_NO_SOCKET);
    } catch (...) {
        // The destructor does not run for an object whose construction failed.
        delete m_NamedStopEvent;
        m_NamedStopEvent = nullptr;
        delete m_pAppProfile;
        m_pAppProfile = nullptr;
        throw;
    }
}

CApplication::CApplication() = default;

CApplication::~CApplication() { delete m_pAppProfile; }

void CApplication::InternalConstructor(int argc, char** argv, const char* appName,
                                       const char* exeName, const char* profileType,
                                       const char* profileName) {
    m_nReserved = 200;
    m_bShutdown = false;
    m_AppName = appName ? appName : "";
    m_ExeName = exeName ? exeName : "";
    const char* type = profileType ? profileType : "";
    m_pAppProfile = CProfile::Create(m_ExeName.c_str(), type);
    // Every later step reads or writes the profile: a type the factory does
    // not know is a caller's mistake, reported rather than dereferenced.
    if (!m_pAppProfile)
        throw new CAppException(static_cast<unsigned long>(plat::kErrInvalidParameter));

    std::string exeDir = ExeDirectory(argc, argv);
    ParseArguments(m_ExeName.c_str(), argc, argv);
    m_pAppProfile->Set("Dynamic", "ExePath", exeDir.c_str());
    std::string baseDir = m_pAppProfile->GetString("Dynamic", "BaseDir", "", false);
    if (baseDir.empty()) {
        baseDir = exeDir;
        m_pAppProfile->Set("Dynamic", "BaseDir", baseDir.c_str());
    }
    std::string profilePath = baseDir + (profileName ? profileName : "");
    m_pAppProfile->Set("Dynamic", type, profilePath.c_str());
}

void CApplication::ParseArguments(const char* exeName, int argc, char** argv) {
    bool usageError = false;
    for (int i = 1; i < argc && argv; ++i) {
        if (usageError) break;
        const char* word = argv[i] ? argv[i] : "";
        if (word[0] == '-' || word[0] == '/') {
            if (i + 1 >= argc || !argv[i + 1]) {
                usageError = true;
                continue;
            }
            const char* value = argv[++i];
            switch (std::tolower(static_cast<unsigned char>(word[1]))) {
                case 'd': {
                    bool known = false;
                    for (const char* category : kDebugCategories) {
                        if (!SameNoCase(value, category)) continue;
                        known = true;
                        m_pAppProfile->Set("Dynamic", (std::string("Debug") + category).c_str(),
                                           true);
                    }
                    if (!known) usageError = true;
                    break;
                }
                case 'o': {
                    FILE* file = std::fopen(value, "w+");
                    if (file) {
                        brx::CDebug::SetDefaultOutput(file);
                    } else {
                        usageError = true;
                    }
                    break;
                }
                case 'p': {
                    std::string dir = WithSeparator(brx::GetShortName(value), Separator());
                    m_pAppProfile->Set("Dynamic", "BaseDir", dir.c_str());
                    break;
                }
                default:
                    usageError = true;
                    break;
            }
        } else if (!ProcessPlatformArg(word)) {
            usageError = true;
        }
    }
    if (!usageError) return;
    std::fprintf(stderr, "Usage:   %s [options]\n", exeName ? exeName : "");
    for (const char* line : kUsageLines) std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
    throw new CAppException();
}

bool CApplication::ProcessPlatformArg(const char* word) {
    struct Verb {
        const char* word;
        int code;  // -1 install, -2 remove, else a ServiceControl code
    };
    static const Verb kVerbs[] = {{"install", -1}, {"remove", -2}, {"start", 0},
                                  {"stop", 1},     {"pause", 2},   {"resume", 3}};
    if (SameNoCase(word, "daemon")) {
        m_bRunAsService = false;
        return true;
    }
    for (const Verb& verb : kVerbs) {
        if (!SameNoCase(word, verb.word)) continue;
        try {
            if (verb.code == -1) ServiceInstall(true);
            if (verb.code == -2) ServiceInstall(false);
            ServiceControl(verb.code);
        } catch (...) {
            std::fputs("Failed Service Call.\n", stdout);
            std::fflush(stdout);
            throw;
        }
    }
    return false;
}

void CApplication::Run() {
    if (m_bRunAsService && RunUnderServiceManager()) return;
    ThreadMain(nullptr);
}

int CApplication::RunApp() {
    CApplication* app = m_pApp;
    // Without SetApp there is nothing to run: a clear error, not a crash.
    if (!app) throw new CAppException(static_cast<unsigned long>(plat::kErrInvalidHandle));
    app->Run();
    m_pApp = nullptr;
    delete app;
    return 0;
}

unsigned long PELLUX_SYSTEM_CALL CApplication::ThreadMain(void* /*pParam*/) {
    CApplication* app = m_pApp;
    if (!app) return 0xFFFFFFFFul;
    try {
        app->MainLoop();
        return 0;
    } catch (CAppException* e) {
        std::unique_ptr<CAppException> owned(e);
        std::string baseDir = app->m_pAppProfile
                                  ? app->m_pAppProfile->GetString("Dynamic", "BaseDir", "", false)
                                  : "";
        owned->ReportToLog(baseDir.c_str());
    } catch (...) {
    }
    return 0xFFFFFFFFul;
}

void CApplication::MainLoop() {
    CProcessingModule::SetProfile(m_pAppProfile);
    CProcessingModule::InitAll();
    m_nIteration = 0;
    time_t lastPass = 0;
    while (CheckContinue()) {
        time_t now = time(nullptr);
        uint32_t since = static_cast<uint32_t>(now > lastPass ? now - lastPass : lastPass - now);
        if (since >= m_nLoopInterval) {
            bool debug =
                m_pAppProfile && m_pAppProfile->GetBool("Dynamic", "DebugMainLoop", false, false);
            if (debug) {
                WriteDebugMessage(m_pAppProfile, MSG_ENTERING_MAIN_LOOP,
                                  static_cast<unsigned long>(m_nIteration),
                                  CurrentTimeText().c_str());
            }
            CProcessingModule::ProcessAll(m_nIteration);
            m_nIteration += 1;
            if (debug)
                WriteDebugMessage(m_pAppProfile, MSG_LEAVING_MAIN_LOOP, CurrentTimeText().c_str());
            lastPass = time(nullptr);
        }
        if (m_nLoopSleep != 0) brx::SleepMillSec(m_nLoopSleep);
    }
}

bool CApplication::CheckContinue() {
    if (m_bRunAsService && m_PauseEvent && m_ContinueEvent && m_StopEvent) {
        if (m_PauseEvent->TryConsume()) {
            plat::Event* release[] = {m_StopEvent, m_ContinueEvent};
            int which = plat::Event::WaitAny(release, 2, plat::kInfinite);
            if (which == 0) return false;
        } else if (m_StopEvent->TryConsume()) {
            return false;
        }
    }
    if (m_NamedStopEvent && m_NamedStopEvent->TryConsume()) return false;
    return !m_bShutdown;
}

void CApplication::Trace(const char* category, unsigned int level, const char* format, ...) {
    if (!m_pAppProfile || !category || !format) return;
    int configured = m_pAppProfile->GetInt("WebServer", "Log Level", 1, false);
    if (level < static_cast<unsigned int>(configured)) return;
    char buffer[kTraceBuffer];
    va_list args;
    va_start(args, format);
    // Bounded: a longer text is cut rather than written past the buffer.
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string text = buffer;
    if (text.empty()) return;
    if (!m_pAppProfile->GetBool("Dynamic", category, false, true)) return;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    brx::CDebug::Output("%s\n", text.c_str());
}

void CApplication::Shutdown() { m_bShutdown = true; }

void CApplication::CleanupVars() {
    if (m_bRunAsService) {
        delete m_PauseEvent;
        delete m_ContinueEvent;
        delete m_StopEvent;
        CloseWorkerThread();
        CloseSpareHandle();
    }
    delete m_NamedStopEvent;
    m_NamedStopEvent = nullptr;
    m_PauseEvent = m_ContinueEvent = m_StopEvent = nullptr;
    m_WorkerThread = nullptr;
    m_ServiceStatusHandle = nullptr;
    if (m_bUseSockets) EndSockets();
}

// An application made by the default constructor has no profile: asking for
// it is a clear error rather than a null reference.
CProfile& CApplication::GetProfile() {
    if (!m_pAppProfile)
        throw new CAppException(static_cast<unsigned long>(plat::kErrInvalidHandle));
    return *m_pAppProfile;
}

const CProfile& CApplication::GetProfile() const {
    if (!m_pAppProfile)
        throw new CAppException(static_cast<unsigned long>(plat::kErrInvalidHandle));
    return *m_pAppProfile;
}

CApplication* CApplication::GetApp() { return m_pApp; }

void CApplication::SetApp(CApplication* pApp) { m_pApp = pApp; }

CApplication* GetApp() { return CApplication::GetApp(); }

CProfile* GetProfile() {
    CApplication* app = CApplication::GetApp();
    return app ? app->m_pAppProfile : nullptr;
}
