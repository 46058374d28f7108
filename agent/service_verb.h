// How every service verb ends the process: its success text on standard
// output and 0, or the failure's text on standard error and -1.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "agent/qln_exception.h"

template <typename Verb>
[[noreturn]] void RunVerb(Verb verb, const char* success) {
    int code = 0;
    try {
        verb();
        printf("%s\n", success);
    } catch (CQLNException* failure) {
        std::unique_ptr<CQLNException> owned(failure);
        owned->Print();
        code = -1;
    }
    fflush(stdout);
    fflush(stderr);
    exit(code);
}
