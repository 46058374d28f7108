// Tests that depend on the user's language, which the test run sets: English
// in the ordinary run, Japanese in the run with LC_ALL=ja_JP.UTF-8. That run
// sets QLN_REQUIRE_JAPANESE: there the Japanese tests must not be skipped.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/user_language.h"

inline bool UserIsJapanese() { return plat::UserLanguageId() == plat::kLangJapanese; }

// Skips the test unless the user is Japanese (`japanese` true) or is not.
#define REQUIRE_USER_LANGUAGE(japanese)                                                      \
    do {                                                                                     \
        if (UserIsJapanese() != (japanese)) {                                                \
            if (std::getenv("QLN_REQUIRE_JAPANESE") && (japanese)) FAIL() << "not Japanese"; \
            GTEST_SKIP() << "needs another user language";                                   \
        }                                                                                    \
    } while (0)
