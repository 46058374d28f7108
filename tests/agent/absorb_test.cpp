// The one catch ladder: each kind of failure the agent's layers throw comes
// back owned as its kind, with what its report needs; anything else passes.
#include "agent/absorb.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

using Kind = CaughtFailure::Kind;

TEST(Catch, EachKindOfFailureComesBackOwnedWithWhatItsReportNeeds) {
    struct Case {
        const char* name;
        std::function<void()> thrower;
        Kind kind;
        uint32_t messageId;
        int32_t identifier;
        std::string text;  // SettingsError's key, or the standard exception's text
    };
    const Case cases[] = {
        {"agent", [] { throw new CQLNException(0xC0020027u); }, Kind::kAgent, 0xC0020027u, 0, ""},
        {"communications pointer",
         [] { throw new brx::CCommunicationsExceptionObject(nullptr, brx::kCommBindError); },
         Kind::kCommunications, 0, brx::kCommBindError, ""},
        {"library object by value", [] { throw brx::CExceptionObject(7); }, Kind::kCommunications,
         0, 7, ""},
        {"library pointer", [] { throw new brx::CExceptionObject(9); }, Kind::kLibrary, 0, 9, ""},
        {"settings",
         [] {
             throw SettingsError{"Communications", "Timing", "soon", "literal"};
         },
         Kind::kSettings, 0, 0, "Timing"},
        {"standard", [] { throw std::runtime_error("worn out"); }, Kind::kStandard, 0, 0,
         "worn out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<CaughtFailure> caught = Catch(c.thrower);
        ASSERT_TRUE(caught.has_value());
        EXPECT_EQ(caught->kind, c.kind);
        EXPECT_EQ(caught->MessageId(), c.messageId);
        EXPECT_EQ(caught->identifier, c.identifier);
        const std::string text = c.kind == Kind::kSettings ? caught->settings.key : caught->what;
        EXPECT_EQ(text, c.text);
        EXPECT_FALSE(Absorb(c.thrower));
    }
}

TEST(Catch, NothingThrownIsNoFailureAndOtherThrowsPassOn) {
    int ran = 0;
    EXPECT_FALSE(Catch([&] { ++ran; }).has_value());
    EXPECT_TRUE(Absorb([&] { ++ran; }));
    EXPECT_EQ(ran, 2);
    EXPECT_THROW(Catch([] { throw 42; }), int);
}

}  // namespace
