// Building NetXCP request datagrams from what an operator types.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using ByteString = std::vector<uint8_t>;

// An XCP request frame: AB, length, command, data, checksum.
ByteString XcpFrame(uint8_t command, const ByteString& data = {});
// The password frame (command 0xCF, six bytes; shorter passwords are
// padded with zero bytes, longer ones cut).
ByteString PasswordFrame(const std::string& password);

// One request word: a name ("relay", "ident", "status", "caps"), a command
// with optional data as "cmd:31" or "cmd:42,00" (hex), or raw hex bytes sent
// as they are ("ab01 0053", "AB:01:00:53"). False, with `error` set, for
// anything else.
bool ParseRequestWord(const std::string& word, ByteString& out, std::string& error);

// Hex digits to bytes; separators ' ', ':', '-' are skipped.
bool ParseHex(const std::string& text, ByteString& out);
std::string HexText(const ByteString& bytes);
