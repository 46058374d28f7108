#include "tools/appsample/sample_app.h"

#include <cctype>

#include "common/config/profile.h"

CSampleApp::CSampleApp(int argc, char** argv, const std::string& name)
    : CApplication(argc, argv, ("Pellux " + name).c_str(), name.c_str(), "INIFile",
                   (name + ".ini").c_str(), false, false) {}

std::string ProgramName(const char* argv0) {
    std::string name = argv0 ? argv0 : "";
    std::string::size_type cut = name.find_last_of("/\\");
    if (cut != std::string::npos) name.erase(0, cut + 1);
    if (name.size() > 4) {
        std::string tail = name.substr(name.size() - 4);
        for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".exe") name.resize(name.size() - 4);
    }
    return name.empty() ? "appsample" : name;
}

void CSampleApp::Configure() {
    CProfile& profile = GetProfile();
    int interval = profile.GetInt("Sample", "Interval", 1, false);
    int sleep = profile.GetInt("Sample", "Sleep", 100, false);
    m_nLoopInterval = interval < 0 ? 0 : static_cast<uint32_t>(interval);
    m_nLoopSleep = sleep < 0 ? 0 : static_cast<uint32_t>(sleep);
    m_ProductName = "Pellux App Sample";
}
