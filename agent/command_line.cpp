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

bool IsOptionLetter(const char* a, char letter) {
    return IsOptionMark(a[0]) && toupper(static_cast<unsigned char>(a[1])) == letter;
}

// Takes the value of "-n" at argv[i]; false when it is no instance name.
bool TakeInstanceName(const char* value, AgentCommandLine& cl) {
    if (!IsInstanceName(value)) return false;
    cl.instanceName = value;
    return true;
}

// What may follow "status": "--json" and, as before the verb, "-c file" and
// "-n name".
void ParseStatusOptions(int from, int argc, const char* const* argv, AgentCommandLine& cl) {
    for (int i = from; i < argc; ++i) {
        const char* a = argv[i];
        if (SameWord(a, "--json")) {
            cl.json = true;
        } else if (IsOptionLetter(a, 'C') && i + 1 < argc) {
            cl.configGiven = true;
            cl.configPath = argv[++i];
        } else if (!(IsOptionLetter(a, 'N') && i + 1 < argc && TakeInstanceName(argv[++i], cl))) {
            cl.action = AgentAction::Usage;
            return;
        }
    }
}

}  // namespace

bool IsInstanceName(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    for (unsigned char c : name) {
        if (!isalnum(c) && c != '-' && c != '_') return false;
    }
    return true;
}

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
            case 'n':
            case 'N':
                if (i + 1 >= argc || !TakeInstanceName(argv[++i], cl)) {
                    cl.action = AgentAction::Usage;
                    return cl;
                }
                break;
            default:
                cl.action = AgentAction::Usage;
                return cl;
        }
    }
    return cl;
}
