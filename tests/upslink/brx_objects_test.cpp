// The communication library's exception and channel base classes.
#include "upslink/brx_objects.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/clock.h"

namespace {

// A channel whose reads deliver a scripted series of results: a positive
// number delivers that many bytes (counting up from a running value), 0
// nothing, a negative number fails.
class ScriptedChannel : public CommunicationsChannel {
public:
    explicit ScriptedChannel(std::vector<int> script) : m_Script(std::move(script)) {}
    bool IsOpen() override { return true; }
    bool IsReadable() override { return true; }
    void Open() override {}
    void Close() override {}
    int Read(void* buffer, int count) override {
        m_Requests.push_back(count);
        if (m_nNext >= m_Script.size()) return 0;
        int result = m_Script[m_nNext++];
        if (result > count) result = count;
        unsigned char* bytes = static_cast<unsigned char*>(buffer);
        for (int i = 0; i < result; ++i) bytes[i] = m_nByte++;
        return result;
    }
    int Write(const void*, int count) override { return count; }

    std::vector<int> m_Requests;  // the count asked for, read by read

private:
    std::vector<int> m_Script;
    size_t m_nNext = 0;
    unsigned char m_nByte = 1;
};

struct Counted : brx::CCommunicationsExceptionObject {
    explicit Counted(int* destroyed)
        : CCommunicationsExceptionObject(nullptr, 7), m_pDestroyed(destroyed) {}
    ~Counted() override { ++*m_pDestroyed; }
    int* m_pDestroyed;
};

TEST(BrxExceptions, ACommunicationsFailureNamesItsIdentifierAndTheChannel) {
    ScriptedChannel channel({});
    try {
        channel.ThrowCommunicationsError(brx::kCommOpenError);
        FAIL() << "nothing was thrown";
    } catch (brx::CCommunicationsExceptionObject* raised) {
        std::unique_ptr<brx::CCommunicationsExceptionObject> owned(raised);
        EXPECT_EQ(owned->GetIdentifier(), 2);
        EXPECT_EQ(owned->GetChannel(), &channel);
    }
}

TEST(BrxExceptions, ThePointerCanBeCaughtAndDeletedAsTheRootClass) {
    static_assert(std::has_virtual_destructor<brx::CBRXObject>::value, "deleted through the root");
    int destroyed = 0;
    try {
        throw new Counted(&destroyed);
    } catch (brx::CExceptionObject* raised) {
        std::unique_ptr<brx::CBRXObject> owned(raised);
        EXPECT_EQ(raised->GetIdentifier(), 7);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(BrxChannel, DrainOnAQuietChannelReadsOnceAfterThePause) {
    ScriptedChannel channel({});
    // Measured with the steady clock: Wine's tick count moves in coarse steps
    // and lags under load.
    auto start = std::chrono::steady_clock::now();
    channel.Drain(60);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(channel.m_Requests, (std::vector<int>{100}));
    EXPECT_GE(elapsed, std::chrono::milliseconds(55));  // the pause happened
}

TEST(BrxChannel, DrainReadsUntilAReadDeliversNothingOrFails) {
    ScriptedChannel busy({100, 100, 30, 0, 100});
    busy.Drain(0);
    EXPECT_EQ(busy.m_Requests.size(), 4u);

    ScriptedChannel failing({100, -1, 100});
    failing.Drain(0);
    EXPECT_EQ(failing.m_Requests.size(), 2u);
}

TEST(BrxChannel, ReadPacedGathersPiecesBehindEachOther) {
    ScriptedChannel channel({3, 2});
    unsigned char buffer[5] = {};
    EXPECT_EQ(channel.ReadPaced(buffer, 5, 1), 5);
    EXPECT_EQ(channel.m_Requests, (std::vector<int>{5, 2}));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(buffer[i], i + 1);
}

TEST(BrxChannel, ReadPacedStopsAtAReadThatDeliversNothingOrFails) {
    ScriptedChannel quiet({3, 0, 2});
    unsigned char buffer[8] = {};
    EXPECT_EQ(quiet.ReadPaced(buffer, 8, 1), 3);
    EXPECT_EQ(quiet.m_Requests, (std::vector<int>{8, 5}));

    ScriptedChannel failing({4, -1, 2});
    EXPECT_EQ(failing.ReadPaced(buffer, 8, 1), 4);
    EXPECT_EQ(failing.m_Requests.size(), 2u);

    ScriptedChannel failingFirst({-1});
    EXPECT_EQ(failingFirst.ReadPaced(buffer, 8, 1), 0);
}

}  // namespace
