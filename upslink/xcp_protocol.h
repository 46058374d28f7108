// The XCP vocabulary: frame bytes, commands, acknowledge codes, block sizes,
// limits and the timings of the conversation with the UPS. The engine, the
// device, the network endpoint and the tools (netxcp, upssim) all take their
// numbers from here, so that one protocol fact has one name.
#pragma once
#include <cstdint>

// A request frame: start, length (command and data), command, data, checksum.
// An answer block: start, block number, data length, sequence, data, checksum.
constexpr uint8_t kXcpStart = 0xAB;
// The sequence byte's mark of an answer's last block.
constexpr uint8_t kXcpLastBlockMark = 0x80;
// The bytes of an answer block around its data.
constexpr uint32_t kXcpBlockOverhead = 5;
// The length byte counts the command as well, so a frame carries 254 data
// bytes at most.
constexpr uint32_t kXcpMaxRequestData = 254;

// Commands. The null command is answered by the relay itself on the network
// ("qln"); on the serial line it is a plain wait for whatever answer comes.
constexpr uint8_t kXcpCmdNull = 0x00;
constexpr uint8_t kXcpCmdIdentification = 0x31;
constexpr uint8_t kXcpCmdStatus = 0x33;
constexpr uint8_t kXcpCmdCapabilities = 0x42;
constexpr uint8_t kXcpCmdBaudSwitch = 0x98;
constexpr uint8_t kXcpCmdIdentify = 0xA0;
constexpr uint8_t kXcpCmdCancelAuthorization = 0xCE;
// On the line: the UPS's authorization with its code. On the network: the
// relay's password frame, never forwarded.
constexpr uint8_t kXcpCmdAuthorize = 0xCF;
constexpr uint8_t kXcpAuthorizationCode[3] = {0x3A, 0x7C, 0x51};
// The UPS wants its authorization before commands above this one.
constexpr uint8_t kXcpLastUnauthorizedCommand = 0x80;
// The relay forwards commands up to this one without its password.
constexpr uint8_t kNetXcpLastOpenCommand = 0x88;
// The relay's own answer to the null command: "qln" and its zero byte.
constexpr uint8_t kNetXcpRelayAnswer[4] = {0x71, 0x6C, 0x6E, 0x00};
// The password frame's data length; shorter passwords are padded with zeros.
constexpr uint8_t kNetXcpPasswordLength = 6;

// Acknowledges come as answer block 9 with the code as their one data byte.
constexpr uint8_t kXcpAckBlock = 9;
constexpr uint8_t kXcpAckAccepted = 0x31;
constexpr uint8_t kXcpAckAuthorized = 0x32;
constexpr uint8_t kXcpAckBusy = 0x33;  // asked to send the request again
constexpr uint8_t kXcpAckUnknownCommand = 0x36;
constexpr uint8_t kXcpAckDone = 0x37;  // read as accepted

// The answer block a command is answered with: its number less 0x30, modulo
// 256, except the two identification requests, answered with block 1.
constexpr uint8_t XcpAnswerBlock(uint8_t command) {
    if (command == kXcpCmdNull || command == kXcpCmdIdentify) return 1;
    return static_cast<uint8_t>(command - 0x30);
}

// Largest request and reply datagram of the relay; every re-framed answer
// has to fit in one.
constexpr uint32_t kNetXcpMaxDatagram = 1172;
// Data bytes per re-framed answer block, so that a block is 126 bytes.
constexpr uint32_t kXcpRelayBlockData = 121;
constexpr uint32_t kXcpRelayBlockSize = kXcpRelayBlockData + kXcpBlockOverhead;
// The shortest answer a forwarded frame can bring: one block with one byte.
constexpr uint32_t kXcpSmallestAnswer = kXcpBlockOverhead + 1;
// A UPS that keeps sending final blocks of other answers is given up on
// after this many, rather than waited on for good.
constexpr uint32_t kXcpMaxStrayAnswers = 8;
// The most blocks one answer may gather (the sequence counter's range).
constexpr uint32_t kXcpMaxBlocks = 127;

// Timings of the conversation, in milliseconds.
constexpr uint32_t kXcpAnswerMs = 1500;      // wait for an answer block
constexpr uint32_t kXcpShortAnswerMs = 750;  // the authorization and identification
constexpr uint32_t kXcpSettleMs = 200;       // pause between steps of a conversation
constexpr uint32_t kXcpRelayLeadMs = 1250;   // before reading a relayed frame's answer
constexpr uint32_t kXcpRelayPauseMs = 250;   // after a relayed answer

// How the engine spends those timings on a forwarded frame.
//   literal: wait the lead, read with the answer deadline, pause after the
//            answer before anything else happens (the reply waits for it).
//   prompt:  read the answer as it arrives, giving it as long as literal
//            would (the lead and the deadline, from the write); the pause
//            becomes a guard before the next write to the UPS, whatever that
//            write is, so the reply goes out without waiting for it.
enum class XcpTiming { kLiteral, kPrompt };
// The serial line's rate before the UPS is asked for a faster one.
constexpr uint32_t kXcpStartBaud = 1200;
