// The user's language and the reader's character set, from the locale
// variables alone (no locale needs to be installed).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/user_language.h"

namespace {

class LocaleVariables : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames) {
            const char* v = std::getenv(name);
            m_Saved.push_back(v ? std::make_pair(true, std::string(v))
                                : std::make_pair(false, std::string()));
            ::unsetenv(name);
        }
    }
    void TearDown() override {
        for (size_t i = 0; i < m_Saved.size(); ++i) {
            if (m_Saved[i].first) {
                ::setenv(kNames[i], m_Saved[i].second.c_str(), 1);
            } else {
                ::unsetenv(kNames[i]);
            }
        }
    }
    static constexpr const char* kNames[4] = {"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANG"};
    std::vector<std::pair<bool, std::string>> m_Saved;
};

TEST_F(LocaleVariables, JapaneseComesFromTheFirstVariableSet) {
    EXPECT_EQ(plat::UserLanguageId(), plat::kLangEnglishUS);  // nothing set
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(plat::UserLanguageId(), plat::kLangJapanese);
    ::setenv("LC_MESSAGES", "C", 1);
    EXPECT_EQ(plat::UserLanguageId(), plat::kLangEnglishUS);
    ::setenv("LC_ALL", "ja", 1);
    EXPECT_EQ(plat::UserLanguageId(), plat::kLangJapanese);
    ::setenv("LC_ALL", "", 1);  // empty counts as unset
    EXPECT_EQ(plat::UserLanguageId(), plat::kLangEnglishUS);
    ::setenv("LC_MESSAGES", "de_DE.UTF-8", 1);  // no table of its own: English
    EXPECT_EQ(plat::UserLanguageId(), plat::kLangEnglishUS);
}

TEST_F(LocaleVariables, JapaneseTextsReachTheReaderInTheLocaleCharset) {
    const std::string sjis = "UPS\x82\xc6\x82\xcc\x92\xca\x90M";  // "UPS" + 4 characters
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_EQ(plat::ForReader(sjis), "UPS\xe3\x81\xa8\xe3\x81\xae\xe9\x80\x9a\xe4\xbf\xa1");
    ::setenv("LC_ALL", "ja_JP.eucJP", 1);
    EXPECT_EQ(plat::ForReader(sjis), "UPS\xa4\xc8\xa4\xce\xc4\xcc\xbf\xae");
    ::setenv("LC_ALL", "ja_JP", 1);  // no codeset named: UTF-8
    EXPECT_EQ(plat::ForReader(sjis).substr(0, 6), "UPS\xe3\x81\xa8");
    // A byte that does not convert is replaced, the rest still converts.
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_EQ(plat::ForReader(std::string("a\x82", 2)), "a?");
    EXPECT_EQ(plat::ForReader("plain\n"), "plain\n");
}

TEST_F(LocaleVariables, EnglishTextsStayReadable) {
    ::setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(plat::ForReader("UPS communications lost.\n"), "UPS communications lost.\n");
    EXPECT_EQ(plat::ForReader("caf\xe9"), "caf\xc3\xa9");  // code page 1252 to UTF-8
    ::setenv("LANG", "en_US.NO-SUCH-CHARSET", 1);
    EXPECT_EQ(plat::ForReader("caf\xe9"), "caf\xe9");  // unknown charset: unchanged
}

}  // namespace
