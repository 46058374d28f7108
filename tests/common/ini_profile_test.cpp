// The INI file profile: its cache in front of the file, its file format
// rules, and what never reaches the file.
#include "common/config/ini_profile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

// A profile whose file is `path`, as the framework sets it up at start-up.
class FileProfile : public CINIProfile {
public:
    explicit FileProfile(const std::string& path) : CINIProfile("test") {
        Set("Dynamic", "INIFile", path.c_str());
    }
};

TEST(IniProfile, WithoutAFileReadsGiveDefaultsAndTheFirstSetCreatesIt) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    FileProfile p(path);
    EXPECT_EQ(p.GetString("Net", "Host", "localhost", false), "localhost");
    EXPECT_TRUE(p.GetBool("Net", "On", true, false));
    EXPECT_EQ(p.GetInt("Net", "Port", 7010, false), 7010);
    EXPECT_DOUBLE_EQ(p.GetReal("Net", "Ratio", 0.5, false), 0.5);
    EXPECT_EQ(p.GetDateTime("Net", "Since", 99ul, false).GetULONG(), 99);
    EXPECT_FALSE(FileExists(path));

    p.Set("Net", "Port", 7011);
    EXPECT_EQ(ReadBytes(path), OnDisk("[Net]\nPort=7011\n"));
}

TEST(IniProfile, EveryValueTypeRoundTripsThroughTheFile) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    {
        FileProfile writer(path);
        writer.Set("Values", "Text", " leading blank, = and ; kept");
        writer.Set("Values", "Empty", "");
        writer.Set("Values", "Yes", true);
        writer.Set("Values", "No", false);
        writer.Set("Values", "Count", -42);
        writer.Set("Values", "Ratio", 1234.5678);
        writer.Set("Values", "Tiny", -0.000001);
        writer.Set("Values", "Huge", 1e300);
        writer.Set("Values", "When", CDateTime(1782151500L));
        writer.Set("Values", "Never", CDateTime(-1L));
    }
    EXPECT_EQ(ReadBytes(path), OnDisk("[Values]\n"
                                      "Text= leading blank, = and ; kept\n"
                                      "Empty=\n"
                                      "Yes=1\n"
                                      "No=0\n"
                                      "Count=-42\n"
                                      "Ratio=1234.567800\n"
                                      "Tiny=-0.000001\n"
                                      "Huge=1e+300\n"
                                      "When=1782151500\n"
                                      "Never=" +
                                      std::to_string(static_cast<unsigned long>(-1L)) + "\n"));

    // A fresh profile has nothing cached: everything comes from the file.
    FileProfile reader(path);
    EXPECT_EQ(reader.GetString("values", "TEXT", "", false), " leading blank, = and ; kept");
    EXPECT_EQ(reader.GetString("Values", "Empty", "def", false), "");
    EXPECT_TRUE(reader.GetBool("Values", "Yes", false, false));
    EXPECT_FALSE(reader.GetBool("Values", "No", true, false));
    EXPECT_EQ(reader.GetInt("Values", "Count", 0, false), -42);
    EXPECT_DOUBLE_EQ(reader.GetReal("Values", "Ratio", 0, false), 1234.5678);
    EXPECT_DOUBLE_EQ(reader.GetReal("Values", "Tiny", 0, false), -0.000001);
    // Six decimals of 1e300 do not fit the number buffer; a cut text would
    // read back as some other number.
    double huge = reader.GetReal("Values", "Huge", 0, false);
    EXPECT_LT(std::fabs(huge - 1e300) / 1e300, 1e-11) << huge;
    EXPECT_EQ(reader.GetDateTime("Values", "When", 0ul, false), CDateTime(1782151500L));
    EXPECT_EQ(reader.GetDateTime("Values", "Never", 0ul, false).GetULONG(), -1);
}

TEST(IniProfile, ReadsFollowTheFormatsNumberRules) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    ASSERT_TRUE(WriteText(path,
                          "   [Flags]\n"
                          "Word=true\n"
                          "Two=2\n"
                          "Zero=0\n"
                          "Blank= 1\n"
                          "Nothing=\n"
                          "Mixed=12abc\n"
                          "Letters=abc\n"
                          "Overflow=99999999999999999999\n"
                          "Real=2.5e3 volts\n"
                          "Seconds=  123\n"));
    FileProfile p(path);
    // The header with blanks in front is found; bools are integers only.
    EXPECT_TRUE(p.GetBool("Flags", "Word", true, false));
    EXPECT_FALSE(p.GetBool("Flags", "Word", false, false));
    EXPECT_TRUE(p.GetBool("Flags", "Two", false, false));
    EXPECT_FALSE(p.GetBool("Flags", "Zero", true, false));
    EXPECT_TRUE(p.GetBool("Flags", "Blank", false, false));
    EXPECT_TRUE(p.GetBool("Flags", "Nothing", true, false));
    EXPECT_EQ(p.GetInt("Flags", "Mixed", -1, false), 12);
    EXPECT_EQ(p.GetInt("Flags", "Letters", -1, false), -1);
    EXPECT_EQ(p.GetInt("Flags", "Nothing", -1, false), -1);
    // A number beyond int is no int: the default, not a wrapped value.
    EXPECT_EQ(p.GetInt("Flags", "Overflow", -1, false), -1);
    EXPECT_DOUBLE_EQ(p.GetReal("Flags", "Real", 0, false), 2500.0);
    EXPECT_EQ(p.GetDateTime("Flags", "Seconds", 0ul, false).GetULONG(), 123);
    EXPECT_EQ(p.GetDateTime("Flags", "Letters", 5ul, false).GetULONG(), 5);

    // A write finds the indented header too and replaces the entry in place.
    p.Set("Flags", "Two", 3);
    std::string text = ReadBytes(path);
    EXPECT_NE(text.find(OnDisk("   [Flags]\nWord=true\nTwo=3\nZero=0\n")), std::string::npos)
        << text;
}

TEST(IniProfile, LineEndsNeverReachAStringValue) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    ASSERT_TRUE(WriteBytes(path, "[S]\r\nv=abc\r\r\nw=\r\n"));
    FileProfile p(path);
    EXPECT_EQ(p.GetString("S", "v", "", false), "abc");
    EXPECT_EQ(p.GetString("S", "w", "def", false), "");
}

TEST(IniProfile, DynamicLivesInTheCacheOnly) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    const std::string before = "[Dynamic]\nBaseDir=/from/file/\nLevel=5\nOn=1\n[Other]\nx=1\n";
    ASSERT_TRUE(WriteText(path, before));
    FileProfile p(path);
    // Not read from the file, whatever the type...
    EXPECT_EQ(p.GetString("Dynamic", "BaseDir", "def", true), "def");
    EXPECT_EQ(p.GetInt("Dynamic", "Level", 1, true), 1);
    EXPECT_FALSE(p.GetBool("Dynamic", "On", false, true));
    // ...and never written to it.
    p.Set("Dynamic", "BaseDir", "/opt/qln/");
    p.Set("Dynamic", "Level", 9);
    p.Set("Dynamic", "On", true);
    p.Set("Dynamic", "Ratio", 0.25);
    p.Set("Dynamic", "When", CDateTime(5L));
    EXPECT_EQ(ReadBytes(path), OnDisk(before));
    EXPECT_EQ(p.GetString("Dynamic", "BaseDir", "def", false), "/opt/qln/");
    EXPECT_EQ(p.GetInt("Dynamic", "Level", 1, false), 9);
    EXPECT_DOUBLE_EQ(p.GetReal("Dynamic", "Ratio", 0, false), 0.25);
    EXPECT_EQ(p.GetDateTime("Dynamic", "When", 0ul, false).GetULONG(), 5);

    // Another letter case is no run-time section: it is an ordinary one.
    EXPECT_EQ(p.GetString("dynamic", "BaseDir", "def", false), "/from/file/");
}

TEST(IniProfile, WithoutItsPathReadsGiveDefaultsAndWritesReachOnlyTheCache) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    ASSERT_TRUE(WriteText(path, "[S]\nk=7\n"));
    CINIProfile p("early");
    EXPECT_EQ(p.GetInt("S", "k", 1, false), 1);
    p.Set("S", "n", 8);
    EXPECT_EQ(p.GetInt("S", "n", 0, false), 8);

    p.Set("Dynamic", "INIFile", path.c_str());
    EXPECT_EQ(p.GetInt("S", "k", 1, false), 7);
    EXPECT_EQ(p.GetInt("S", "n", 0, false), 8);  // from the cache
    EXPECT_EQ(ReadBytes(path), OnDisk("[S]\nk=7\n"));
}

TEST(IniProfile, CachedReadsIgnoreLaterChangesOfTheFile) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    ASSERT_TRUE(WriteText(path, "[S]\ns=old\n"));
    FileProfile p(path);
    EXPECT_EQ(p.GetString("S", "s", "", true), "old");
    EXPECT_EQ(p.GetInt("S", "absent", 3, true), 3);  // the default is cached too
    EXPECT_EQ(p.GetInt("S", "uncached", 3, false), 3);

    ASSERT_TRUE(WriteText(path, "[S]\ns=new\nabsent=4\nuncached=5\n"));
    EXPECT_EQ(p.GetString("S", "s", "", true), "old");
    EXPECT_EQ(p.GetInt("S", "absent", 0, false), 3);
    EXPECT_EQ(p.GetInt("S", "uncached", 0, false), 5);
    // The caches are per type: the same entry read as a string is read anew.
    EXPECT_EQ(p.GetString("S", "absent", "", false), "4");
}

TEST(IniProfile, TwoSpellingsAreTwoCacheEntriesForOneFileEntry) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    FileProfile p(path);
    p.Set("Sec", "Key", "a");
    p.Set("SEC", "KEY", "b");
    EXPECT_EQ(p.GetString("Sec", "Key", "", false), "a");
    EXPECT_EQ(p.GetString("SEC", "KEY", "", false), "b");
    EXPECT_EQ(ReadBytes(path), OnDisk("[Sec]\nKEY=b\n"));
    FileProfile fresh(path);
    EXPECT_EQ(fresh.GetString("sec", "key", "", false), "b");
}

TEST(IniProfile, ValuesTheFormatCannotHoldStayOutOfTheFile) {
    ScratchDir dir("iniprof");
    std::string path = dir.File("app.ini");
    const std::string before = "[S]\nname=kept\n";
    ASSERT_TRUE(WriteText(path, before));
    FileProfile p(path);
    // A line end would smuggle lines of its own into the file.
    p.Set("S", "name", "x\n[Evil]\nname=y");
    p.Set("S", "line\nend", 1);
    p.Set("S\n[T]", "name", 1);
    // A line too long to be read back whole would have its tail read as a line.
    std::string longText(300, 'z');
    p.Set("S", "name", longText.c_str());
    EXPECT_EQ(ReadBytes(path), OnDisk(before));
    EXPECT_EQ(p.GetString("S", "name", "", false), longText);  // the cache holds it

    // The longest line that is read back whole is written.
    std::string fits(254 - 5, 'w');
    p.Set("S", "name", fits.c_str());
    FileProfile fresh(path);
    EXPECT_EQ(fresh.GetString("S", "name", "", false), fits);
}

TEST(IniProfile, AFileThatCannotBeWrittenLosesNothing) {
    // The path names a folder: it can be neither read nor replaced.
    ScratchDir folder("inifolder");
    ASSERT_TRUE(WriteText(folder.File("keep.txt"), "data"));
    FileProfile p(folder.Path());
    p.Set("S", "k", 5);
    EXPECT_EQ(p.GetInt("S", "k", 0, false), 5);  // still in the cache
    EXPECT_EQ(p.GetInt("S", "other", -1, false), -1);
    EXPECT_EQ(folder.List(), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(ReadBytes(folder.File("keep.txt")), "data");

    // A path in a folder that does not exist: nothing is created anywhere.
    ScratchDir dir("iniprof");
    FileProfile lost(dir.File("missing") + "/app.ini");
    lost.Set("S", "k", "v");
    EXPECT_EQ(lost.GetString("S", "k", "", false), "v");
    EXPECT_TRUE(dir.List().empty());
}

}  // namespace
