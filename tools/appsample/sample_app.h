// The sample application. It is named after its own file: "appsample" gives
// the service "Pellux appsample", the INI file "appsample.ini" in the base
// directory and the stop event "appsampleStop"; a copy under another name is
// a program of its own.
#pragma once
#include <string>

#include "common/framework/application.h"

class CSampleApp : public CApplication {
public:
    CSampleApp(int argc, char** argv, const std::string& name);
    // Reads the loop's pace from the INI file: [Sample] Interval (seconds,
    // default 1) and Sleep (milliseconds, default 100).
    void Configure();
};

// The program's name: the file name of `argv0` without folder and ".exe".
std::string ProgramName(const char* argv0);
