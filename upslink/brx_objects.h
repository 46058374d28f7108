// The in-house communication library's root, exception and channel classes.
#pragma once
#include <cstdint>

class CommunicationsChannel;

namespace brx {

class CBRXObject {
public:
    virtual ~CBRXObject() = default;
};

class CExceptionObject : public CBRXObject {
public:
    explicit CExceptionObject(int32_t identifier) : m_nIdentifier(identifier) {}
    ~CExceptionObject() override = default;
    int32_t GetIdentifier() const { return m_nIdentifier; }

private:
    int32_t m_nIdentifier;
};

class CCommunicationsExceptionObject : public CExceptionObject {
public:
    CCommunicationsExceptionObject(CommunicationsChannel* channel, int32_t identifier)
        : CExceptionObject(identifier), m_pChannel(channel) {}
    ~CCommunicationsExceptionObject() override = default;
    // The channel that raised it (not owned).
    CommunicationsChannel* GetChannel() const { return m_pChannel; }

private:
    CommunicationsChannel* m_pChannel;
};

}  // namespace brx

// Error identifiers of the library's channels.
namespace brx {
constexpr int32_t kCommTypeError = 1;     // bad family or kind
constexpr int32_t kCommOpenError = 2;     // create, connect, resolve; not open
constexpr int32_t kCommStartupError = 5;  // socket subsystem start-up
constexpr int32_t kCommBindError = 6;     // bind
}  // namespace brx

// A channel that reads and writes byte blocks and raises
// brx::CCommunicationsExceptionObject pointers on failure.
class CommunicationsChannel : public brx::CBRXObject {
public:
    ~CommunicationsChannel() override = default;
    virtual bool IsOpen() = 0;
    virtual bool IsReadable() = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    // Some bytes: the number read, 0 when nothing is available, negative on failure.
    virtual int Read(void* buffer, int count) = 0;
    // Gathers up to `count` bytes, pausing between reads; see the .cpp.
    virtual int ReadPaced(void* buffer, int count, uint32_t pauseMs);
    virtual int Write(const void* data, int count) = 0;
    // Pauses, then reads and discards until a read delivers nothing.
    virtual void Drain(uint32_t pauseMs);
    // Throws a new brx::CCommunicationsExceptionObject for this channel.
    [[noreturn]] virtual void ThrowCommunicationsError(const int32_t& identifier);
};

// Where a channel goes; creates the channel for itself.
class CommunicationsAddress : public brx::CBRXObject {
public:
    ~CommunicationsAddress() override = default;
    virtual CommunicationsChannel* CreateChannel() = 0;
};
