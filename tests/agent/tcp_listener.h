// A listening TCP socket on 127.0.0.1 for the stream tests of the socket
// layer, which itself has no listen or accept.
#pragma once
#include <cstdint>

class TcpListener {
public:
    TcpListener();  // binds port 0 and listens
    ~TcpListener();
    uint16_t Port() const { return m_nPort; }
    // Accepts one connection (waiting up to 5 s), echoes what it reads once
    // and closes it. False when no connection came.
    bool AcceptAndEcho();

private:
    intptr_t m_hListen;
    uint16_t m_nPort = 0;
};

// A port on 127.0.0.1 where nothing listens (bound and released at once).
uint16_t UnusedTcpPort();
