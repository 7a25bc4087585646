#include "dataaccess/PVConnection.h"

namespace kv::dataaccess {

TPVTransaction::~TPVTransaction() = default;

TPVConnection::TPVConnection() {
    FOwnTransaction.SetConnection(this);
}

TPVConnection::~TPVConnection() = default;

void TPVConnection::MarkOpened(std::uint32_t Tick) {
    FLastOpenTime = Tick;
    FIsValid = true;
    FConnected = true;
}

void TPVConnection::RunErrorHandler(EDAError& E, bool& Fail) {
    if (!FErrorHandler || FInErrorHandler)
        return;
    int attempt = 0;
    bool reopened = false;
    for (;;) {
        bool reconnect = attempt > 0;
        bool reexecute = false;
        TConnLostCause cause = clUnknown;
        FInErrorHandler = true;
        try {
            FErrorHandler(E, Fail, reconnect, reexecute, attempt, cause);
        } catch (...) {
            FInErrorHandler = false;
            throw;
        }
        FInErrorHandler = false;

        if (reconnect) {
            if (attempt == 0) {
                try {
                    CloseSession();
                } catch (...) { // the link is dead anyway
                }
            }
            try {
                OpenSession();
                reopened = true;
                if (FReconnectedHook)
                    FReconnectedHook();
            } catch (...) { // the first error is the one that continues
            }
            if (reopened && reexecute)
                throw EFailOver(cause);
            ++attempt;
        } else if (attempt > 0 && !reopened && FCloseHook) {
            try {
                FCloseHook();
            } catch (...) {
            }
        }
        if (!reconnect || reopened)
            return;
    }
}

} // namespace kv::dataaccess
