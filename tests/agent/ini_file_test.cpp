// The agent's INI reader: string and integer values as the worker reads them.
#include "agent/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scratch_dir.h"

namespace {

class IniFile : public ::testing::Test {
protected:
    ScratchDir m_Dir{"inifile"};
    std::string m_Path = m_Dir.File("qln.ini");

    CINIFile Given(const std::string& text) {
        EXPECT_TRUE(WriteText(m_Path, text));
        return CINIFile(m_Path.c_str());
    }
};

TEST_F(IniFile, AMissingFileGivesTheDefaults) {
    CINIFile ini(m_Path.c_str());
    EXPECT_EQ(ini.GetString("Agent", "Port", "COM1"), "COM1");
    EXPECT_EQ(ini.GetInt("Agent", "Baud", 2400), 2400);
    EXPECT_EQ(ini.GetString("Agent", "Port", nullptr), "");
    EXPECT_FALSE(FileExists(m_Path));
}

TEST_F(IniFile, MissingSectionsAndKeysGiveTheDefaults) {
    CINIFile ini = Given("[Agent]\nPort=COM2\n");
    EXPECT_EQ(ini.GetString("Other", "Port", "d"), "d");
    EXPECT_EQ(ini.GetString("Agent", "Baud", "d"), "d");
    EXPECT_EQ(ini.GetInt("Agent", "Baud", -7), -7);
}

TEST_F(IniFile, SectionAndKeyMatchWithoutCase) {
    CINIFile ini = Given("[agent]\nPORT =COM3\nBAUD\t= 9600\n");
    EXPECT_EQ(ini.GetString("AgEnT", "pOrT", ""), "COM3");
    EXPECT_EQ(ini.GetInt("Agent", "Baud", 0), 9600);
}

TEST_F(IniFile, AnEntryMissingFromItsSectionIsFoundInALaterOne) {
    CINIFile ini = Given("[Agent]\nX=1\n[Serial]\nPort=COM4\n");
    EXPECT_EQ(ini.GetString("Agent", "Port", ""), "COM4");
}

TEST_F(IniFile, IndentedKeysAndHeadersAreNotFound) {
    CINIFile ini = Given("[Agent]\n Port=COM5\n [Net]\nPort2=1\n");
    EXPECT_EQ(ini.GetString("Agent", "Port", "d"), "d");
    EXPECT_EQ(ini.GetString("Net", "Port2", "d"), "d");
}

TEST_F(IniFile, StringValuesKeepBlanksAndMayBeEmpty) {
    CINIFile ini = Given("[A]\nEmpty=\nBlank= x \nLast=tail");
    EXPECT_EQ(ini.GetString("A", "Empty", "d"), "");
    EXPECT_EQ(ini.GetString("A", "Blank", "d"), " x ");
    EXPECT_EQ(ini.GetString("A", "Last", "d"), "tail");
}

TEST_F(IniFile, NothingAfterTheEqualsAtTheEndOfTheFileKeepsTheDefault) {
    CINIFile ini = Given("[A]\nEmpty=");
    EXPECT_EQ(ini.GetString("A", "Empty", "d"), "d");
    EXPECT_EQ(ini.GetInt("A", "Empty", 5), 5);
}

TEST_F(IniFile, OnlyOneLineEndIsTakenOffAString) {
    // A line that ends in two carriage returns and a line feed keeps one
    // carriage return in its value.
    CINIFile ini = Given("[A]\nPw=abc\r\n");
    EXPECT_EQ(ini.GetString("A", "Pw", ""), "abc\r");
}

TEST_F(IniFile, AStringValueIsCutAt255Characters) {
    std::string value(400, 'q');
    CINIFile ini = Given("[A]\nLong=" + value + "\nNext=1\n");
    EXPECT_EQ(ini.GetString("A", "Long", ""), value.substr(0, 255));
    EXPECT_EQ(ini.GetInt("A", "Next", 0), 1);
}

TEST_F(IniFile, IntegersReadTheLeadingDigitsOnly) {
    CINIFile ini = Given("[A]\nMixed=9600baud\nWord=fast\nBlank=  42\nZero=0\nBig=4294967295\n");
    EXPECT_EQ(ini.GetInt("A", "Mixed", 1), 9600);
    EXPECT_EQ(ini.GetInt("A", "Word", 1), 1);
    EXPECT_EQ(ini.GetInt("A", "Blank", 1), 42);
    EXPECT_EQ(ini.GetInt("A", "Zero", 1), 0);
    // Read as unsigned, returned as int.
    EXPECT_EQ(ini.GetInt("A", "Big", 1), -1);
}

TEST_F(IniFile, EveryReadOpensTheFileAfresh) {
    CINIFile ini = Given("[A]\nX=1\n");
    EXPECT_EQ(ini.GetInt("A", "X", 0), 1);
    ASSERT_TRUE(WriteText(m_Path, "[A]\nX=2\n"));
    EXPECT_EQ(ini.GetInt("A", "X", 0), 2);
}

}  // namespace

namespace {

// The agent's own keys, read as the worker reads them.
void ExpectAgentDefaults(CINIFile& ini) {
    EXPECT_EQ(ini.GetInt("Communications", "CommunicationsBaudRate", 0), 0);
    EXPECT_EQ(ini.GetInt("Communications", "CommunicationsBaudRateLast", 9600), 9600);
    EXPECT_EQ(ini.GetString("Communications", "CommunicationsPort", "COM1:"), "COM1:");
    EXPECT_EQ(ini.GetString("Network", "Passwd", "Wopra3"), "Wopra3");
    EXPECT_EQ(ini.GetInt("NetXCP", "AgentPort", 7010), 7010);
}

}  // namespace

TEST_F(IniFile, AFileThatCannotBeReadOrHoldsOnlyJunkGivesTheAgentsDefaults) {
    // A folder where the file should be: it cannot be opened for reading.
    ASSERT_TRUE(std::filesystem::create_directory(m_Path));
    {
        CINIFile ini(m_Path.c_str());
        ExpectAgentDefaults(ini);
    }
    // Junk: binary bytes, zero bytes, lines far longer than a line piece,
    // headers and keys that almost match, entries without "=".
    const char head[] = "\x01\xff\xfe\0[Communications\n[NetXCP\n";
    std::string junk(head, sizeof head - 1);
    junk += std::string(1000, 'A') + "\n[NETXCP]x\nAgentPort\n AgentPort=1\nAgentPortX=2\n";
    junk += "[Network]\n\0Passwd=zero\n\tPasswd=tab\n[Communications]\nCommunicationsPort\n";
    junk += std::string("\0\0\0", 3);
    const std::string junkPath = m_Dir.File("junk.ini");
    ASSERT_TRUE(WriteText(junkPath, junk));
    CINIFile ini(junkPath.c_str());
    ExpectAgentDefaults(ini);
}
