// UpsLinkError: every failure the UPS link raises (port, serial link, XCP
// engine, device). It carries one message id: the system's error code for a
// port that failed, or one of the engine's ids (MSG_UPS_TIMEOUT,
// MSG_UPS_INVALID_RESPONSE). Thrown as a pointer to a
// new object and owned at once by the catcher; the agent reports it as its
// own exception with the same id (agent/relay_worker.cpp).
#pragma once
#include <cstdint>

class UpsLinkError {
public:
    explicit UpsLinkError(uint32_t messageId) : m_nMessageId(messageId) {}

    uint32_t GetMessageId() const { return m_nMessageId; }

private:
    uint32_t m_nMessageId;
};
