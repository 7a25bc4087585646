// The batches of the portable provider: one connection to SQL Server and the batch that
// currently holds it, the results of a batch as the caller walks them, and the rows of a result
// as the caller fetches them. Internal to the provider (tds_*.cpp).
//
// One batch runs on a connection at a time. The results of a batch are read in order as the
// caller walks them (IMultipleResults::GetResult) and a rowset reads its rows from the
// connection as the caller fetches them; moving on to the next result drops the unread rows of
// the current one. When the last holder of a batch goes (the result walker and every rowset),
// the rest of the batch is read and dropped, so the connection is free for the next command.
// A second command while a batch is still held answers DB_E_OBJECTOPEN.
#pragma once

#include "platform/oledb/rowset.h"
#include "platform/oledb/tds_link.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv::oledb::tds {

inline constexpr DBROWCOUNT kCountUnavailable = -1;

class Batch;

// A connection and the batch that currently holds it.
//
// Cancel requests (ICommand::Cancel, from any thread) are for the command that runs: from the
// start of its Execute until its batch is done, that command is the link's runner, and only
// the runner's request reaches the link. A request made while the command does not run is
// dropped, and the end of every batch clears the request, so the next statement on the link (a
// command's or the session's own: "use", the catalogs, SET options) never meets a request that
// was meant for another.
struct Connection {
    std::unique_ptr<Link> link;
    std::weak_ptr<Batch> active;
    std::string dbmsVersion;
    int serverMajor = 0;
    std::string user;

    // A command's name as a runner; 0 is nobody (the provider's own statements).
    using Runner = std::uint64_t;
    static Runner newRunner();
    // Makes `runner` the link's runner when nobody runs; false when another does.
    bool claimRunner(Runner runner);
    // Passes a request to the link when `runner` runs; drops it otherwise.
    void requestCancel(Runner runner);
    // Ends the run of `runner` (or of nobody) and clears the link's request.
    void releaseRunner(Runner runner);

private:
    std::mutex runnerMutex_;
    Runner runner_ = 0;
};

inline HRESULT fail(Situation situation, const Messages& messages, const IID& iid) {
    return postFailure(makeFailure(situation, messages, iid));
}

inline Situation statementSituation(const Messages& m) {
    return m.server.empty() ? Situation::SilentFailure : Situation::StatementFailed;
}

class LinkRowSource;

struct ResultOutcome {
    HRESULT result = S_OK; // S_OK, DB_S_NORESULT, or a failure already posted
    std::shared_ptr<LinkRowSource> rows;
    long long affected = -1;
    Messages information;
};

class Batch : public std::enable_shared_from_this<Batch> {
public:
    Batch(std::shared_ptr<Connection> connection, const IID& iid, Connection::Runner runner)
        : connection_(std::move(connection)), iid_(iid), runner_(runner) {}
    ~Batch() { drain(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Sends the batch. A failure here (busy or dead connection, time-out, a cancel that came
    // before the batch left) is posted and returned; statement errors are kept for the first
    // result. `runner` is the command whose run the batch belongs to (0: the provider's own
    // statement); the batch ends that run when it is done.
    static HRESULT start(const std::shared_ptr<Connection>& connection, const std::string& sql,
                         int timeoutSeconds, const IID& iid, std::shared_ptr<Batch>& out,
                         Connection::Runner runner = 0);
    // The same for a procedure call; `send` makes the call on the link.
    static HRESULT startWith(const std::shared_ptr<Connection>& connection,
                             const std::function<Link::Step(Link&)>& send, const IID& iid,
                             std::shared_ptr<Batch>& out, Connection::Runner runner = 0);
    // Where the output values of a call go once its results are done: the caller's parameter
    // buffer and the output bindings of its accessor.
    void setOutputs(BYTE* data, std::vector<DBBINDING> bindings) {
        outputData_ = data;
        outputBindings_ = std::move(bindings);
    }

    ResultOutcome next();
    void drain();
    bool finished() const { return finished_; }
    Link& link() { return *connection_->link; }
    const IID& iid() const { return iid_; }
    // A failure met while reading rows.
    HRESULT rowFailure(Link::Step step);

private:
    friend class LinkRowSource;
    std::shared_ptr<Connection> connection_;
    IID iid_;
    Connection::Runner runner_ = 0;
    bool finished_ = false;
    std::optional<Failure> firstFailure_;
    Messages firstInformation_;
    std::weak_ptr<LinkRowSource> current_;
    BYTE* outputData_ = nullptr;
    std::vector<DBBINDING> outputBindings_;

    void writeOutputs();
    // The batch is done: its command's run ends.
    void markFinished();
};

class LinkRowSource final : public RowSource {
public:
    LinkRowSource(std::shared_ptr<Batch> batch, std::vector<ColumnDesc> columns)
        : batch_(std::move(batch)), columns_(std::move(columns)) {}
    const std::vector<ColumnDesc>& columns() const override { return columns_; }

    HRESULT fetch(std::size_t count, std::vector<RowData>& out) override {
        if (ended_) {
            return DB_S_ENDOFROWSET;
        }
        Link& link = batch_->link();
        for (std::size_t i = 0; i < count; ++i) {
            const Link::Step step = link.cancelRequested() ? Link::Step::Cancelled : link.nextRow();
            if (step == Link::Step::Ok) {
                out.push_back(link.readRow(columns_));
                continue;
            }
            ended_ = true;
            if (step == Link::Step::NoMore) {
                link.takeMessages();
                return DB_S_ENDOFROWSET;
            }
            return batch_->rowFailure(step);
        }
        return S_OK;
    }

    void abandon() override { finish(); }

    // Drops the unread rows (the walker moves on, or the rowset goes).
    void finish() {
        if (!ended_) {
            ended_ = true;
            batch_->link().discardRows();
            batch_->link().takeMessages();
        }
    }

private:
    std::shared_ptr<Batch> batch_;
    std::vector<ColumnDesc> columns_;
    bool ended_ = false;
};

// Runs a batch to its end and keeps the rows of its first rowset (for the provider's own
// queries: the catalogs rowset). Failures are posted and returned.
HRESULT runToMemory(const std::shared_ptr<Connection>& connection, const std::string& sql,
                    const IID& iid, std::vector<ColumnDesc>& columns, std::vector<RowData>& rows);

// The provider's objects, made by the object that owns them (tds_command.cpp, tds_session.cpp).
HRESULT createCommand(IUnknown* session, std::shared_ptr<Connection> connection, REFIID riid,
                      IUnknown** ppCommand);
HRESULT createSession(IUnknown* dataSource, std::shared_ptr<Connection> connection,
                      std::shared_ptr<int> sessionCount, REFIID riid, IUnknown** ppSession);

} // namespace kv::oledb::tds
