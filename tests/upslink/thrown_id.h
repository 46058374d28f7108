// The message id a failure carries, for tests that expect one.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "upslink/link_error.h"

// The message id of the UpsLinkError that `action` throws, 0 when none.
inline uint32_t ThrownId(const std::function<void()>& action) {
    try {
        action();
    } catch (UpsLinkError* e) {
        std::unique_ptr<UpsLinkError> owned(e);
        return owned->GetMessageId();
    }
    return 0;
}
