// Conversion between the neutral PeerAddress and the platform's sockaddr_in,
// which share one layout; shared by both socket back ends.
#pragma once
#include <cstring>

#include "agent/socket_api.h"

namespace sockapi {

template <class SockAddrIn>
SockAddrIn ToNative(const PeerAddress& a) {
    static_assert(sizeof(SockAddrIn) == sizeof(PeerAddress), "sockaddr_in layout differs");
    SockAddrIn s{};
    std::memcpy(&s, &a, sizeof s);
    s.sin_family = kFamilyInet;
    return s;
}

template <class SockAddrIn>
PeerAddress FromNative(const SockAddrIn& s) {
    PeerAddress a{};
    std::memcpy(&a, &s, sizeof a);
    a.family = kFamilyInet;
    return a;
}

}  // namespace sockapi
