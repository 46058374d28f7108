// The relay agent's command line: the input is cut at zero bytes into
// arguments (the first stands for the program name).
#include <string>
#include <vector>

#include "agent/command_line.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1, "qln");
    std::string word;
    for (size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (words.size() < 64 && !word.empty()) words.push_back(word);

    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    AgentCommandLine cl = ParseAgentCommandLine(argc, argv.data());

    if (cl.versionRequests < 0 || cl.versionRequests >= argc)
        fuzz::Fail("version count out of range");
    if (cl.configGiven) {
        bool fromArguments = false;
        for (int i = 2; i < argc; ++i) fromArguments |= (cl.configPath == words[i]);
        if (!fromArguments) fuzz::Fail("configuration path not taken from the arguments");
    }
    return 0;
}
