// One connection to SQL Server through FreeTDS db-lib, and the translation of what db-lib
// reports into what OLE DB callers receive. Internal to the portable provider.
//
// db-lib reports through two process-wide callbacks. They are installed once and route every
// message to the connection it belongs to (the DBPROCESS's user data, or, while a login is
// still in progress and no DBPROCESS exists yet, the collector of the calling thread). The
// error callback often fires twice for one failure and echoes every server message as
// SYBESMSG; both are collapsed here, so a call ends with the server's messages in order plus
// the distinct client-side errors.
#pragma once

#include "platform/oledb/error_records.h"
#include "platform/oledb/rowset.h"
#include "platform/oledb/server_names.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct tds_dblib_dbprocess;

namespace kv::oledb::tds {

struct ClientError {
    int number = 0; // db-lib's error number (SYBE...)
    int severity = 0;
    int osError = 0;
    std::string text;
};

// What db-lib reported during one call.
struct Messages {
    std::vector<SqlServerMessage> server;
    std::vector<ClientError> client;
    bool timedOut = false;

    bool empty() const { return server.empty() && client.empty(); }
    bool hasClientError(int number) const;
    bool hasServerError() const; // class 11 and up
    void clear() { *this = Messages{}; }
};

// The outcome of a failed call, ready to be posted: the result code and the error records.
struct Failure {
    HRESULT result = E_FAIL;
    std::vector<ErrorRecordData> records;
    bool linkLost = false;
};

// What went wrong, as far as the mapping table is concerned.
enum class Situation {
    ServerUnreachable,
    LoginTimeout,
    LoginRefused,
    LoginFailedOther,
    IntegratedLoginUnavailable,
    ConnectionLost,
    CommandTimeout,
    Cancelled,
    StatementFailed,
    SilentFailure,
};

// Builds the failure for a situation: the server's own records where it sent any, plus the
// record the table gives for client-side failures. `iid` names the interface of the call.
Failure makeFailure(Situation situation, const Messages& messages, const IID& iid);

// Posts a failure as the thread's error object and returns its result code.
HRESULT postFailure(const Failure& failure);
// Posts server messages of a successful call (informational messages) as error records, so
// that the caller can read them after S_OK; clears the error object when there are none.
void postInformation(const Messages& messages, const IID& iid);

struct LoginSettings {
    std::string server; // as the client named it
    std::string user;
    std::string password;
    bool integrated = false;
    std::string database;
    std::string language;
    std::string application;
    std::string workstation;
    int loginTimeoutSeconds = 15;
    int packetSize = 4096;
    bool encrypt = false;
};

// One parameter of a remote procedure call.
struct RpcArg {
    std::string name; // "@P1"; empty for a positional parameter
    bool output = false;
    CellValue value;
    // The declared type for sp_executesql's declaration list ("bigint", "nvarchar(max)", ...).
    std::string declaredType;
};

// A value a procedure call returned for an output parameter.
struct ReturnValue {
    std::string name;
    CellValue value;
};

class Link {
public:
    // Logs in. On failure returns null and fills `failure` (unreachable server, refused login,
    // time-out); on success `information` holds the login's informational messages.
    static std::unique_ptr<Link> open(const LoginSettings& settings, Failure& failure,
                                      Messages& information);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    enum class Step { Ok, Failed, NoMore, Dead, TimedOut, Cancelled };

    // Sends a batch (dbcmd + dbsqlexec). Failed: the first statement failed; the rest of the
    // batch may still have results.
    Step execute(const std::string& sql, int timeoutSeconds);
    // Calls a procedure (dbrpcinit ... dbrpcsend, dbsqlok); results as for execute.
    Step call(const std::string& procedure, const std::vector<RpcArg>& args, int timeoutSeconds);
    // The output values of the last call; read once its results are done.
    std::vector<ReturnValue> returnValues();
    // The next result of the batch (dbresults): Ok, Failed (the statement failed), NoMore.
    Step nextResult();
    int columnCount() const;
    // Rows affected by the current result; -1 when the statement reported no count.
    long long rowCount() const;
    // Ok: a row is current; NoMore: the rows of this result are done.
    Step nextRow();
    // Drops the unread rows of the current result.
    void discardRows();
    // Reads and drops every remaining result of the batch (errors included).
    void drainResults();

    // Asks the running call to stop: thread-safe, returns at once. While db-lib waits for the
    // server it asks the connection's interrupt check about once a second; the check then sends
    // an attention and the waiting call ends as Cancelled. A request stays until clearCancel.
    void requestCancel() { cancel_.store(true); }
    bool cancelRequested() const { return cancel_.load(); }
    void clearCancel();
    // Stops the batch now from the calling thread (attention, then the rest is flushed).
    void cancelBatch();

    // Messages gathered since the last take.
    Messages takeMessages();
    bool isDead();
    bool markedDead() const { return dead_; }
    std::string currentDatabase() const;
    tds_dblib_dbprocess* handle() const { return dbproc_; }
    const std::string& serverName() const { return serverName_; }

    // Runs one statement to its end and returns the first column of the first row (text form),
    // or nullopt after any failure (which is not reported).
    std::optional<std::string> queryScalar(const std::string& sql);

private:
    Link() = default;
    Step afterFailure();
    void applyTimeout(int timeoutSeconds);
    static int checkInterrupt(void* dbproc);
    static int handleInterrupt(void* dbproc);

    tds_dblib_dbprocess* dbproc_ = nullptr;
    Messages messages_;
    bool dead_ = false;
    int timeoutSeconds_ = -1; // unknown until the first command sets it
    std::string serverName_;
    std::atomic<bool> cancel_{false};
    bool attentionSent_ = false; // by the interrupt handler, for the current request
};

// The columns of the current result, and the current row in the neutral value form.
std::vector<ColumnDesc> describeColumns(Link& link);
RowData readCurrentRow(Link& link, const std::vector<ColumnDesc>& columns);
// One value of the current row as db-lib holds it: `length` bytes at `data` (null for a null
// value) of the server type `sybType`, in the column described by `column`. `dbproc` serves
// db-lib's converter for the types delivered as text or floating point (it may be null).
CellValue cellFromRowData(tds_dblib_dbprocess* dbproc, int sybType, const BYTE* data,
                          std::int32_t length, const ColumnDesc& column);

} // namespace kv::oledb::tds
