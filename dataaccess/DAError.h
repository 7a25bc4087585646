#pragma once
// The root of the layer's provider and server errors, and the fail-over vocabulary.
//
// Why one root with virtual questions rather than a wide class tree: callers never branch on
// the class of a provider error; they ask it whether the link survived (IsFatal) or whether a
// unique key was hit (IsDuplicateKey). The SQL Server class answers from the server's numbers,
// the generic OLE DB class says "no" to both.
//
// Error objects are thrown by value like every toolkit exception, so the class tree offers a
// polymorphic copy (Clone) and a polymorphic throw (Raise): code that holds an error through a
// base reference can re-raise it without slicing. The error also is a TObject so that it can
// be the Sender of the trace monitor's error notification.

#include "toolkit/Persistent.h"
#include "toolkit/SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>

class TComponent;

namespace kv::dataaccess {

// Why a link was lost; found on the connection's operation stack (fail-over only).
enum TConnLostCause {
    clUnknown,
    clExecute,
    clOpen,
    clRefresh,
    clApply,
    clServiceQuery,
    clTransStart,
    clConnectionApply,
    clConnect
};

// What OnConnectionLost asks for.
enum TRetryMode { rmRaise, rmReconnect, rmReconnectExecute };

class EDAError : public Exception, public TObject {
public:
    EDAError(std::int32_t ErrorCode, std::string Message);
    EDAError(const EDAError& Other);
    EDAError& operator=(const EDAError&) = delete;
    ~EDAError() override;

    std::string ClassName() const override { return "EDAError"; }

    std::int32_t ErrorCode() const { return FErrorCode; }
    // The object on whose behalf the failing call ran (not owned).
    TComponent* Component() const { return FComponent; }
    void SetComponent(TComponent* Value) { FComponent = Value; }

    // True when the link to the server cannot be used any more.
    virtual bool IsFatal() const;
    // True when a unique index or key refused a row.
    virtual bool IsDuplicateKey() const;

    virtual std::unique_ptr<EDAError> Clone() const;
    [[noreturn]] virtual void Raise() const;

protected:
    void SetErrorCode(std::int32_t Value) { FErrorCode = Value; }

private:
    std::int32_t FErrorCode;
    TComponent* FComponent = nullptr;
};

// Raised inside the statement machinery after the link was re-opened by the error handling:
// the interrupted operation is to be run again. Never reaches the application.
class EFailOver : public Exception {
public:
    explicit EFailOver(TConnLostCause Cause);
    std::string ClassName() const override { return "EFailOver"; }
    TConnLostCause ConnLostCause() const { return FCause; }

private:
    TConnLostCause FCause;
};

} // namespace kv::dataaccess
