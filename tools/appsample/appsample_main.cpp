// appsample [daemon] [-p dir] [-d category] [-o file] | install | remove |
//           start | stop | pause | resume
// Runs until its named event "<name>Stop" is set (or the service stops);
// <name> is the program's file name, "appsample" as built.
#include <cstdio>
#include <memory>
#include <string>

#include "common/config/profile.h"
#include "tools/appsample/sample_app.h"
#include "tools/appsample/sample_modules.h"

int main(int argc, char** argv) {
    try {
        std::unique_ptr<CSampleApp> app(
            new CSampleApp(argc, argv, ProgramName(argc > 0 ? argv[0] : nullptr)));
        app->Configure();
        CGreetingModule greeting;
        CPassRecorderModule recorder;
        CApplication::SetApp(app.get());
        app->Run();
        app->CleanupVars();
        CApplication::SetApp(nullptr);
        return 0;
    } catch (CAppException* e) {
        std::unique_ptr<CAppException> failure(e);
        failure->IfReportToLog("");
        return 1;
    }
}
