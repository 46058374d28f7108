// The one catch ladder of the relay worker and the NetXCP endpoint. Every
// failure the agent's layers throw (exceptions thrown as pointers, owned at
// once here, the library's objects, settings that cannot be used, standard
// exceptions) is caught by Catch and handed back as a CaughtFailure, which
// owns it and carries what its report needs. Absorb is Catch for a caller
// that only needs to know whether the action failed. Anything else thrown
// passes on.
#pragma once
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "agent/qln_exception.h"
#include "agent/relay_settings.h"
#include "upslink/brx_objects.h"
#include "upslink/link_error.h"

struct CaughtFailure {
    enum class Kind {
        kAgent,           // a CQLNException, owned in `agent`
        kCommunications,  // a communications failure of the library, `identifier`
        kLibrary,         // another failure of the library, `identifier`
        kSettings,        // a setting that cannot be used, `settings`
        kStandard,        // a standard exception, its text in `what`
    };
    Kind kind = Kind::kStandard;
    std::unique_ptr<CQLNException> agent;
    int32_t identifier = 0;
    SettingsError settings;
    std::string what;

    // The agent exception's message id; 0 for the other kinds.
    uint32_t MessageId() const { return agent ? agent->GetMessageId() : 0; }
};

// Runs `action`; nothing when it returned, else what it threw, owned. A
// library object thrown by value counts as a communications failure, as the
// worker has always reported it.
template <typename Action>
std::optional<CaughtFailure> Catch(Action&& action) {
    CaughtFailure caught;
    try {
        action();
        return std::nullopt;
    } catch (CQLNException* failure) {
        caught.kind = CaughtFailure::Kind::kAgent;
        caught.agent.reset(failure);
    } catch (UpsLinkError* failure) {
        // Reported as the agent's own exception with the same id.
        std::unique_ptr<UpsLinkError> owned(failure);
        caught.kind = CaughtFailure::Kind::kAgent;
        caught.agent.reset(new CQLNException(owned->GetMessageId()));
    } catch (brx::CCommunicationsExceptionObject* failure) {
        std::unique_ptr<brx::CCommunicationsExceptionObject> owned(failure);
        caught.kind = CaughtFailure::Kind::kCommunications;
        caught.identifier = owned->GetIdentifier();
    } catch (const brx::CExceptionObject& failure) {
        caught.kind = CaughtFailure::Kind::kCommunications;
        caught.identifier = failure.GetIdentifier();
    } catch (brx::CExceptionObject* failure) {
        std::unique_ptr<brx::CExceptionObject> owned(failure);
        caught.kind = CaughtFailure::Kind::kLibrary;
        caught.identifier = owned->GetIdentifier();
    } catch (const SettingsError& error) {
        caught.kind = CaughtFailure::Kind::kSettings;
        caught.settings = error;
    } catch (const std::exception& failure) {
        caught.kind = CaughtFailure::Kind::kStandard;
        caught.what = failure.what();
    }
    return caught;
}

// Runs an action whose failure the caller only needs to know of, not the
// reason: true when it returned, false when Catch caught a failure (deleted).
template <typename Action>
bool Absorb(Action&& action) {
    return !Catch(std::forward<Action>(action));
}
