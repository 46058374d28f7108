// The INI format's find and write steps, on real files in a folder per test.
#include "common/config/ini_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scratch_dir.h"

namespace {

using ini::HeaderStyle;

class IniFormat : public ::testing::Test {
protected:
    ScratchDir m_Dir{"ini"};
    std::string m_File = m_Dir.File("test.ini");

    void Given(const std::string& text) { ASSERT_TRUE(WriteText(m_File, text)); }

    // The value the find-entry step reaches, or "<none>".
    std::string Entry(const char* section, const char* key,
                      HeaderStyle style = HeaderStyle::FirstColumn) {
        ini::FilePtr f = ini::FindEntry(m_File.c_str(), section, key, style);
        if (!f) return "<none>";
        std::string value;
        if (!ini::ReadRestOfLine(f.Get(), value)) return "<eof>";
        return value;
    }

    // The line the find-section step stops before, or "<none>".
    std::string AfterHeader(const char* section, HeaderStyle style = HeaderStyle::FirstColumn) {
        ini::FilePtr f = ini::FindSection(m_File.c_str(), section, style);
        if (!f) return "<none>";
        std::string line;
        if (!ini::ReadRestOfLine(f.Get(), line)) return "<eof>";
        return line;
    }
};

TEST_F(IniFormat, SectionHeadersMatchWithoutCaseAndNeedTheClosingBracket) {
    Given("[agents]\nA=1\n[agent] trailing words\nB=2\n[Agen]\nC=3\n");
    EXPECT_EQ(AfterHeader("AGENT"), "B=2\n");  // "[agents]" is another section
    EXPECT_EQ(AfterHeader("AgEnTs"), "A=1\n");
    EXPECT_EQ(AfterHeader("Agent1"), "<none>");
    EXPECT_EQ(AfterHeader("Age"), "<none>");  // "[Agen]" needs "]" after "Age"

    Given("[Last]");
    EXPECT_EQ(AfterHeader("last"), "<eof>");
}

TEST_F(IniFormat, NothingIsFoundInAFileThatIsMissing) {
    EXPECT_EQ(AfterHeader("Agent"), "<none>");
    EXPECT_EQ(Entry("Agent", "Port"), "<none>");
    EXPECT_FALSE(FileExists(m_File));  // readers never create the file
}

TEST_F(IniFormat, IndentedHeadersCountOnlyWhereTheStyleAllowsBlanks) {
    Given("  [Agent]\nPort=COM2\n\t[Other]\nX=1\n");
    EXPECT_EQ(AfterHeader("Agent"), "<none>");
    EXPECT_EQ(Entry("Agent", "Port"), "<none>");
    EXPECT_EQ(AfterHeader("Agent", HeaderStyle::LeadingBlanks), "Port=COM2\n");
    EXPECT_EQ(Entry("agent", "port", HeaderStyle::LeadingBlanks), "COM2\n");
    EXPECT_EQ(Entry("other", "x", HeaderStyle::LeadingBlanks), "1\n");
}

TEST_F(IniFormat, EntriesMatchWithoutCaseWithBlanksBeforeTheEquals) {
    Given("[agent]\nPORTNAME=wrong\nPORT \t = COM3 \n");
    EXPECT_EQ(Entry("Agent", "PortName"), "wrong\n");
    // "PORTNAME" holds "Port" as a prefix but is not the key.
    EXPECT_EQ(Entry("Agent", "Port"), " COM3 \n");
    EXPECT_EQ(Entry("Agent", "Ports"), "<none>");
}

TEST_F(IniFormat, EntrySearchStartsAtTheHeaderAndRunsOnThroughLaterSections) {
    Given("Port=before\n[Other]\nPort=other\n[Agent]\nBaud=1\n[Later]\nPort=later\nPort=second\n");
    EXPECT_EQ(Entry("Agent", "Port"), "later\n");
    EXPECT_EQ(Entry("Other", "Port"), "other\n");
    EXPECT_EQ(Entry("Later", "Baud"), "<none>");
}

TEST_F(IniFormat, IndentedEntryLinesAreNeverFound) {
    Given("[Agent]\n Port=COM4\n\tBaud=9600\n");
    EXPECT_EQ(Entry("Agent", "Port"), "<none>");
    EXPECT_EQ(Entry("Agent", "Baud"), "<none>");
}

TEST_F(IniFormat, EmptyLinesAndStrayCarriageReturnsBeforeAnEntryAreSkipped) {
    Given("[Agent]\n\n\r\n\r\rPort=COM5\n");
    EXPECT_EQ(Entry("Agent", "Port"), "COM5\n");
}

TEST_F(IniFormat, ALineHoldingOnlyPartOfTheKeyDoesNotHideTheEntryBelowIt) {
    // The blanks after a partly matched key run over the line end; the next
    // line must still be looked at from its start.
    Given("[Agent]\nPo\nPort=COM6\n");
    EXPECT_EQ(Entry("Agent", "Port"), "COM6\n");
    Given("[Agent]\nPort\nPort=COM7\n");
    EXPECT_EQ(Entry("Agent", "Port"), "COM7\n");
    // The "=" may follow on a later line: blanks include line ends.
    Given("[Agent]\nPort\n\n= COM8\n");
    EXPECT_EQ(Entry("Agent", "Port"), " COM8\n");
}

TEST_F(IniFormat, AnEntryWithNothingAfterTheEqualsAtTheEndOfTheFileReadsNothing) {
    Given("[Agent]\nPort=");
    EXPECT_EQ(Entry("Agent", "Port"), "<eof>");
}

TEST_F(IniFormat, LongLinesAreReadInPiecesOf255Characters) {
    std::string value(300, 'v');
    Given("[Agent]\nPort=" + value + "\n");
    EXPECT_EQ(Entry("Agent", "Port"), value.substr(0, 255));
}

// ---- The write rule -------------------------------------------------------

TEST_F(IniFormat, AWriteCreatesAMissingFileWithTheHeaderAndTheEntry) {
    ASSERT_TRUE(ini::Write(m_File.c_str(), "Agent", "Port", "COM1"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[Agent]\nPort=COM1\n"));
    EXPECT_EQ(Entry("agent", "port"), "COM1\n");
}

TEST_F(IniFormat, AnEmptyFileGetsTheSectionAppended) {
    Given("");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "S", "K", ""));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[S]\nK=\n"));
}

TEST_F(IniFormat, AnExistingEntryIsReplacedInPlaceSpelledAsTheCallerSpellsIt) {
    Given("; not a comment, just a line\n[agent]\nPORT=COM1\nBaud=1200\n[Other]\nPort=x\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "AGENT", "Port", "COM9"));
    EXPECT_EQ(
        ReadBytes(m_File),
        OnDisk("; not a comment, just a line\n[agent]\nPort=COM9\nBaud=1200\n[Other]\nPort=x\n"));
}

TEST_F(IniFormat, ANewKeyLandsAtTheEndOfItsSectionAndANewSectionAtTheEnd) {
    Given("[A]\nx=1\n\n\n[B]\ny=2\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "a", "z", "3"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\nx=1\nz=3\n[B]\ny=2\n"));
    ASSERT_TRUE(ini::Write(m_File.c_str(), "B", "w", "4"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\nx=1\nz=3\n[B]\ny=2\nw=4\n"));
    ASSERT_TRUE(ini::Write(m_File.c_str(), "C", "v", "5"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\nx=1\nz=3\n[B]\ny=2\nw=4\n[C]\nv=5\n"));
}

TEST_F(IniFormat, AWriteDropsEveryEmptyLineAndKeepsEveryOtherLineInOrder) {
    Given("\n  \nfree text = ?\n\n[X]\n\n a=1\n\n[Y]\n#x\n\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "Y", "k", "v"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("  \nfree text = ?\n[X]\n a=1\n[Y]\n#x\nk=v\n"));
}

TEST_F(IniFormat, AKeyWithABlankBeforeTheEqualsGetsASecondLineThatReadsMiss) {
    Given("[Agent]\nPort =COM1\nBaud=1\n[Next]\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "Agent", "Port", "COM2"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[Agent]\nPort =COM1\nBaud=1\nPort=COM2\n[Next]\n"));
    EXPECT_EQ(Entry("Agent", "Port"), "COM1\n");  // the old line comes first
}

TEST_F(IniFormat, OnlyTheFirstEntryLineOfASectionIsReplaced) {
    Given("[A]\nk=1\nk=2\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "K", "9"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\nK=9\nk=2\n"));
}

TEST_F(IniFormat, EveryOccurrenceOfTheSectionIsWorkedOn) {
    Given("[A]\nk=1\n[B]\n[A]\nk=2\n[A]\nx=1\n[C]\n[A]\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "k", "9"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\nk=9\n[B]\n[A]\nk=9\n[A]\nx=1\nk=9\n[C]\n[A]\n"));
}

TEST_F(IniFormat, TheWriterFindsAnIndentedTargetHeaderOnlyWhereTheStyleAllowsBlanks) {
    Given("  [A]\nx=1\n  [B]\ny=2\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "k", "v", HeaderStyle::LeadingBlanks));
    // An indented header of another section does not end the section.
    EXPECT_EQ(ReadBytes(m_File), OnDisk("  [A]\nx=1\n  [B]\ny=2\nk=v\n"));

    Given("  [A]\nx=1\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "k", "v"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("  [A]\nx=1\n[A]\nk=v\n"));
}

TEST_F(IniFormat, ALastLineWithoutALineEndKeepsItsValue) {
    Given("[A]\nx=1");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "y", "2"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\nx=1\ny=2\n"));
    EXPECT_EQ(Entry("A", "x"), "1\n");

    Given("[A]\nx=1");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "B", "y", "2"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\nx=1\n[B]\ny=2\n"));
}

TEST_F(IniFormat, ALineOfExactly255CharactersKeepsItsLineEnd) {
    // Read in pieces, such a line arrives as 255 characters and then a bare
    // line end, which is no empty line.
    std::string longLine = "note=" + std::string(250, 'n');
    ASSERT_EQ(longLine.size(), 255u);
    Given("[A]\n" + longLine + "\nother=1\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "x", "2"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\n" + longLine + "\nother=1\nx=2\n"));
}

// ---- A write never loses the file ----------------------------------------

bool FailingCommit(const std::string&, const std::string&) { return false; }

TEST_F(IniFormat, AFailedReplacementLeavesTheFileAsItWasAndNoTemporaryBehind) {
    const std::string before = "[A]\n\nx=1\n";
    Given(before);
    const std::string bytes = ReadBytes(m_File);
    EXPECT_FALSE(ini::WriteWithCommit(m_File.c_str(), "A", "x", "2", HeaderStyle::FirstColumn,
                                      &FailingCommit));
    EXPECT_EQ(ReadBytes(m_File), bytes);
    EXPECT_EQ(m_Dir.List(), std::vector<std::string>{"test.ini"});
}

TEST_F(IniFormat, ASuccessfulWriteLeavesOnlyTheFileInItsFolder) {
    Given("[A]\nx=1\n");
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "x", "2"));
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "y", "3"));
    EXPECT_EQ(m_Dir.List(), std::vector<std::string>{"test.ini"});
    EXPECT_EQ(ReadBytes(m_File), OnDisk("[A]\nx=2\ny=3\n"));
}

TEST_F(IniFormat, AWriteIntoAMissingFolderChangesNothing) {
    std::string path = m_Dir.File("missing") + "/test.ini";
    EXPECT_FALSE(ini::Write(path.c_str(), "A", "x", "1"));
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(m_Dir.List().empty());
}

TEST_F(IniFormat, AFileNamedWithoutAFolderIsWrittenInTheCurrentFolder) {
    // The temporary file must land beside it, not in some other folder.
    ScratchDir work("cwd");
    std::string old = std::filesystem::current_path().string();
    std::filesystem::current_path(work.Path());
    bool ok = ini::Write("plain.ini", "A", "x", "1");
    std::filesystem::current_path(old);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadBytes(work.File("plain.ini")), OnDisk("[A]\nx=1\n"));
    EXPECT_EQ(work.List(), std::vector<std::string>{"plain.ini"});
}

}  // namespace

namespace {

TEST_F(IniFormat, ANulByteInALineLosesNeitherTheLineNorTheNextOne) {
    const char before[] = "[Junk]\nab\0cd\n[A]\nx=1\n";
    const char after[] = "[Junk]\nab\0cd\n[A]\nx=2\n";
    ASSERT_TRUE(WriteBytes(m_File, std::string(before, sizeof before - 1)));
    ASSERT_TRUE(ini::Write(m_File.c_str(), "A", "x", "2"));
    EXPECT_EQ(ReadBytes(m_File), OnDisk(std::string(after, sizeof after - 1)));
    EXPECT_EQ(Entry("A", "x"), "2\n");
}

}  // namespace
