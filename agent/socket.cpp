#include "agent/socket.h"

#include <atomic>

#include "platform/clock.h"

namespace {

// Socket constructions of the process; the first one starts the socket
// library. Never counted down: the library stays up until the process ends,
// and a failed start-up is not retried.
std::atomic<unsigned> g_nSocketConstructions{0};

constexpr uint32_t kReceiveErrorPauseMs = 250;
// Bounds of one drain: the datagrams a default receive queue holds (Linux:
// 212,992 bytes at 832 bytes of accounting per small datagram), and time.
constexpr uint32_t kDrainLimitDatagrams = 256;
constexpr uint32_t kDrainLimitMs = 250;

}  // namespace

Socket::Socket(const SocketAddress& address) : m_Address(address) {
    if (g_nSocketConstructions.fetch_add(1) == 0 && !sockapi::StartUp()) {
        throw brx::CCommunicationsExceptionObject(this, brx::kCommStartupError);
    }
}

Socket::~Socket() { sockapi::CloseHandle(m_hSocket); }

bool Socket::IsOpen() { return m_hSocket != sockapi::kInvalidHandle; }

void Socket::RequireOpen() {
    if (!IsOpen()) ThrowCommunicationsError(brx::kCommOpenError);
}

void Socket::CheckType() {
    if (m_Address.m_nFamily != kFamilyIPv4 ||
        (m_Address.m_nKind != kSocketStream && m_Address.m_nKind != kSocketDatagram)) {
        ThrowCommunicationsError(brx::kCommTypeError);
    }
}

bool Socket::IsPlainStream() const {
    return m_Address.m_nKind == kSocketStream && m_Address.m_nFamily == kFamilyIPv4;
}

void Socket::CreateHandle(bool stream) {
    m_hSocket = sockapi::Create(stream);
    if (m_hSocket == sockapi::kInvalidHandle) ThrowCommunicationsError(brx::kCommOpenError);
}

sockapi::PeerAddress Socket::TargetAddress() {
    sockapi::PeerAddress target{};
    target.family = sockapi::kFamilyInet;
    target.port = sockapi::HostToNet16(m_Address.m_nPort);
    if (!sockapi::ParseDotted(m_Address.m_Host, target.address) &&
        !sockapi::Resolve(m_Address.m_Host, target.address)) {
        ThrowCommunicationsError(brx::kCommOpenError);
    }
    return target;
}

void Socket::Create() {
    Close();
    try {
        CheckType();
        CreateHandle(m_Address.m_nKind == kSocketStream);
    } catch (...) {
        Close();
        throw;
    }
}

void Socket::Bind() {
    RequireOpen();
    CheckType();
    if (!sockapi::Bind(m_hSocket, TargetAddress())) ThrowCommunicationsError(brx::kCommBindError);
}

void Socket::Open() {
    Close();
    try {
        CheckType();
        bool stream = m_Address.m_nKind == kSocketStream;
        CreateHandle(stream);
        m_PeerAddress = TargetAddress();
        if (stream && sockapi::Connect(m_hSocket, m_PeerAddress) != sockapi::ConnectStart::Done) {
            ThrowCommunicationsError(brx::kCommOpenError);
        }
    } catch (...) {
        Close();
        throw;
    }
}

// A new stream handle, not blocking, and its connect begun.
sockapi::ConnectStart Socket::StartConnect() {
    CreateHandle(true);
    if (!sockapi::SetBlocking(m_hSocket, false)) ThrowCommunicationsError(brx::kCommOpenError);
    m_PeerAddress = TargetAddress();
    return sockapi::Connect(m_hSocket, m_PeerAddress);
}

void Socket::Connect(uint32_t ms) {
    if (!IsPlainStream() || ms == 0) {
        Open();
        return;
    }
    Close();
    try {
        switch (StartConnect()) {
            case sockapi::ConnectStart::Done:
                break;
            case sockapi::ConnectStart::Pending: {
                // Exceptions are asked for too, so that a refused connection
                // ends the wait at once instead of at the time-out.
                sockapi::Readiness r = sockapi::Select(m_hSocket, false, true, true, ms);
                if (r.count <= 0 || !r.writable) ThrowCommunicationsError(brx::kCommOpenError);
                break;
            }
            case sockapi::ConnectStart::Failed:
                ThrowCommunicationsError(brx::kCommOpenError);
        }
        sockapi::SetBlocking(m_hSocket, true);
    } catch (...) {
        Close();
        throw;
    }
}

void Socket::BeginConnect() {
    if (!IsPlainStream()) {
        Open();
        return;
    }
    Close();
    try {
        switch (StartConnect()) {
            case sockapi::ConnectStart::Done:
                m_bConnected = true;
                sockapi::SetBlocking(m_hSocket, true);
                break;
            case sockapi::ConnectStart::Pending:
                break;
            case sockapi::ConnectStart::Failed:
                ThrowCommunicationsError(brx::kCommOpenError);
        }
    } catch (...) {
        Close();
        throw;
    }
}

bool Socket::ConnectFinished() {
    if (m_bConnected || !IsPlainStream()) return true;
    sockapi::Readiness r = sockapi::Select(m_hSocket, false, true, true, 0);
    if (r.count == 0) return false;
    if (r.count > 0 && r.writable && !r.exceptional) {
        sockapi::SetBlocking(m_hSocket, true);
    } else {
        Close();
    }
    m_bConnected = true;
    return true;
}

void Socket::Close() {
    m_bConnected = false;
    if (IsOpen()) {
        sockapi::CloseHandle(m_hSocket);
        m_hSocket = sockapi::kInvalidHandle;
    }
}

bool Socket::IsReadable() {
    RequireOpen();
    sockapi::Readiness r = sockapi::Select(m_hSocket, true, false, false, 0);
    return r.count >= 0 && r.readable;
}

bool Socket::WaitReadable(uint32_t ms) {
    RequireOpen();
    sockapi::Readiness r = sockapi::Select(m_hSocket, true, false, false, ms);
    return r.count >= 0 && r.readable;
}

int Socket::WaitReadableOr(void* const* others, int count, uint32_t ms) {
    return sockapi::WaitReadableOr(m_hSocket, others, count, ms);
}

bool Socket::CheckReadable(bool& trouble) {
    RequireOpen();
    sockapi::Readiness r = sockapi::Select(m_hSocket, true, true, true, 0);
    trouble = !r.writable || r.exceptional;
    if (r.count == 0) return false;
    if (r.count >= 1 && r.count <= 3) return r.readable;
    trouble = true;
    return false;
}

bool Socket::IsWritable() {
    if (!IsOpen()) {
        Close();
        return false;
    }
    sockapi::Readiness r = sockapi::Select(m_hSocket, true, true, true, 0);
    if (!r.writable || r.exceptional) return false;
    if (r.count < 0 || r.count > 3) {
        Close();
        return false;
    }
    return true;
}

int Socket::ReceiveOnce(void* buffer, int count) {
    RequireOpen();
    if (!IsReadable()) return 0;
    if (m_Address.m_nKind == kSocketStream) return sockapi::Receive(m_hSocket, buffer, count);
    if (m_Address.m_nKind == kSocketDatagram) {
        return sockapi::ReceiveFrom(m_hSocket, buffer, count, m_PeerAddress);
    }
    return 0;
}

int Socket::Read(void* buffer, int count) {
    int got = ReceiveOnce(buffer, count);
    if (got < 0) {
        Drain(kReceiveErrorPauseMs);
        return 0;
    }
    return got;
}

// The drain discards what was waiting when it began, not whatever keeps
// arriving: it reads at most as many datagrams as a receive queue holds by
// default and ends at the latest kDrainLimitMs after its pause. A receive
// error in between (another datagram too long for the scratch buffer, say)
// is discarded like any other datagram, without a pause of its own; a sender
// that mixes long datagrams with a steady trickle could otherwise hold the
// caller for as long as it liked.
void Socket::Drain(uint32_t pauseMs) {
    plat::SleepMs(pauseMs);
    unsigned char scratch[100];
    uint32_t start = plat::TickCount();
    for (uint32_t count = 0; count < kDrainLimitDatagrams; ++count) {
        if (plat::TickCount() - start >= kDrainLimitMs) return;
        if (ReceiveOnce(scratch, sizeof scratch) == 0) return;
    }
}

int Socket::ReadFrom(void* buffer, int count, sockapi::PeerAddress& from) {
    int got = Read(buffer, count);
    from = m_PeerAddress;
    return got;
}

Socket::Take Socket::TakeDatagram(void* buffer, int count, int& got, sockapi::PeerAddress& from) {
    got = 0;
    if (!IsReadable()) return Take::Nothing;
    int n = sockapi::ReceiveFrom(m_hSocket, buffer, count, from);
    if (n == sockapi::kReceiveTooLong) return Take::TooLong;
    if (n < 0) return Take::Failed;
    got = n;
    return Take::Datagram;
}

int Socket::WriteTo(const void* data, int count, const sockapi::PeerAddress& to) {
    RequireOpen();
    return sockapi::SendTo(m_hSocket, data, count, to);
}

int Socket::Write(const void* data, int count) {
    RequireOpen();
    if (m_Address.m_nKind == kSocketStream) return sockapi::Send(m_hSocket, data, count);
    if (m_Address.m_nKind == kSocketDatagram) {
        return sockapi::SendTo(m_hSocket, data, count, m_PeerAddress);
    }
    return 0;
}

uint16_t Socket::LocalPort() { return IsOpen() ? sockapi::LocalPort(m_hSocket) : 0; }
