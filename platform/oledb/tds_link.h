// The connection of the portable provider to SQL Server, and the translation of what the
// client library reports into what OLE DB callers receive. Internal to the provider.
//
// `Link` is the transport: the batches, results and rows of one connection. It has two
// implementations, chosen when the data source is created: FreeTDS db-lib (`DbLibLink`, below,
// in tds_link.cpp and tds_results.cpp; POSIX builds) and ODBC with the wide calls (odbc_link.cpp;
// the Windows build, and POSIX builds that have unixODBC). The provider's objects (data source,
// session, command, batch, rowset) use only `Link`, so their logic is one for both. The failure
// table (tds_failures.cpp) turns the situations either transport meets into the records the
// classic provider posts.
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

// The server messages that refuse a login (a wrong password, a disabled account, ...): with
// them a failed login is LoginRefused.
bool isLoginRefusal(const SqlServerMessage& m);

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

// One connection to SQL Server. Results are read in order: `execute` or `call` sends a request,
// `nextResult` moves to each result of it in turn (the first call gives the first result),
// `nextRow` moves through the rows of a result. Every call that fails leaves what it met in
// `takeMessages`. Used from one thread at a time, except `requestCancel`.
class Link {
public:
    virtual ~Link() = default;

    enum class Step { Ok, Failed, NoMore, Dead, TimedOut, Cancelled };

    // Sends a batch. Failed: the first statement failed; the rest of the batch may still have
    // results.
    virtual Step execute(const std::string& sql, int timeoutSeconds) = 0;
    // Calls a procedure with parameters; results as for execute.
    virtual Step call(const std::string& procedure, const std::vector<RpcArg>& args,
                      int timeoutSeconds) = 0;
    // The output values of the last call; read once its results are done.
    virtual std::vector<ReturnValue> returnValues() = 0;
    // The next result of the request: Ok, Failed (the statement failed), NoMore.
    virtual Step nextResult() = 0;
    virtual int columnCount() const = 0;
    // Rows affected by the current result; -1 when the statement reported no count.
    virtual long long rowCount() const = 0;
    // The columns of the current result, and the current row in the neutral value form.
    virtual std::vector<ColumnDesc> describeColumns() = 0;
    virtual RowData readRow(const std::vector<ColumnDesc>& columns) = 0;
    // Ok: a row is current; NoMore: the rows of this result are done.
    virtual Step nextRow() = 0;
    // Drops the unread rows of the current result.
    virtual void discardRows() = 0;
    // Reads and drops every remaining result of the request (errors included).
    virtual void drainResults() = 0;

    // Asks the running call to stop: thread-safe, returns at once. The waiting call ends as
    // Cancelled. A request stays until clearCancel.
    virtual void requestCancel() = 0;
    virtual bool cancelRequested() const = 0;
    virtual void clearCancel() = 0;
    // Stops the request now from the calling thread (attention, then the rest is flushed).
    virtual void cancelBatch() = 0;

    // Messages gathered since the last take.
    virtual Messages takeMessages() = 0;
    virtual bool isDead() = 0;
    virtual bool markedDead() const = 0;
    virtual std::string currentDatabase() const = 0;

    // Runs one statement to its end and returns the first column of the first row (text form),
    // or nullopt after any failure (which is not reported).
    virtual std::optional<std::string> queryScalar(const std::string& sql) = 0;
};

// Logs in over one transport. On failure returns null and fills `failure` (unreachable server,
// refused login, time-out); on success `information` holds the login's informational messages.
using LinkOpener = std::unique_ptr<Link> (*)(const LoginSettings& settings, Failure& failure,
                                             Messages& information);

// The data source over a transport (tds_provider.cpp); the class factories of provider.h call it.
HRESULT createDataSource(IUnknown* outer, REFIID riid, void** ppv, LinkOpener opener);

// The db-lib transport.
class DbLibLink final : public Link {
public:
    static std::unique_ptr<Link> open(const LoginSettings& settings, Failure& failure,
                                      Messages& information);
    ~DbLibLink() override;
    DbLibLink(const DbLibLink&) = delete;
    DbLibLink& operator=(const DbLibLink&) = delete;

    // dbcmd + dbsqlexec.
    Step execute(const std::string& sql, int timeoutSeconds) override;
    // dbrpcinit ... dbrpcsend, dbsqlok.
    Step call(const std::string& procedure, const std::vector<RpcArg>& args,
              int timeoutSeconds) override;
    std::vector<ReturnValue> returnValues() override;
    // dbresults.
    Step nextResult() override;
    int columnCount() const override;
    long long rowCount() const override;
    std::vector<ColumnDesc> describeColumns() override;
    RowData readRow(const std::vector<ColumnDesc>& columns) override;
    Step nextRow() override;
    void discardRows() override;
    void drainResults() override;

    // While db-lib waits for the server it asks the connection's interrupt check about once a
    // second; the check then sends an attention and the waiting call ends as Cancelled.
    void requestCancel() override { cancel_.store(true); }
    bool cancelRequested() const override { return cancel_.load(); }
    void clearCancel() override;
    void cancelBatch() override;

    Messages takeMessages() override;
    bool isDead() override;
    bool markedDead() const override { return dead_; }
    std::string currentDatabase() const override;
    tds_dblib_dbprocess* handle() const { return dbproc_; }
    const std::string& serverName() const { return serverName_; }

    std::optional<std::string> queryScalar(const std::string& sql) override;

private:
    DbLibLink() = default;
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

// One value of the current row as db-lib holds it: `length` bytes at `data` (null for a null
// value) of the server type `sybType`, in the column described by `column`. `dbproc` serves
// db-lib's converter for the types delivered as text or floating point (it may be null).
CellValue cellFromRowData(tds_dblib_dbprocess* dbproc, int sybType, const BYTE* data,
                          std::int32_t length, const ColumnDesc& column);

} // namespace kv::oledb::tds
