// The names a further instance goes by with the service manager: the
// default's stay as they were, and no two agents of a host share one.
#include "agent/instance_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(InstanceNames, TheDefaultKeepsItsNamesAndEachInstanceHasItsOwn) {
    struct Case {
        const char* instance;
        const char* service;
        const char* unit;
    };
    const Case cases[] = {
        {"", "Ombrex Quillon", nullptr},
        {"b", "Ombrex Quillon b", "ombrex-quillon@b.service"},
        {"ups-2_East", "Ombrex Quillon ups-2_East", "ombrex-quillon@ups-2_East.service"},
        {"0123456789abcdefghijklmnopqrstuv", "Ombrex Quillon 0123456789abcdefghijklmnopqrstuv",
         "ombrex-quillon@0123456789abcdefghijklmnopqrstuv.service"},
    };
    std::set<std::string> services, sources;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.instance);
        EXPECT_EQ(AgentServiceName(c.instance), c.service);
        services.insert(AgentServiceName(c.instance));
        sources.insert(EventSourceKey(AgentServiceName(c.instance)));
        if (c.unit) EXPECT_EQ(AgentInstanceUnitName(c.instance), c.unit);
    }
    EXPECT_EQ(services.size(), std::size(cases));
    EXPECT_EQ(sources.size(), std::size(cases));
    // The default's event source is the key the package and every earlier
    // version registered.
    EXPECT_EQ(EventSourceKey(AgentServiceName("")),
              "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ombrex Quillon");
    // The template itself is no instance's unit.
    EXPECT_EQ(std::string(kAgentTemplateUnitName), "ombrex-quillon@.service");
}

}  // namespace
