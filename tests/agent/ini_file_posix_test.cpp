// The agent's INI reader on a file it may read but not write, as the
// service's own account sees the INI file that root keeps.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "agent/ini_file.h"
#include "other_account_posix.h"
#include "scratch_dir.h"

TEST(IniFileAccess, AFileThatCanBeReadButNotWrittenIsReadAsItStands) {
    std::string missing = OtherAccountMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ScratchDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    std::string path = dir.Path() + "/qln.ini";
    std::ofstream(path) << "[Network]\nPasswd=Own1st\n[NetXCP]\nAgentPort=7011\n";
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    // Taken for a missing file, it would leave the agent on its built-in
    // settings: the published password and the default port.
    int status = InChild([&] {
        CINIFile ini(path.c_str());
        bool ok = ini.GetString("Network", "Passwd", "Wopra3") == "Own1st" &&
                  ini.GetInt("NetXCP", "AgentPort", 7010) == 7011;
        return ok ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}
