// Runs `action` and returns the identifier of the communications failure it
// threw (the pointer is deleted), or -1 when it threw nothing.
#pragma once
#include <memory>

#include "upslink/brx_objects.h"

template <typename Action>
int CommFailureId(Action action) {
    try {
        action();
    } catch (brx::CCommunicationsExceptionObject* raised) {
        std::unique_ptr<brx::CCommunicationsExceptionObject> owned(raised);
        return owned->GetIdentifier();
    }
    return -1;
}
