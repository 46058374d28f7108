#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tcp_listener.h"

namespace {
int BoundTcp(uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
    return fd;
}
}  // namespace

TcpListener::TcpListener() {
    int fd = BoundTcp(m_nPort);
    listen(fd, 4);
    m_hListen = fd;
}

TcpListener::~TcpListener() { close(static_cast<int>(m_hListen)); }

bool TcpListener::AcceptAndEcho() {
    pollfd p{static_cast<int>(m_hListen), POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return false;
    int c = accept(static_cast<int>(m_hListen), nullptr, nullptr);
    if (c < 0) return false;
    char buffer[256];
    pollfd q{c, POLLIN, 0};
    if (poll(&q, 1, 5000) == 1) {
        ssize_t n = recv(c, buffer, sizeof buffer, 0);
        if (n > 0) send(c, buffer, static_cast<size_t>(n), 0);
    }
    close(c);
    return true;
}

uint16_t UnusedTcpPort() {
    uint16_t port = 0;
    close(BoundTcp(port));
    return port;
}
