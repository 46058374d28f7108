// What each service verb asks of systemctl, for the default unit and for an
// instance of the template unit alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/instance_names.h"
#include "agent/systemctl_verbs.h"
#include "agent/systemd_unit.h"

namespace {

using Args = std::vector<std::string>;

TEST(SystemctlVerbs, EachVerbMapsToItsSystemctlCallOnTheGivenUnit) {
    struct Case {
        AgentAction action;
        Args head;  // the arguments before the unit; empty for no call
    };
    const Case cases[] = {
        {AgentAction::Install, {"enable", "--now"}},
        {AgentAction::Remove, {"disable", "--now"}},
        {AgentAction::Start, {"start"}},
        {AgentAction::Stop, {"stop"}},
        // A paused agent keeps its process: the signal goes to the main
        // process only, never to a helper it started.
        {AgentAction::Pause, {"kill", "--kill-who=main", "--signal=SIGUSR1"}},
        {AgentAction::Resume, {"kill", "--kill-who=main", "--signal=SIGUSR2"}},
        {AgentAction::Run, {}},
        {AgentAction::Status, {}},
        {AgentAction::Usage, {}},
    };
    for (const std::string& unit :
         {std::string(plat::kAgentUnitName), AgentInstanceUnitName("b")}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(unit + " " + std::to_string(static_cast<int>(c.action)));
            Args expected = c.head;
            if (!expected.empty()) expected.push_back(unit);
            EXPECT_EQ(SystemctlArgs(c.action, unit), expected);
        }
    }
}

}  // namespace
