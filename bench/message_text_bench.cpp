// Cost of the text lookups and formatters, per call.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/framework/jis_text.h"
#include "common/framework/message_formatter.h"
#include "common/framework/message_text.h"
#include "common/framework/safe_format.h"
#include "common/resources/message_ids.h"

namespace {

template <typename F>
void Measure(const char* what, int rounds, F f) {
    size_t sink = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) sink += f();
    std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    std::printf("%-44s %9.0f ns/call  (%d calls, %zu bytes)\n", what, took.count() / rounds, rounds,
                sink);
}

}  // namespace

int main() {
    const int n = 200000;
    Measure("GetMessageText(MSG_UPS_COMMUNICATIONS_LOST)", n,
            [] { return GetMessageText(nullptr, MSG_UPS_COMMUNICATIONS_LOST, false).size(); });
    Measure("GetMessageText(MSG_PROCESSING_MODULE, toJis)", n,
            [] { return GetMessageText(nullptr, MSG_PROCESSING_MODULE, true).size(); });
    Measure("GetEnglishMessageText(MSG_ENTERING_MAIN_LOOP)", n,
            [] { return GetEnglishMessageText(nullptr, MSG_ENTERING_MAIN_LOOP).size(); });
    Measure("GetMessageText(unknown id)", n,
            [] { return GetMessageText(nullptr, 0x00020039, false).size(); });
    Measure("GetLanguage", n, [] { return GetLanguage(nullptr).size(); });
    std::string jis = ShiftJisToJis(
        "\203\202\203W\203\205\201[\203\213 %s\202\360\217\210\227\235\202\265"
        "\202\304\202\242\202\334\202\267\201B");
    Measure("SafeFormat(JIS text of MSG_PROCESSING_MODULE, 1 arg)", n,
            [&] { return SafeFormat(jis, {"CProcessingModule *"}).size(); });
    Measure("ExpandMessage(2 inserts)", n, [] {
        static const char* const inserts[] = {"one", "two"};
        std::string out;
        ExpandMessage("First %1, then %2!-6s!.%n", inserts, 2, false, "\n", out);
        return out.size();
    });
    return 0;
}
