// CEncryption: scrambling of passwords stored in INI files.
#pragma once
#include "common/pellux_api.h"

class PELLUX_API CEncryption {
public:
    // New NUL-terminated scrambled text of `clear`, from the runtime heap
    // (release with free()).
    static char* Encrypt(const char* clear);
    // New NUL-terminated clear text of `scrambled`, from the runtime heap
    // (release with free()).
    static char* UnEncrypt(const char* scrambled);
};
