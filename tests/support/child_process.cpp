#include "child_process.h"

#include "scratch_dir.h"
#include "wait_for.h"

namespace {
// Long enough for any program of the build under Wine; shorter than the
// test programs' own time limit, so that a hang fails one test, not all.
constexpr uint32_t kRunLimitMs = 240000;
}  // namespace

int CountOf(const std::string& in, const std::string& text) {
    int n = 0;
    for (size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + text.size())) {
        ++n;
    }
    return n;
}

std::vector<std::string> ChildProcess::Environment(const std::vector<std::string>& current,
                                                   const std::vector<std::string>& changes) {
    std::vector<std::string> merged;
    for (const auto& entry : current) {
        bool replaced = false;
        for (const auto& change : changes) {
            // "NAME=" with its sign, so that NAME does not match NAMES=; a
            // change without a sign names nothing to replace.
            size_t sign = change.find('=');
            if (sign == std::string::npos) continue;
            if (entry.compare(0, sign + 1, change, 0, sign + 1) == 0) replaced = true;
        }
        if (!replaced) merged.push_back(entry);
    }
    merged.insert(merged.end(), changes.begin(), changes.end());
    return merged;
}

std::string ChildProcess::Out() const { return ReadBytes(m_OutPath); }
std::string ChildProcess::Err() const { return ReadBytes(m_ErrPath); }

bool ChildProcess::WaitForText(bool onStderr, const std::string& text, int count, uint32_t ms) {
    return WaitFor([&] { return CountOf(onStderr ? Err() : Out(), text) >= count; }, ms);
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    ProgramResult result;
    ChildProcess child;
    if (!child.Start(BinPath(program), args, env)) {
        result.exitCode = -2000;
        return result;
    }
    if (child.WaitForExit(kRunLimitMs)) {
        result.exitCode = child.ExitCode();
    } else {
        child.Stop(0);
        result.exitCode = -3000;
    }
    result.out = child.Out();
    result.err = child.Err();
    return result;
}
