// The agent's named events on Win32: a descriptor of their own, so that a
// service running as local system shares them with administrators only, and
// an agent run by an ordinary user with that user.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "agent/named_event_failure.h"
#include "common/resources/message_ids.h"
#include "platform/event.h"
#include "platform/windows_wrapper.h"

// After windows.h: the security calls.
#include <aclapi.h>
#include <sddl.h>

namespace {

std::string Unique(const std::string& name) {
    return name + " " + std::to_string(::GetCurrentProcessId());
}

// The event's discretionary ACL as SDDL text ("" when it has none).
std::string DaclOf(HANDLE handle) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetSecurityInfo(handle, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          nullptr, nullptr, &sd) != ERROR_SUCCESS) {
        return "?";
    }
    char* text = nullptr;
    std::string dacl;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorA(
            sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        dacl = text;
        ::LocalFree(text);
    }
    ::LocalFree(sd);
    return dacl;
}

std::string ProcessUserSid() {
    HANDLE token = nullptr;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    char buffer[512];
    DWORD size = 0;
    EXPECT_TRUE(::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    ::CloseHandle(token);
    char* text = nullptr;
    EXPECT_TRUE(::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text));
    std::string sid = text ? text : "";
    ::LocalFree(text);
    return sid;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Before: the events were made without a descriptor, and under Wine such an
// object has none at all: any account could open, set and wait on it.
TEST(NamedEventWin32, AdmitsOnlyLocalSystemAdministratorsAndItsOwnAccount) {
    plat::Event event(Unique("UPS Found"));
    ASSERT_TRUE(event.IsValid());
    std::string dacl = DaclOf(reinterpret_cast<HANDLE>(event.NativeHandle()));
    std::string user = ProcessUserSid();
    EXPECT_EQ(dacl.rfind("D:P", 0), 0u) << "a protected DACL: " << dacl;
    EXPECT_EQ(Count(dacl, ";;;SY)"), 1) << dacl;
    EXPECT_EQ(Count(dacl, ";;;BA)"), 1) << dacl;
    int own = user == "S-1-5-18" ? 0 : 1;
    EXPECT_EQ(Count(dacl, ";;;" + user + ")"), own) << dacl;
    EXPECT_EQ(Count(dacl, "(A;"), 2 + own) << "no other account: " << dacl;
    EXPECT_EQ(Count(dacl, "(D;"), 0) << dacl;
    // The account itself still opens and sets it, as the worker does.
    EXPECT_TRUE(plat::SignalNamedEvent(Unique("UPS Found")));
    EXPECT_TRUE(event.TryConsume());
}

// An event of the same name that another account made and keeps to itself is
// refused by name, and the agent says so.
TEST(NamedEventWin32, AnEventOfAnotherAccountIsRefused) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;;GA;;;SY)", SDDL_REVISION_1, &sd, nullptr));
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    std::string name = Unique("UPS Find Failed");
    HANDLE theirs = ::CreateEventA(&sa, FALSE, FALSE, name.c_str());
    ::LocalFree(sd);
    ASSERT_NE(theirs, nullptr);
    {
        plat::Event event(name);
        EXPECT_FALSE(event.IsValid());
        EXPECT_EQ(event.Fault(), plat::EventFault::kRefused);
        EXPECT_EQ(event.FaultPath(), name);
        std::unique_ptr<CQLNException> failure(NamedEventFailure(event));
        EXPECT_EQ(failure->GetMessageId(), MSG_EVENT_FILE_REFUSED);
        ASSERT_EQ(failure->GetStringCount(), 1);
        EXPECT_EQ(failure->GetString(0), name);
        EXPECT_EQ(NamedEventExitCode(event), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    }
    ::CloseHandle(theirs);
}

}  // namespace
