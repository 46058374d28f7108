// The agent's one link-time use of the shared library: unscrambling its
// password through the library's export, and freeing the text it hands back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/config/encryption.h"

namespace {

TEST(PasswordUnscramble, TheSharedLibraryUnscramblesAndTheAgentReleasesTheText) {
    char* clear = CEncryption::UnEncrypt(" 27 28253136 78238 79  3");
    ASSERT_NE(clear, nullptr);
    EXPECT_EQ(std::string(clear), "secret");
    std::free(clear);

    char* text = CEncryption::Encrypt("secret");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), " 27 28253136 78238 79  3");
    std::free(text);
}

}  // namespace
