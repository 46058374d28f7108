#include "agent/socket_address.h"

#include "agent/socket.h"
#include "agent/socket_api.h"

SocketAddress::SocketAddress(uint32_t address, uint16_t port, int32_t kind)
    : m_nPort(port), m_nKind(kind), m_nFamily(kFamilyIPv4), m_Host(sockapi::DottedText(address)) {}

SocketAddress::SocketAddress(const std::string& host, uint16_t port, int32_t kind, int32_t family)
    : m_nPort(port), m_nKind(kind), m_nFamily(family), m_Host(host) {}

CommunicationsChannel* SocketAddress::CreateChannel() { return CreateSocket(); }

Socket* SocketAddress::CreateSocket() { return new Socket(*this); }
