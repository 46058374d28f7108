// The listing of a runtime folder, through which "qln status" finds the
// host's agents, on both platforms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/agent_folder.h"
#include "scratch_dir.h"

TEST(RuntimeFolders, AFolderListsItsNamesSortedAndAMissingOneNothing) {
    ScratchDir dir{"runtime-list"};
    for (const char* name : {"qln-7011.status", "UPS_Found_a", "qln-7010.status"}) {
        ASSERT_FALSE(dir.Write(name, "state=attached\n").empty());
    }
    const struct {
        std::string folder;
        std::vector<std::string> names;
    } cases[] = {
        {dir.Path(), {"UPS_Found_a", "qln-7010.status", "qln-7011.status"}},
        {plat::JoinPath(dir.Path(), "gone"), {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> names{"left over"};
        uint32_t error = 1;
        EXPECT_TRUE(plat::ListRuntimeFolder(c.folder, names, error)) << c.folder;
        EXPECT_EQ(error, 0u) << c.folder;
        EXPECT_EQ(names, c.names) << c.folder;
    }
}
