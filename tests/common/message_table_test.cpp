// The message table as the shared library carries it (the DLL's resource
// through FormatMessageA on Win32, the compiled-in table on Linux), and the
// text lookups over it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <vector>

#include "common/framework/jis_text.h"
#include "common/framework/message_lookup.h"
#include "common/framework/message_text.h"
#include "common/resources/message_ids.h"
#include "line_end.h"
#include "platform/message_format.h"
#include "platform/module.h"
#include "platform/user_language.h"
#include "require_language.h"

namespace {

constexpr uint32_t kEnglish = 0x409;
constexpr uint32_t kJapanese = 0x411;

// The fifteen blocks of ids, first and last.
const uint32_t kBlocks[][2] = {
    {MSG_UPS_IDENTIFIED, MSG_UPS_IDENTIFIED},
    {MSG_UPS_COMMUNICATIONS_ESTABLISHED, MSG_UPS_COMMUNICATIONS_ESTABLISHED},
    {MSG_CHANGES_SAVED, MSG_VELMAR_UPGRADE_IN_PROGRESS},
    {MSG_SHUTDOWN_SCHEDULED, MSG_SCHEDULED_SHUTDOWN_CANCELLED},
    {MSG_TEST_BROADCAST_TO_GROUP, MSG_SARNIC_STOPPED},
    {MSG_PROCESSING_MODULE, MSG_PROGRAM_ENDED},
    {MSG_UPS_COMMAND_NOT_SUPPORTED, MSG_UPS_COMMAND_NOT_SUPPORTED},
    {MSG_UPS_TIMEOUT, MSG_UPS_TIMEOUT},
    {MSG_LOCAL_ADDRESS_UNKNOWN, MSG_DATABASE_ENGINE_UNREACHABLE},
    {MSG_WEB_SCRIPT_NOT_RUN, MSG_UPS_INVALID_RESPONSE},
    {MSG_INVALID_OBJECT_IDENTIFIER, MSG_NETWORK_IMPORT_FAILED},
    {MSG_UPS_COMMUNICATIONS_LOST, MSG_UPS_COMMUNICATIONS_LOST},
    {MSG_CHANGES_NOT_SAVED, MSG_USER_NAME_NOT_VALID},
    {MSG_TEST_EMAIL_NOT_SENT, MSG_SNMP_TRAP_NOT_SENT},
    {MSG_DEVICE_ALREADY_CONFIGURED, MSG_LOAD_SEGMENT_ALREADY_ATTACHED},
};

std::vector<uint32_t> AllIds() {
    std::vector<uint32_t> ids;
    for (const auto& b : kBlocks) {
        for (uint32_t id = b[0]; id <= b[1]; ++id) ids.push_back(id);
    }
    return ids;
}

// The library is loaded as a program loads it: by file name.
class MessageTable : public ::testing::Test {
protected:
    plat::Library m_Library{plat::SharedLibraryFileName("Pellux_noDB")};

    void SetUp() override { ASSERT_TRUE(m_Library.IsLoaded()); }

    static std::string Text(uint32_t id, uint32_t lang) {
        std::string text;
        EXPECT_TRUE(LookupMessage(kThisLibraryModule, id, lang, text)) << std::hex << id;
        return text;
    }
};

std::vector<std::string> Placeholders(const std::string& text) {
    static const std::regex conversion("%[-+ #0-9.]*[hlLzjt]*[a-zA-Z%]");
    std::vector<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), conversion), end; it != end; ++it) {
        found.push_back(it->str());
    }
    return found;
}

TEST_F(MessageTable, HoldsAllIdsInBothLanguagesByTheTextConventions) {
    std::vector<uint32_t> ids = AllIds();
    ASSERT_EQ(ids.size(), 344u);
    int markers[2] = {0, 0};
    for (uint32_t id : ids) {
        std::string en = Text(id, kEnglish);
        std::string ja = Text(id, kJapanese);
        bool cut = id == MSG_ENTERING_MAIN_LOOP || id == MSG_LEAVING_MAIN_LOOP;  // "%0" ends them
        int i = 0;
        for (const std::string* t : {&en, &ja}) {
            SCOPED_TRACE(testing::Message() << std::hex << id << (i ? " Japanese" : " English"));
            ASSERT_FALSE(t->empty());
            std::string lineEnd = kPlatformLineEnd;
            size_t body = cut ? t->size() : t->size() - lineEnd.size();
            if (!cut) {
                EXPECT_EQ(t->substr(body), lineEnd);
            }
            EXPECT_EQ(t->find_first_of("\r\n"), cut ? std::string::npos : body);
            EXPECT_EQ(t->find("%%"), std::string::npos);  // "%%" came out as "%"
            EXPECT_FALSE(std::regex_search(*t, std::regex("%[0-9]")));
            if (t->find("\\n") != std::string::npos) ++markers[i];
            ++i;
        }
        for (unsigned char c : en) EXPECT_LT(c, 0x80) << std::hex << id;
        EXPECT_EQ(Placeholders(en), Placeholders(ja)) << std::hex << id;
        // The id's code does not answer under another severity.
        std::string other;
        EXPECT_FALSE(LookupMessage(kThisLibraryModule, id ^ 0x40000000, kEnglish, other) &&
                     std::find(ids.begin(), ids.end(), id ^ 0x40000000) == ids.end())
            << std::hex << id;
    }
    EXPECT_EQ(markers[0], 23);
    EXPECT_EQ(markers[1], 23);
}

TEST_F(MessageTable, IdsBetweenTheBlocksHaveNoText) {
    for (uint32_t id :
         {0x00020037u, 0x00020039u, 0x0002003Bu, 0x00020045u, 0x0002004Fu, 0x00020054u, 0x00020159u,
          0x40020002u, 0x4002001Au, 0x40020028u, 0x4002002Au, 0x80020027u, 0xC0020000u, 0xC0020003u,
          0xC0020038u, 0xC0020056u, 0xC0030039u}) {
        std::string text;
        EXPECT_FALSE(LookupMessage(kThisLibraryModule, id, kEnglish, text)) << std::hex << id;
        EXPECT_FALSE(LookupMessage(kThisLibraryModule, id, kJapanese, text)) << std::hex << id;
    }
}

// The agent's own texts, formatted as the agent formats them: with their
// inserts filled in, on one line. (The message table's build step refuses a
// translation whose inserts differ from the English text's.)
TEST_F(MessageTable, AgentTextsTakeTheirInserts) {
    const char* const inserts[] = {"<1>", "<2>", "<3>", "<4>", "<5>"};
    for (uint32_t id : {MSG_DEFAULT_PASSWORD_IN_USE,
                        MSG_PASSWORD_NOT_SCRAMBLED,
                        MSG_WRONG_PASSWORDS,
                        MSG_CONFIG_UNREADABLE,
                        MSG_SERIAL_PORT_UNOPENABLE,
                        MSG_SETTING_NOT_VALID,
                        MSG_EVENT_FOLDER_UNUSABLE,
                        MSG_EVENT_FILE_REFUSED,
                        MSG_TRACE_UNWRITABLE,
                        MSG_UPS_FOUND,
                        MSG_RELAY_STARTED,
                        MSG_RELAY_STOPPED,
                        MSG_STATUS_AGENT_LINE,
                        MSG_STATUS_UPS_LINE,
                        MSG_STATUS_HISTORY_LINE,
                        MSG_STATUS_DATAGRAM_LINE,
                        MSG_STATUS_FRAME_LINE,
                        MSG_STATUS_ANSWER_LINE,
                        MSG_STATUS_OTHER_LINE,
                        MSG_CONFIG_REFUSED,
                        MSG_FILE_REFUSED}) {
        SCOPED_TRACE(testing::Message() << std::hex << id);
        std::string text;
        ASSERT_TRUE(plat::FormatModuleMessage(m_Library, id, inserts, 5, text));
        std::string lineEnd = kPlatformLineEnd;
        ASSERT_GT(text.size(), lineEnd.size());
        EXPECT_EQ(text.find_first_of("\r\n"), text.size() - lineEnd.size());
        EXPECT_NE(text.find("<1>"), std::string::npos);
        EXPECT_EQ(text.find('%'), std::string::npos);
    }
    // The words that "qln status" puts into its lines, and the reasons a file
    // is refused: one line, no inserts.
    for (uint32_t id : {MSG_STATUS_ATTACHED, MSG_STATUS_SEARCHING, MSG_STATUS_PAUSED,
                        MSG_STATUS_NOT_RUNNING, MSG_STATUS_NEVER, MSG_REFUSAL_NOT_REGULAR,
                        MSG_REFUSAL_NOT_OWN, MSG_REFUSAL_OPEN_FOLDER, MSG_REFUSAL_TOO_LARGE}) {
        SCOPED_TRACE(testing::Message() << std::hex << id);
        std::string text;
        ASSERT_TRUE(plat::FormatModuleMessage(m_Library, id, inserts, 5, text));
        EXPECT_EQ(text.find_first_of("\r\n%<"), text.size() - std::string(kPlatformLineEnd).size());
    }
}

TEST_F(MessageTable, QuotedRowsReadAsWritten) {
    struct Row {
        uint32_t id;
        const char* en;
        const char* ja;  // Shift-JIS
    };
    const Row rows[] = {
        {MSG_CHANGES_SAVED, "Your changes have been saved.",
         "\225\317\215X\202\252\225\333\221\266\202\263\202\352\202\334\202\265\202\275\201B"},
        {MSG_PROCESSING_MODULE, "Processing module: %s",
         "\203\202\203W\203\205\201[\203\213 %s\202\360\217\210\227\235\202\265\202\304\202\242"
         "\202\334\202\267\201B"},
        {MSG_ENTERING_MAIN_LOOP, "Entering main loop iteration %lu at %s",
         "\203\201\203C\203\223\203\213\201[\203v\202\311\223\374\202\350\202\334\202\267 %lu / "
         "%s"},
        {MSG_LEAVING_MAIN_LOOP, "Leaving main loop at %s",
         "\203\201\201[\203\223\203\213\201[\203v\202\360\224\262\202\257\202\334\202\267 %s"},
        {MSG_SHUTDOWN_AGENT_NO_SOCKET, "Shutdown agent failed to create a socket.",
         "\203V\203\203\203b\203g\203_\203E\203\223 \203G\201[\203W\203F\203\223\203g\202\315"
         "\203\134\203P\203b\203g\202\314\215\354\220\254\202\311\216\270\224s\202\265\202\334"
         "\202\265\202\275\201B"},
        {MSG_UPS_TIMEOUT, "Timed out communicating with the UPS.",
         "UPS\202\306\202\314\222\312\220M\202\252\203^\203C\203\200\203A\203E\203g\202\265\202"
         "\334\202\265\202\275\201B"},
        {MSG_UPS_INVALID_RESPONSE, "Invalid response from UPS.",
         "UPS\202\251\202\347\226\263\214\370\202\310\211\236\223\232\202\252\202\240\202\350\202"
         "\334\202\265\202\275\201B"},
        {MSG_UPS_COMMUNICATIONS_LOST, "UPS communications lost.",
         "UPS\202\306\202\314\222\312\220M\202\252\220\330\222f\202\263\202\352\202\334\202\265"
         "\202\275\201B"},
    };
    for (const Row& r : rows) {
        bool cut = r.id == MSG_ENTERING_MAIN_LOOP || r.id == MSG_LEAVING_MAIN_LOOP;
        std::string end = cut ? "" : kPlatformLineEnd;
        EXPECT_EQ(Text(r.id, kEnglish), r.en + end) << std::hex << r.id;
        EXPECT_EQ(Text(r.id, kJapanese), r.ja + end) << std::hex << r.id;
    }
}

TEST_F(MessageTable, EnglishLookupIgnoresTheUserLanguage) {
    EXPECT_EQ(GetEnglishMessageText(nullptr, MSG_UPS_COMMUNICATIONS_LOST),
              "UPS communications lost.");
    EXPECT_EQ(GetEnglishMessageText(nullptr, MSG_ENTERING_MAIN_LOOP),
              "Entering main loop iteration %lu at %s");
    EXPECT_EQ(GetEnglishMessageText(nullptr, 0x00020039), "");
    EXPECT_EQ(GetEnglishMessageText(nullptr, MSG_CHANGES_NOT_SAVED),
              "Your changes could not be saved.\\nPlease try again.");  // marker kept as it stands
}

TEST_F(MessageTable, UnknownIdsGiveEmptyTexts) {
    EXPECT_EQ(GetMessageText(nullptr, 0x00020039, false), "");
    EXPECT_EQ(GetMessageText(nullptr, 0x00020039, true), "");
    EXPECT_EQ(GetMessageText(nullptr, 0xC0020159, false), "");
}

TEST_F(MessageTable, EnglishUserGetsEnglishTexts) {
    REQUIRE_USER_LANGUAGE(false);
    EXPECT_EQ(GetLanguage(nullptr), "English");
    std::string loop = GetMessageText(nullptr, MSG_ENTERING_MAIN_LOOP, false);
    EXPECT_EQ(loop, "Entering main loop iteration %lu at %s");  // a printf format, no line end
    EXPECT_EQ(GetMessageText(nullptr, MSG_ENTERING_MAIN_LOOP, true), loop);  // ASCII is left alone
    EXPECT_EQ(GetMessageText(nullptr, MSG_LEAVING_MAIN_LOOP, false), "Leaving main loop at %s");
    EXPECT_EQ(GetMessageText(nullptr, MSG_UPS_COMMUNICATIONS_LOST, false),
              "UPS communications lost.");
}

TEST_F(MessageTable, JapaneseUserGetsJapaneseTexts) {
    REQUIRE_USER_LANGUAGE(true);
    EXPECT_EQ(GetLanguage(nullptr), "Japanese");
    std::string loop = GetMessageText(nullptr, MSG_ENTERING_MAIN_LOOP, false);
    EXPECT_EQ(loop, Text(MSG_ENTERING_MAIN_LOOP, kJapanese));
    EXPECT_NE(loop.find("%lu"), std::string::npos);
    EXPECT_LT(loop.find("%lu"), loop.find("%s"));
    EXPECT_EQ(loop.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(GetEnglishMessageText(nullptr, MSG_UPS_COMMUNICATIONS_LOST),
              "UPS communications lost.");
}

TEST_F(MessageTable, JapaneseUserGetsTheWorkedJisExample) {
    REQUIRE_USER_LANGUAGE(true);
    EXPECT_EQ(GetMessageText(nullptr, MSG_PROCESSING_MODULE, true),
              "\x1b$B%b%8%e!<%k\x1b(B %s\x1b$B$r=hM}$7$F$%24%24%24$^$9!%23\x1b(B");
}

}  // namespace
