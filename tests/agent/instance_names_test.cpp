// The names a further instance goes by: the default's stay as they were, and
// no two agents of a host share a service, an event source or a unit.
#include "agent/instance_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(InstanceNames, TheDefaultKeepsItsNamesAndEachInstanceHasItsOwn) {
    const char* const cases[][3] = {
        {"", "Ombrex Quillon", ""},
        {"b", "Ombrex Quillon b", "ombrex-quillon@b.service"},
        {"ups-2_East", "Ombrex Quillon ups-2_East", "ombrex-quillon@ups-2_East.service"},
    };
    std::set<std::string> sources;
    for (const auto& c : cases) {
        EXPECT_EQ(AgentServiceName(c[0]), c[1]);
        if (*c[0]) {
            EXPECT_EQ(AgentInstanceUnitName(c[0]), c[2]);
        }
        sources.insert(EventSourceKey(AgentServiceName(c[0])));
    }
    EXPECT_EQ(sources.size(), std::size(cases));
    EXPECT_EQ(*sources.begin(),
              "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ombrex Quillon");
}
