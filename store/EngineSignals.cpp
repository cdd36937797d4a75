#include "store/EngineSignals.h"

#include "store/Firebird.h"

#include <ibase.h>

namespace {

int RefuseSignalShutdown(const int reason, const int, void*)
{
    return reason == fb_shutrsn_signal ? 1 : 0;
}

} // namespace

bool LeaveSignalsToProgram()
{
    static const bool registered = [] {
        PrepareFirebirdEnvironment();
        ISC_STATUS_ARRAY status = {};
        return fb_shutdown_callback(status, RefuseSignalShutdown, fb_shut_confirmation, nullptr) == 0;
    }();
    return registered;
}
