#pragma once
// TPVConnection: the provider-neutral part of a session object (the physical link of one
// connection component), and the error handling loop every provider error runs through.
//
// The connection component owns one session object and wires three hooks into it: the error
// handler (the connection's HandleProviderError), the close hook (sets the connection's
// Connected to false) and the reconnected hook (fires the connection's AfterConnect after the
// error handling re-opened the link). A session object without hooks simply raises its errors.

#include "dataaccess/DAError.h"

#include <cstdint>
#include <functional>
#include <string>

class TComponent;

namespace kv::dataaccess {

enum TIsolationLevel : int {
    ilReadCommitted,
    ilReadUnCommitted,
    ilRepeatableRead,
    ilIsolated,
    ilSnapshot
};

class TPVConnection;

// The session object's own transaction state. The console never starts transactions; the
// object holds the isolation level and tells whether a transaction is running.
class TPVTransaction {
public:
    virtual ~TPVTransaction();
    TIsolationLevel IsolationLevel = ilReadCommitted;
    bool GetInTransaction() const { return FActive; }
    TPVConnection* Connection() const { return FConnection; }
    void SetConnection(TPVConnection* Value) { FConnection = Value; }
    void Reset() { FActive = false; }

private:
    bool FActive = false;
    TPVConnection* FConnection = nullptr;
};

class TPVConnectionPool;

// HandleProviderError of the connection: (E, Fail, Reconnect, Reexecute, attempt, cause).
using TErrorHandler = std::function<void(EDAError& E, bool& Fail, bool& Reconnect, bool& Reexecute,
                                         int ReconnectAttempt, TConnLostCause& ConnLostCause)>;

class TPVConnection {
public:
    TPVConnection();
    virtual ~TPVConnection();
    TPVConnection(const TPVConnection&) = delete;
    TPVConnection& operator=(const TPVConnection&) = delete;

    virtual void OpenSession() = 0;
    virtual void CloseSession() = 0;

    bool GetConnected() const { return FConnected; }
    bool IsValid() const { return FIsValid; }
    void SetIsValid(bool Value) { FIsValid = Value; }
    // Milliseconds since system start at the last successful open.
    std::uint32_t LastOpenTime() const { return FLastOpenTime; }

    std::string Username;
    std::string Password;
    std::string Server;

    void SetErrorHandler(TErrorHandler Handler) { FErrorHandler = std::move(Handler); }
    bool HasErrorHandler() const { return static_cast<bool>(FErrorHandler); }
    void SetCloseHook(std::function<void()> Hook) { FCloseHook = std::move(Hook); }
    void SetReconnectedHook(std::function<void()> Hook) { FReconnectedHook = std::move(Hook); }
    // The component used as the Component of errors raised while opening.
    TComponent* Owner() const { return FOwner; }
    void SetOwner(TComponent* Value) { FOwner = Value; }

    TPVTransaction* Transaction() const { return FTransaction; }
    void SetTransaction(TPVTransaction* Value) { FTransaction = Value; }
    TPVTransaction& OwnTransaction() { return FOwnTransaction; }
    const TPVTransaction& OwnTransaction() const { return FOwnTransaction; }

    TPVConnectionPool* Pool() const { return FPool; }
    void SetPool(TPVConnectionPool* Value) { FPool = Value; }

    bool InErrorHandler() const { return FInErrorHandler; }

    // The reconnect loop around the connection's error handler: lets the handler decide, and
    // closes and re-opens the link when it asks for it. Raises EFailOver when the link was
    // re-opened and the failed operation is to be run again.
    void RunErrorHandler(EDAError& E, bool& Fail);

protected:
    void MarkOpened(std::uint32_t Tick);
    void MarkClosed() { FConnected = false; }

private:
    bool FConnected = false;
    bool FIsValid = false;
    std::uint32_t FLastOpenTime = 0;
    bool FInErrorHandler = false;
    TErrorHandler FErrorHandler;
    std::function<void()> FCloseHook;
    std::function<void()> FReconnectedHook;
    TComponent* FOwner = nullptr;
    TPVTransaction FOwnTransaction;
    TPVTransaction* FTransaction = nullptr;
    TPVConnectionPool* FPool = nullptr;
};

} // namespace kv::dataaccess
