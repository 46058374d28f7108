// Placeholder until the relay worker lands: it fails loudly.
#include <cstdio>

#include "agent/relay_worker.h"

int RelayWorker(void*) {
    fprintf(stderr, "qln: the relay worker is not available in this build.\n");
    return -1;
}
