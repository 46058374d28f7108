#include <winsock2.h>

#include "tcp_listener.h"

namespace {
SOCKET BoundTcp(uint16_t& port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
    return s;
}

bool WaitReadable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{5, 0};
    return select(0, &set, nullptr, nullptr, &wait) == 1;
}
}  // namespace

TcpListener::TcpListener() {
    SOCKET s = BoundTcp(m_nPort);
    listen(s, 4);
    m_hListen = static_cast<intptr_t>(s);
}

TcpListener::~TcpListener() { closesocket(static_cast<SOCKET>(m_hListen)); }

bool TcpListener::AcceptAndEcho() {
    SOCKET l = static_cast<SOCKET>(m_hListen);
    if (!WaitReadable(l)) return false;
    SOCKET c = accept(l, nullptr, nullptr);
    if (c == INVALID_SOCKET) return false;
    char buffer[256];
    if (WaitReadable(c)) {
        int n = recv(c, buffer, sizeof buffer, 0);
        if (n > 0) send(c, buffer, n, 0);
    }
    closesocket(c);
    return true;
}

uint16_t UnusedTcpPort() {
    uint16_t port = 0;
    closesocket(BoundTcp(port));
    return port;
}
