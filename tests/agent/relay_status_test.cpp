// The texts made of the relay's status: the file's fields read back as
// written, systemd's line with its grouped counts, and the Prometheus text
// with every counter and its labels escaped.
#include "agent/relay_status.h"

#include <gtest/gtest.h>

namespace {

RelayStatus Attached() {
    RelayStatus s;
    s.state = RelayState::Attached;
    s.agentPort = 7010;
    s.portName = "/dev/ttyS0";
    s.family = "Quillon";
    s.model = "1500 \"RT\"\n";
    s.versions = "1.0 2.5";
    s.baud = 19200;
    s.counters.answered = 1234;
    s.counters.privilegedRefused = 2;
    s.counters.upsTimeouts = 1000000;
    s.losses = 1;
    return s;
}

}  // namespace

TEST(RelayStatusTexts, FileLineAndPrometheusSayTheSame) {
    RelayStatus s = Attached();
    StatusFields fields = ParseStatusFile(StatusFileText(s));
    EXPECT_EQ(FieldValue(fields, "state"), "attached");
    // No line break gets through, and the text stays exact, escaped.
    EXPECT_EQ(FieldValue(fields, "ups_model"), "1500 \"RT\"\\x0A");
    EXPECT_EQ(FieldValue(fields, "answered"), "1234");
    EXPECT_EQ(FieldValue(fields, "losses"), "1");
    EXPECT_EQ(fields.size(), FieldsOf(s).size());
    EXPECT_TRUE(IsCounterField("privileged_refused"));
    EXPECT_FALSE(IsCounterField("baud"));

    EXPECT_EQ(SystemdStatusLine(s),
              "UPS Quillon 1500 \"RT\"\\x0A (1.0 2.5) at 19200 baud; 1,234 answered, 2 refused, "
              "1,000,000 timed out");
    s.state = RelayState::Paused;
    EXPECT_EQ(SystemdStatusLine(s).rfind("Paused; UPS Quillon", 0), 0u);
    s.state = RelayState::Searching;
    EXPECT_EQ(SystemdStatusLine(s).rfind("Looking for the UPS on /dev/ttyS0; 1,234 answered", 0),
              0u);

    std::string prom = PrometheusText(Attached());
    EXPECT_NE(prom.find("qln_state{port=\"7010\",state=\"attached\"} 1\n"), std::string::npos);
    EXPECT_NE(prom.find("qln_state{port=\"7010\",state=\"searching\"} 0\n"), std::string::npos);
    EXPECT_NE(prom.find("model=\"1500 \\\"RT\\\"\\\\x0A\""), std::string::npos) << prom;
    EXPECT_NE(
        prom.find("# TYPE qln_answered_total counter\nqln_answered_total{port=\"7010\"} 1234\n"),
        std::string::npos);
    for (const StatusField& field : fields) {
        if (IsCounterField(field.first)) {
            EXPECT_NE(prom.find("qln_" + field.first + "_total{"), std::string::npos)
                << field.first;
        }
    }
}

// systemd's line says the state the file says, for a UPS found and for none:
// before, a stop with no UPS ever found read "UPS   () at 9600 baud" and a
// stop with one read as attached.
TEST(RelayStatusTexts, SystemdLineSaysEveryStateOfTheFile) {
    RelayStatus none;
    none.portName = "/dev/ttyUSB0";
    none.baud = 9600;
    const struct {
        RelayState state;
        bool found;
        const char* begins;
    } cases[] = {
        {RelayState::Searching, false, "Looking for the UPS on /dev/ttyUSB0; 0 answered"},
        {RelayState::Searching, true, "Looking for the UPS on /dev/ttyS0; 1,234 answered"},
        {RelayState::Attached, true, "UPS Quillon 1500 \"RT\"\\x0A (1.0 2.5) at 19200 baud; 1,234"},
        {RelayState::Paused, true, "Paused; UPS Quillon 1500 \"RT\"\\x0A (1.0 2.5) at 19200 baud;"},
        {RelayState::Paused, false, "Paused; no UPS found on /dev/ttyUSB0; 0 answered"},
        {RelayState::Stopped, true,
         "Stopping; UPS Quillon 1500 \"RT\"\\x0A (1.0 2.5) at 19200 baud;"},
        {RelayState::Stopped, false, "Stopping; no UPS found on /dev/ttyUSB0; 0 answered"},
    };
    for (const auto& c : cases) {
        RelayStatus s = c.found ? Attached() : none;
        s.state = c.state;
        std::string line = SystemdStatusLine(s);
        EXPECT_EQ(line.rfind(c.begins, 0), 0u) << StateName(c.state) << ": " << line;
        EXPECT_EQ(line.find("()"), std::string::npos) << line;
    }
}
