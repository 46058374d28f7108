#include "agent/command_line.h"

#include <cctype>

namespace {

bool SameWord(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (toupper(static_cast<unsigned char>(*a)) != toupper(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

bool IsOptionMark(char c) { return c == '-' || c == '/'; }

// Every argument of the form -v or /V counts, the value of "-c" included.
int CountVersionRequests(int argc, const char* const* argv) {
    int found = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (IsOptionMark(a[0]) && (a[1] == 'v' || a[1] == 'V')) ++found;
    }
    return found;
}

struct VerbName {
    const char* word;
    AgentAction action;
};

const VerbName kVerbs[] = {
    {"install", AgentAction::Install}, {"remove", AgentAction::Remove},
    {"start", AgentAction::Start},     {"stop", AgentAction::Stop},
    {"pause", AgentAction::Pause},     {"resume", AgentAction::Resume},
    {"status", AgentAction::Status},
};

// What may follow "status": "--json" and, as before the verb, "-c file".
void ParseStatusOptions(int from, int argc, const char* const* argv, AgentCommandLine& cl) {
    for (int i = from; i < argc; ++i) {
        const char* a = argv[i];
        if (SameWord(a, "--json")) {
            cl.json = true;
        } else if (IsOptionMark(a[0]) && (a[1] == 'c' || a[1] == 'C') && i + 1 < argc) {
            cl.configGiven = true;
            cl.configPath = argv[++i];
        } else {
            cl.action = AgentAction::Usage;
            return;
        }
    }
}

}  // namespace

AgentCommandLine ParseAgentCommandLine(int argc, const char* const* argv) {
    AgentCommandLine cl;
    cl.versionRequests = CountVersionRequests(argc, argv);
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (SameWord(a, "daemon")) {
            cl.serviceMode = false;
            continue;
        }
        for (const VerbName& verb : kVerbs) {
            if (SameWord(a, verb.word)) {
                cl.action = verb.action;
                if (verb.action == AgentAction::Status) ParseStatusOptions(i + 1, argc, argv, cl);
                return cl;
            }
        }
        if (!IsOptionMark(a[0])) {
            cl.action = AgentAction::Usage;
            return cl;
        }
        // Only the second character of an option counts: -config is -c.
        switch (a[1]) {
            case 'c':
            case 'C':
                if (i + 1 >= argc) {
                    cl.action = AgentAction::Usage;
                    return cl;
                }
                cl.configGiven = true;
                cl.configPath = argv[++i];
                break;
            case 'i':
            case 'I':
                cl.internalXcp = true;
                break;
            default:
                cl.action = AgentAction::Usage;
                return cl;
        }
    }
    return cl;
}
