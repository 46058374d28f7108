// The agent's command line as parsed, before the entry acts on it.
#include "agent/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

AgentCommandLine Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "qln");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return ParseAgentCommandLine(static_cast<int>(args.size()), argv.data());
}

TEST(AgentCommandLineParse, TheLastConfigurationFileWinsAndDaemonKeepsParsing) {
    AgentCommandLine cl = Parse({"-c", "first.ini", "-c", "second.ini", "daemon"});
    EXPECT_EQ(cl.action, AgentAction::Run);
    EXPECT_TRUE(cl.configGiven);
    EXPECT_EQ(cl.configPath, "second.ini");
    EXPECT_FALSE(cl.serviceMode);

    cl = Parse({"DAEMON", "-config", "my.ini", "/Ix"});
    EXPECT_FALSE(cl.serviceMode);
    EXPECT_EQ(cl.configPath, "my.ini");
    EXPECT_TRUE(cl.internalXcp);

    cl = Parse({});
    EXPECT_EQ(cl.action, AgentAction::Run);
    EXPECT_TRUE(cl.serviceMode);
    EXPECT_FALSE(cl.configGiven);
    EXPECT_FALSE(cl.internalXcp);
}

TEST(AgentCommandLineParse, AVerbEndsTheParse) {
    AgentCommandLine cl = Parse({"install", "-c", "other.ini"});
    EXPECT_EQ(cl.action, AgentAction::Install);
    EXPECT_FALSE(cl.configGiven);

    EXPECT_EQ(Parse({"Remove"}).action, AgentAction::Remove);
    EXPECT_EQ(Parse({"start"}).action, AgentAction::Start);
    EXPECT_EQ(Parse({"daemon", "STOP"}).action, AgentAction::Stop);
    EXPECT_EQ(Parse({"pause", "-x"}).action, AgentAction::Pause);
    EXPECT_EQ(Parse({"resume"}).action, AgentAction::Resume);
}

// "status" alone takes what may follow it: "--json" and "-c file".
TEST(AgentCommandLineParse, StatusTakesJsonAndTheFileAfterIt) {
    AgentCommandLine cl = Parse({"-c", "a.ini", "status"});
    EXPECT_EQ(cl.action, AgentAction::Status);
    EXPECT_FALSE(cl.json);
    EXPECT_EQ(cl.configPath, "a.ini");
    cl = Parse({"STATUS", "--json", "-c", "b.ini"});
    EXPECT_EQ(cl.action, AgentAction::Status);
    EXPECT_TRUE(cl.json);
    EXPECT_EQ(cl.configPath, "b.ini");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"status", "-json"}, {"status", "--json", "-c"}, {"status", "extra"}}) {
        EXPECT_EQ(Parse(args).action, AgentAction::Usage) << args.back();
    }
}

TEST(AgentCommandLineParse, AnInstanceIsNamedBeforeAVerbOrAfterStatus) {
    AgentCommandLine cl = Parse({"-n", "ups-2", "-c", "ups2.ini", "install"});
    EXPECT_EQ(cl.action, AgentAction::Install);
    EXPECT_EQ(cl.instanceName, "ups-2");
    EXPECT_EQ(Parse({"status", "/N", "b_1"}).instanceName, "b_1");
    EXPECT_EQ(Parse({"start"}).instanceName, "");
    const std::string tooLong(33, 'a');
    for (const auto& args : std::vector<std::vector<std::string>>{{"-n"},
                                                                  {"-n", ""},
                                                                  {"-n", "a b"},
                                                                  {"-n", "../x"},
                                                                  {"-n", "a.b"},
                                                                  {"-n", tooLong},
                                                                  {"status", "-n"},
                                                                  {"status", "-n", "x/y"}}) {
        EXPECT_EQ(Parse(args).action, AgentAction::Usage) << args.back();
    }
    EXPECT_TRUE(IsInstanceName(std::string(32, 'Z')));
}

TEST(AgentCommandLineParse, BadWordsAndAMissingFileGiveTheUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-x"}, {"extra"}, {"-c"}, {"daemon", "-c"}, {""}, {"-"}, {"/"}, {"installs"}}) {
        EXPECT_EQ(Parse(args).action, AgentAction::Usage) << args.back();
    }
    // What was accepted before the bad word is kept, but the usage wins.
    AgentCommandLine cl = Parse({"-i", "-c", "x.ini", "-q", "install"});
    EXPECT_EQ(cl.action, AgentAction::Usage);
}

TEST(AgentCommandLineParse, EveryVersionRequestCountsWhereverItStands) {
    EXPECT_EQ(Parse({"-v", "install"}).versionRequests, 1);
    EXPECT_EQ(Parse({"/V", "-V"}).versionRequests, 2);
    EXPECT_EQ(Parse({"-c", "-v.ini"}).versionRequests, 1);
    EXPECT_EQ(Parse({"extra", "-version"}).versionRequests, 1);
    EXPECT_EQ(Parse({"v", "-", "/", "-x"}).versionRequests, 0);
}

}  // namespace
