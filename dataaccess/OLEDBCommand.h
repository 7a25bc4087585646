#pragma once
// TOLEDBCommand: one provider command on the session of a connection. It keeps the text as
// last given and the text sent (parameters replaced by "?"), binds input parameters through
// a parameter accessor, executes the batch and walks its results up to the first one that
// has rows. Results without rows are skipped; their informational messages are delivered.

#include "dataaccess/DAParams.h"
#include "dataaccess/OLEDBParamBuffer.h"
#include "dataaccess/ParamScan.h"
#include "platform/oledb/com_lite.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TComponent;

namespace kv::dataaccess {

class TOLEDBConnection;

enum TCursorState {
    csInactive,
    csPrepared,
    csExecuting,
    csExecuted,
    csFetching,
    csFetchingAll,
    csFetched
};

class TOLEDBCommand {
public:
    TOLEDBCommand();
    ~TOLEDBCommand();
    TOLEDBCommand(const TOLEDBCommand&) = delete;
    TOLEDBCommand& operator=(const TOLEDBCommand&) = delete;

    // The session the command runs on; changing it drops the provider objects.
    void SetSession(TOLEDBConnection* Session);
    TOLEDBConnection* Session() const { return FSession; }
    // The object named in errors.
    void SetComponent(TComponent* Component) { FComponent = Component; }

    // A text that differs from the one held is scanned for parameters.
    void SetSQL(const std::string& Text);
    const std::string& SQL() const { return FSQL; }
    const std::string& CommandText() const { return FCommandText; }
    const TParamDescs& ParamDescs() const { return FParamDescs; }

    int CommandTimeout = 0;
    bool MultipleResults = true;

    bool Executing() const { return FExecuting.load(); }
    // Asks the running execution, result walk or fetch to stop; callable from any thread. The
    // running call then raises the provider's cancel error (DB_E_CANCELED, 0x80040E4E). A
    // request while nothing runs has no effect.
    void Cancel();
    TCursorState CursorState() const { return FCursorState; }
    void SetCursorState(TCursorState Value) { FCursorState = Value; }
    bool Prepared() const { return FPrepared; }
    void Prepare();
    void Unprepare();

    // Runs the batch with the values of Params, every marker bound to the parameter of its
    // name. Returns the rowset of the first result with rows, or null. Output parameters are
    // written back into Params once the batch has been read to its end.
    kv::oledb::ComPtr<IRowset> Execute(TDAParams* Params);
    std::int64_t RowsAffected() const { return FRowsAffected; }
    // True while results of the batch after the returned rowset are still unread.
    bool HasPendingResults() const { return static_cast<bool>(FMultipleResults); }
    // Reads and drops the remaining results of the batch, ignoring their errors (closing a
    // cursor early, cleaning up after a failure).
    void DrainResults();
    // Reads the remaining results of the batch after its rowset was read to the end: their
    // messages are delivered, the first error among them is raised through the connection's
    // error path once the batch is done, and output parameters are read back.
    void FinishResults();
    // Forgets the text: the scan of a new text failed, so nothing may run until it scans.
    void ClearSQL();
    // Releases the command's provider objects.
    void ReleaseProviderObjects();

private:
    void EnsureCommand();
    // The provider command is replaced under FCommandLock, so that Cancel from another thread
    // never meets a command being released.
    void SetCommandObject(kv::oledb::ComPtr<ICommandText> Command);
    void SetProperties();
    kv::oledb::ComPtr<IRowset> WalkResults();
    void CheckParamStatuses(HRESULT hr);
    void ReadOutputParams();

    TOLEDBConnection* FSession = nullptr;
    TComponent* FComponent = nullptr;
    std::string FSQL;
    std::string FCommandText;
    TParamDescs FParamDescs;
    std::atomic<bool> FExecuting = false;
    std::atomic<bool> FCancelRequested = false;
    std::mutex FCommandLock;
    bool FPrepared = false;
    TCursorState FCursorState = csInactive;
    std::int64_t FRowsAffected = -1;
    kv::oledb::ComPtr<ICommandText> FCommand;
    kv::oledb::ComPtr<IMultipleResults> FMultipleResults;
    TOLEDBParamBuffer FParamBuffer;
    bool FOutputPending = false; // output values still to be read back into Params
};

} // namespace kv::dataaccess
