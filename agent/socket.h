// Socket: an IPv4 stream or datagram socket as a communications channel.
// Failures are thrown as brx::CCommunicationsExceptionObject pointers; all
// readiness tests return at once, except WaitReadable, which blocks.
#pragma once
#include <cstdint>

#include "agent/socket_address.h"
#include "agent/socket_api.h"
#include "upslink/brx_objects.h"

class Socket : public CommunicationsChannel {
public:
    // Starts the platform's socket library on the first construction of the
    // process; if that fails, throws brx::CCommunicationsExceptionObject
    // (identifier 5) by value.
    explicit Socket(const SocketAddress& address);
    // Closes the handle if the owner has not.
    ~Socket() override;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool IsOpen() override;
    bool IsReadable() override;
    // Creates the socket; a stream socket connects, blocking.
    void Open() override;
    void Close() override;
    // One receive if something is waiting, else 0. A receive error is
    // absorbed: pause 250 ms, drain, 0.
    int Read(void* buffer, int count) override;
    // One send (datagram: to the peer address); the platform's result.
    int Write(const void* data, int count) override;
    // Pauses, then discards input until nothing is left, at most 256
    // datagrams and for at most 250 ms after the pause.
    void Drain(uint32_t pauseMs) override;

    // Writable and not exceptional right now; closes a handle that has failed.
    virtual bool IsWritable();
    // Readability; `trouble` is set when the handle is not writable or is exceptional.
    virtual bool CheckReadable(bool& trouble);
    // Stream connect bounded by `ms` (0: a blocking Open).
    virtual void Connect(uint32_t ms);
    // Starts a non-blocking stream connect; other kinds simply Open. Throws when
    // the connect fails at once.
    virtual void BeginConnect();
    // True when a connect begun with BeginConnect is over; IsOpen tells the outcome.
    virtual bool ConnectFinished();

    // Creates the socket without connecting (closing any open handle first).
    void Create();
    // Binds the open socket to the address's host and port; throws on failure.
    void Bind();
    // Read, and the sender of what was read (the last sender when nothing was).
    int ReadFrom(void* buffer, int count, sockapi::PeerAddress& from);

    // Blocks until something is readable or `ms` has passed.
    bool WaitReadable(uint32_t ms);
    // The same, also ended by one of `count` platform handles (see
    // sockapi::WaitReadableOr); a closed socket waits on those alone.
    // 0 readable, 1 + i handle i, -1 time out, -2 a failed wait.
    int WaitReadableOr(void* const* others, int count, uint32_t ms);
    // The local port the socket is bound to (host order), 0 when unknown.
    uint16_t LocalPort();
    const sockapi::PeerAddress& GetPeerAddress() const { return m_PeerAddress; }
    bool IsConnected() const { return m_bConnected; }

private:
    void RequireOpen();
    void CheckType();
    void CreateHandle(bool stream);
    sockapi::PeerAddress TargetAddress();
    sockapi::ConnectStart StartConnect();
    bool IsPlainStream() const;
    // One receive without the error handling of Read: -1 on a receive error.
    int ReceiveOnce(void* buffer, int count);

    bool m_bConnected = false;
    sockapi::PeerAddress m_PeerAddress{};
    sockapi::Handle m_hSocket = sockapi::kInvalidHandle;
    SocketAddress m_Address;
};
