// The request queue's rules: whose turn it is, what a full queue drops, and
// when a request is too old to be served.
#include "agent/request_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A request from the sender 10.0.0.<host>:<port> taken at `takenMs`; its
// one byte tells requests apart.
QueuedRequest From(uint8_t host, uint16_t port, uint8_t tag, uint32_t takenMs = 0) {
    QueuedRequest r;
    r.sender.family = sockapi::kFamilyInet;
    r.sender.address = 0x0A000000u | host;
    r.sender.port = port;
    r.takenMs = takenMs;
    r.bytes = {tag};
    return r;
}

// The tags of everything the queue gives at `nowMs` with `maxAgeMs`.
std::string TakeAll(RequestQueue& queue, uint32_t nowMs = 0, uint32_t maxAgeMs = 0) {
    std::string tags;
    QueuedRequest r;
    uint64_t stale = 0;
    while (queue.Take(nowMs, maxAgeMs, r, stale)) tags += static_cast<char>(r.bytes[0]);
    return tags;
}

TEST(RequestQueue, SendersTakeTurnsAndEachSendersRequestsGoOldestFirst) {
    RequestQueue queue(16);
    for (char tag : std::string("abcd")) queue.Add(From(1, 7, tag));  // a flood
    queue.Add(From(2, 7, 'X'));
    queue.Add(From(1, 8, 'Y'));  // the same host from another port is the same sender
    queue.Add(From(2, 7, 'Z'));
    EXPECT_EQ(TakeAll(queue), "aXbZcdY");
    EXPECT_TRUE(queue.Empty());
    // A sender that comes back after its line ran dry queues behind the others.
    queue.Add(From(1, 7, 'e'));
    queue.Add(From(2, 7, 'f'));
    QueuedRequest r;
    uint64_t stale = 0;
    ASSERT_TRUE(queue.Take(0, 0, r, stale));
    queue.Add(From(1, 7, 'g'));
    EXPECT_EQ(TakeAll(queue), "fg");
}

TEST(RequestQueue, AFullQueueDropsFromTheSenderThatHoldsTheMost) {
    RequestQueue queue(4);
    for (char tag : std::string("abc")) EXPECT_FALSE(queue.Add(From(1, 7, tag)));
    EXPECT_FALSE(queue.Add(From(2, 7, 'X')));
    // Full: the flood loses its oldest, never the other sender's request.
    EXPECT_TRUE(queue.Add(From(3, 7, 'Y')));
    EXPECT_TRUE(queue.Add(From(1, 7, 'd')));
    EXPECT_EQ(queue.Size(), 4u);
    EXPECT_EQ(TakeAll(queue), "cXYd");

    // Every sender holds one: a newcomer does not push out an equal.
    RequestQueue one(2);
    one.Add(From(1, 7, 'a'));
    one.Add(From(2, 7, 'b'));
    EXPECT_TRUE(one.Add(From(3, 7, 'c')));
    // A sender already queued replaces its own oldest with the newer request.
    EXPECT_TRUE(one.Add(From(2, 7, 'B')));
    EXPECT_EQ(TakeAll(one), "aB");
    // A limit of 0 still holds one request.
    RequestQueue none(0);
    none.Add(From(1, 7, 'a'));
    EXPECT_EQ(TakeAll(none), "a");
}

TEST(RequestQueue, RequestsOlderThanTheLimitAreDroppedWhenTheirSenderAskedAgain) {
    RequestQueue queue(16);
    // Taken just before the tick count wrapped, and after it.
    queue.Add(From(1, 7, 'a', 0xFFFFFF00u));
    queue.Add(From(1, 7, 'b', 0xFFFFFF00u));
    queue.Add(From(2, 7, 'c', 500));
    queue.Add(From(1, 7, 'd', 1000));
    QueuedRequest r;
    uint64_t stale = 0;
    // At 3256 'a' and 'b' are 3512 ms old; 'c' is 2756, 'd' 2256.
    ASSERT_TRUE(queue.Take(3256, 3000, r, stale));
    EXPECT_EQ(r.bytes[0], 'c');
    EXPECT_EQ(stale, 1u);  // 'a'
    ASSERT_TRUE(queue.Take(3256, 3000, r, stale));
    EXPECT_EQ(r.bytes[0], 'd');
    EXPECT_EQ(stale, 2u);  // 'b'
    EXPECT_FALSE(queue.Take(3256, 3000, r, stale));
    // Exactly the limit is not too old; 0 is no limit.
    for (char tag : std::string("ef")) queue.Add(From(1, 7, tag, 0));
    EXPECT_EQ(TakeAll(queue, 3000, 3000), "ef");
    for (char tag : std::string("gh")) queue.Add(From(1, 7, tag, 0));
    EXPECT_EQ(TakeAll(queue, 0x7FFFFFFFu, 0), "gh");
    // A sender's newest request is served however old: its client may still
    // be waiting for it (twenty clients at once take the default timing
    // half a minute).
    queue.Add(From(1, 7, 'i', 0));
    queue.Add(From(2, 7, 'j', 0));
    queue.Add(From(2, 7, 'k', 0));
    EXPECT_EQ(TakeAll(queue, 60000, 3000), "ik");
}

// One host that floods from many ports gets one turn a round, like any other
// host; a request goes stale when its own client (port) asked again; one its client has
// surely given up on (twenty times the age limit) is dropped even when it is
// its sender's only one.
TEST(RequestQueue, TurnsGoByAddressAndNoRequestWaitsForEver) {
    struct Case {
        const char* what;
        std::vector<QueuedRequest> added;
        uint32_t nowMs, maxAgeMs;
        std::string served;
    };
    // 300 ports of one host, each asking twice, and another host.
    std::vector<QueuedRequest> flood;
    for (uint16_t port = 1000; port < 1300; ++port) flood.push_back(From(1, port, 'f', 5000));
    for (uint16_t port = 1000; port < 1300; ++port) flood.push_back(From(1, port, 'g', 7000));
    flood.push_back(From(2, 7, 'N', 5000));
    const Case cases[] = {
        {"one turn for the host", flood, 7000, 0,
         "fN" + std::string(299, 'f') + std::string(300, 'g')},
        {"the ports' first requests are stale", flood, 8001, 3000, "N" + std::string(300, 'g')},
        {"two clients on one host", {From(1, 7, 'a', 0), From(1, 8, 'b', 0)}, 5000, 3000, "ab"},
        {"given up", {From(1, 7, 'a', 0), From(2, 7, 'b', 1)}, 60001, 3000, "b"},
        {"not yet given up", {From(1, 7, 'a', 0)}, 60000, 3000, "a"},
        {"no age limit", {From(1, 7, 'a', 0)}, 0x7FFFFFFFu, 0, "a"},
    };
    for (const Case& c : cases) {
        RequestQueue queue(4096);
        for (const QueuedRequest& r : c.added) queue.Add(r);
        EXPECT_EQ(TakeAll(queue, c.nowMs, c.maxAgeMs), c.served) << c.what;
    }
}

// A request whose walk has begun goes back to the front of its host's line,
// its host to the back of the turns; it is never dropped, stale or not.
TEST(RequestQueue, AWalkBegunKeepsItsPlace) {
    RequestQueue queue(3);
    queue.Add(From(1, 7, 'a', 0));
    queue.Add(From(1, 8, 'b', 0));
    queue.Add(From(2, 7, 'X', 0));
    QueuedRequest r;
    uint64_t stale = 0;
    ASSERT_TRUE(queue.Take(0, 3000, r, stale));
    EXPECT_EQ(r.bytes[0], 'a');
    r.position = 4;  // its first frame is done
    queue.PutBack(std::move(r));
    // Full: the host that holds the most loses its oldest not begun.
    EXPECT_TRUE(queue.Add(From(1, 9, 'c', 0)));
    EXPECT_TRUE(queue.Add(From(3, 7, 'Y', 0)));
    EXPECT_EQ(queue.Size(), 3u);
    // Later: the begun one is served though its host has asked again since.
    ASSERT_TRUE(queue.Take(50000, 3000, r, stale));
    EXPECT_EQ(r.bytes[0], 'X');
    ASSERT_TRUE(queue.Take(50000, 3000, r, stale));
    EXPECT_EQ(r.bytes[0], 'a');
    r.position = 8;
    queue.PutBack(std::move(r));
    std::vector<QueuedRequest> begun = queue.TakeBegun();
    ASSERT_EQ(begun.size(), 1u);
    EXPECT_EQ(begun[0].bytes[0], 'a');
    EXPECT_EQ(TakeAll(queue, 100000, 3000), "");  // 'c' was given up
    EXPECT_TRUE(queue.Empty());
}

}  // namespace
