#include "common/framework/broadcast_command.h"

namespace {

// `text` as one word of the shell, whatever it holds.
std::string ShellWord(const std::string& text) {
    std::string word = "'";
    for (char c : text) {
        if (c == '\'') {
            word += "'\\''";
        } else {
            word += c;
        }
    }
    return word + "'";
}

}  // namespace

// The command runs through the shell: the name and the message each travel
// as one quoted word, so that no character of them reaches the shell as
// syntax. A command that does not fit is not cut (a cut quote would change
// its meaning) but refused.
bool BroadcastCommand(const std::string& recipient, const std::string& escaped, size_t limit,
                      std::string& command) {
    command = "printf '%s\\n' " + ShellWord(escaped) + " | smbclient -N -M " + ShellWord(recipient);
    return command.size() < limit;
}
