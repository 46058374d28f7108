// The message id a failure carries, for tests that expect one.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "agent/qln_exception.h"

// The message id of the CQLNException that `action` throws, 0 when none.
inline uint32_t ThrownId(const std::function<void()>& action) {
    try {
        action();
    } catch (CQLNException* e) {
        std::unique_ptr<CQLNException> owned(e);
        return owned->GetMessageId();
    }
    return 0;
}
