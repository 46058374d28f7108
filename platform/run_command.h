// Runs another program of the system (systemctl, useradd) and waits for it.
#pragma once
#include <string>
#include <vector>

// What of the program's own output reaches the user.
enum class CommandOutput { Shown, ErrorsOnly, Hidden };

// Runs `args` (the program, found on PATH, then its arguments) and waits for
// it. Its exit status, or -1 when it could not be run (errno then says why)
// or did not exit.
int RunCommand(std::vector<std::string> args, CommandOutput output = CommandOutput::Shown);

// The same, with the program's standard output collected into `output` and
// its standard error hidden.
int RunCommand(std::vector<std::string> args, std::string& output);
