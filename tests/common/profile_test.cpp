// The profile's value caches, its "Dynamic" section and the factory.
#include "common/config/profile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/config/ini_profile.h"

namespace {

// The base profile with its probes in reach.
class ProbedProfile : public CProfile {
public:
    explicit ProbedProfile(const char* name) : CProfile(name) {}
    using CProfile::IsBoolCached;
    using CProfile::IsDateTimeCached;
    using CProfile::IsIntCached;
    using CProfile::IsRealCached;
    using CProfile::IsStringCached;
};

TEST(ProfileFactory, BuildsTheIniKindByItsExactName) {
    std::unique_ptr<CProfile> p(CProfile::Create("app", "INIFile"));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(dynamic_cast<CINIProfile*>(p.get()), nullptr);
    EXPECT_EQ(p->GetName(), "app");
    EXPECT_STREQ(CINIProfile::GetType(), "INIFile");

    for (const char* type : {"inifile", "INIFILE", "", "INIFile ", "Registry"}) {
        std::unique_ptr<CProfile> none(CProfile::Create("app", type));
        EXPECT_EQ(none, nullptr) << "'" << type << "'";
    }
    EXPECT_EQ(CProfile::Create("app", nullptr), nullptr);
}

TEST(ProfileCache, DefaultsUntilSetThenTheStoredValues) {
    CProfile p("base");
    EXPECT_EQ(p.GetString("S", "k", "def", true), "def");
    EXPECT_TRUE(p.GetBool("S", "k", true, true));
    EXPECT_EQ(p.GetInt("S", "k", -7, true), -7);
    EXPECT_DOUBLE_EQ(p.GetReal("S", "k", 2.5, true), 2.5);
    EXPECT_EQ(p.GetDateTime("S", "k", 1000ul, true).GetULONG(), 1000);
    // Reading with the cache flag set stores nothing in the base.
    EXPECT_EQ(p.GetInt("S", "k", 3, false), 3);

    p.Set("S", "k", "text");
    p.Set("S", "k", false);
    p.Set("S", "k", 42);
    p.Set("S", "k", -0.125);
    p.Set("S", "k", CDateTime(1782151500L));
    EXPECT_EQ(p.GetString("S", "k", "def", false), "text");
    EXPECT_FALSE(p.GetBool("S", "k", true, false));
    EXPECT_EQ(p.GetInt("S", "k", -7, false), 42);
    EXPECT_DOUBLE_EQ(p.GetReal("S", "k", 2.5, false), -0.125);
    EXPECT_EQ(p.GetDateTime("S", "k", 1000ul, false).GetULONG(), 1782151500);

    // A later Set replaces the value.
    p.Set("S", "k", 43);
    p.Set("S", "k", "other");
    EXPECT_EQ(p.GetInt("S", "k", 0, false), 43);
    EXPECT_EQ(p.GetString("S", "k", "", false), "other");
}

TEST(ProfileCache, TypesSectionsAndLetterCaseAreSeparate) {
    ProbedProfile p("base");
    p.Set("Sec", "Key", 5);
    EXPECT_TRUE(p.IsIntCached("Sec", "Key"));
    // A value stored as int is no string, bool, real or date-time.
    EXPECT_FALSE(p.IsStringCached("Sec", "Key"));
    EXPECT_FALSE(p.IsBoolCached("Sec", "Key"));
    EXPECT_FALSE(p.IsRealCached("Sec", "Key"));
    EXPECT_FALSE(p.IsDateTimeCached("Sec", "Key"));
    EXPECT_EQ(p.GetString("Sec", "Key", "none", false), "none");

    // Letter case counts in the cache: two spellings, two entries.
    EXPECT_FALSE(p.IsIntCached("SEC", "Key"));
    EXPECT_FALSE(p.IsIntCached("Sec", "key"));
    p.Set("Sec", "key", 6);
    EXPECT_EQ(p.GetInt("Sec", "Key", 0, false), 5);
    EXPECT_EQ(p.GetInt("Sec", "key", 0, false), 6);
    EXPECT_EQ(p.GetInt("Other", "Key", -1, false), -1);
}

TEST(ProfileCache, DynamicHoldsEveryTypeAndAnswersOnlyFromTheCache) {
    ProbedProfile p("base");
    // Every type of "Dynamic" counts as cached, so no file is ever asked.
    EXPECT_TRUE(p.IsStringCached("Dynamic", "BaseDir"));
    EXPECT_TRUE(p.IsBoolCached("Dynamic", "DebugMainLoop"));
    EXPECT_TRUE(p.IsIntCached("Dynamic", "n"));
    EXPECT_TRUE(p.IsRealCached("Dynamic", "r"));
    EXPECT_TRUE(p.IsDateTimeCached("Dynamic", "t"));
    // Only the exact spelling is reserved.
    EXPECT_FALSE(p.IsStringCached("dynamic", "BaseDir"));
    EXPECT_FALSE(p.IsIntCached("DYNAMIC", "n"));

    // Unset, each type gives the caller's default...
    EXPECT_EQ(p.GetString("Dynamic", "BaseDir", "d", true), "d");
    EXPECT_FALSE(p.GetBool("Dynamic", "DebugMainLoop", false, true));
    EXPECT_EQ(p.GetInt("Dynamic", "n", 17, true), 17);
    EXPECT_DOUBLE_EQ(p.GetReal("Dynamic", "r", 0.5, true), 0.5);
    EXPECT_EQ(p.GetDateTime("Dynamic", "t", 77ul, true).GetULONG(), 77);
    // ...and once set, the value stored.
    p.Set("Dynamic", "BaseDir", "/opt/qln/");
    p.Set("Dynamic", "DebugMainLoop", true);
    p.Set("Dynamic", "n", 9);
    p.Set("Dynamic", "r", 3.75);
    p.Set("Dynamic", "t", CDateTime(123456L));
    EXPECT_EQ(p.GetString("Dynamic", "BaseDir", "d", false), "/opt/qln/");
    EXPECT_TRUE(p.GetBool("Dynamic", "DebugMainLoop", false, false));
    EXPECT_EQ(p.GetInt("Dynamic", "n", 17, false), 9);
    EXPECT_DOUBLE_EQ(p.GetReal("Dynamic", "r", 0.5, false), 3.75);
    EXPECT_EQ(p.GetDateTime("Dynamic", "t", 77ul, false).GetULONG(), 123456);
}

TEST(ProfileCache, CopiesTakeTheNameAndAllCachesAndStayIndependent) {
    CProfile a("first");
    a.Set("S", "s", "one");
    a.Set("S", "b", true);
    a.Set("S", "i", 1);
    a.Set("S", "r", 1.5);
    a.Set("S", "t", CDateTime(10L));

    CProfile copy(a);
    CProfile assigned("second");
    assigned.Set("Old", "gone", 99);
    assigned = a;
    for (CProfile* p : {&copy, &assigned}) {
        EXPECT_EQ(p->GetName(), "first");
        EXPECT_EQ(p->GetString("S", "s", "", false), "one");
        EXPECT_TRUE(p->GetBool("S", "b", false, false));
        EXPECT_EQ(p->GetInt("S", "i", 0, false), 1);
        EXPECT_DOUBLE_EQ(p->GetReal("S", "r", 0, false), 1.5);
        EXPECT_EQ(p->GetDateTime("S", "t", 0ul, false).GetULONG(), 10);
    }
    // Assignment replaces the caches rather than merging into them.
    EXPECT_EQ(assigned.GetInt("Old", "gone", -1, false), -1);

    copy.Set("S", "i", 2);
    EXPECT_EQ(a.GetInt("S", "i", 0, false), 1);

    CINIProfile ini("ini");
    ini.Set("Dynamic", "BaseDir", "/x/");
    CINIProfile iniCopy(ini);
    EXPECT_EQ(iniCopy.GetString("Dynamic", "BaseDir", "", false), "/x/");
    CINIProfile iniAssigned("other");
    iniAssigned = ini;
    EXPECT_EQ(iniAssigned.GetName(), "ini");
    EXPECT_EQ(iniAssigned.GetString("Dynamic", "BaseDir", "", false), "/x/");
}

TEST(ProfileCache, NullNamesAreNoValuesAndNullTextIsEmpty) {
    CProfile p(nullptr);
    EXPECT_EQ(p.GetName(), "");
    p.Set(nullptr, "k", 1);
    p.Set("S", nullptr, 1);
    EXPECT_EQ(p.GetInt(nullptr, "k", -1, true), -1);
    EXPECT_EQ(p.GetInt("S", nullptr, -1, true), -1);
    EXPECT_EQ(p.GetString("S", "k", nullptr, true), "");
    p.Set("S", "k", static_cast<const char*>(nullptr));
    EXPECT_EQ(p.GetString("S", "k", "def", true), "");
}

}  // namespace
