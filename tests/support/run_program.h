// Runs a program of the build to its end, as a user at a shell would, and
// collects what it wrote.
#pragma once
#include <string>
#include <vector>

struct ProgramResult {
    int exitCode = 0;   // as the program returned it (-1 stays -1)
    std::string out;    // standard output, bytes as written
    std::string err;    // standard error, bytes as written
};

// `program` is a file name in the build's bin folder (without ".exe"); the
// arguments are passed as given. `env` entries "NAME=value" are added.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {});

// Path of a program of the build's bin folder.
std::string BinPath(const std::string& program);
