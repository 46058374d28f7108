// Placeholder until password scrambling lands.
#include <cstdio>
#include <cstdlib>

#include "common/config/encryption.h"

char* CEncryption::Encrypt(const char*) {
    fprintf(stderr, "Pellux_noDB: password scrambling is not available in this build.\n");
    abort();
}

char* CEncryption::UnEncrypt(const char*) {
    fprintf(stderr, "Pellux_noDB: password scrambling is not available in this build.\n");
    abort();
}
