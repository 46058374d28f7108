// Runs an action whose failure the caller only needs to know of, not the
// reason: every failure the agent's layers throw is deleted (pointer forms)
// and reported as false.
#pragma once
#include <exception>

#include "agent/qln_exception.h"
#include "upslink/brx_objects.h"
#include "upslink/link_error.h"

template <typename Action>
bool Absorb(Action action) {
    try {
        action();
        return true;
    } catch (CQLNException* failure) {
        delete failure;
    } catch (UpsLinkError* failure) {
        delete failure;
    } catch (brx::CExceptionObject* failure) {
        delete failure;
    } catch (const brx::CExceptionObject&) {
    } catch (const std::exception&) {
    }
    return false;
}
