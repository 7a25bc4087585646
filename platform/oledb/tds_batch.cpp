// Batches of the portable provider: sending, walking the results, reading the rows, and the
// output values of a procedure call (see tds_batch.h).
#include "platform/oledb/tds_batch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

namespace kv::oledb::tds {

Connection::Runner Connection::newRunner() {
    static std::atomic<Runner> last{0};
    return ++last;
}

bool Connection::claimRunner(Runner runner) {
    std::lock_guard lock(runnerMutex_);
    if (runner_ != 0) {
        return false;
    }
    runner_ = runner;
    return true;
}

void Connection::requestCancel(Runner runner) {
    std::lock_guard lock(runnerMutex_);
    if (runner != 0 && runner == runner_ && link) {
        link->requestCancel();
    }
}

void Connection::releaseRunner(Runner runner) {
    std::lock_guard lock(runnerMutex_);
    if (runner == runner_) {
        runner_ = 0;
        if (link) {
            link->clearCancel();
        }
    }
}

void Batch::markFinished() {
    if (!finished_) {
        finished_ = true;
        if (connection_) {
            connection_->releaseRunner(runner_);
        }
    }
}

HRESULT Batch::start(const std::shared_ptr<Connection>& connection, const std::string& sql,
                     int timeoutSeconds, const IID& iid, std::shared_ptr<Batch>& out,
                     Connection::Runner runner) {
    return startWith(
        connection, [&](Link& link) { return link.execute(sql, timeoutSeconds); }, iid, out,
        runner);
}

namespace {

// An output bound by reference (text or bytes): the whole value in memory of the task
// allocator, whose address replaces the one in the caller's buffer (for an input/output, the
// address of its input); the caller frees it.
void writeByReference(const DBBINDING& b, const CellValue& value, BYTE* data) {
    DBSTATUS status = DBSTATUS_S_OK;
    DBLENGTH length = 0;
    void* memory = nullptr;
    if ((b.wType & ~DBTYPE_BYREF) == DBTYPE_WSTR) {
        std::string text;
        asText(value, text);
        const OleString wide = toOle(text);
        length = wide.size() * sizeof(OLECHAR);
        memory = CoTaskMemAlloc(length + sizeof(OLECHAR));
        if (memory) {
            std::memcpy(memory, wide.c_str(), length + sizeof(OLECHAR));
        }
    } else if ((b.wType & ~DBTYPE_BYREF) == DBTYPE_BYTES && value.kind == CellValue::Kind::Bytes) {
        length = value.s.size();
        memory = CoTaskMemAlloc(length > 0 ? length : 1);
        if (memory) {
            std::memcpy(memory, value.s.data(), length);
        }
    } else {
        status = DBSTATUS_E_CANTCONVERTVALUE;
    }
    if (status == DBSTATUS_S_OK && !memory) {
        status = DBSTATUS_E_CANTCREATE;
    }
    if (status == DBSTATUS_S_OK && (b.dwPart & DBPART_VALUE)) {
        std::memcpy(data + b.obValue, &memory, sizeof memory);
    } else {
        CoTaskMemFree(memory);
    }
    if (b.dwPart & DBPART_LENGTH) {
        std::memcpy(data + b.obLength, &length, sizeof length);
    }
    if (b.dwPart & DBPART_STATUS) {
        std::memcpy(data + b.obStatus, &status, sizeof status);
    }
}

} // namespace

void Batch::writeOutputs() {
    if (!outputData_) {
        return;
    }
    const std::vector<tds::ReturnValue> values = connection_->link->returnValues();
    for (const DBBINDING& b : outputBindings_) {
        CellValue value; // null unless the server returned one
        const std::string name = "@P" + std::to_string(b.iOrdinal);
        for (const auto& v : values) {
            if (v.name.size() == name.size() &&
                std::equal(v.name.begin(), v.name.end(), name.begin(),
                           [](char x, char y) { return std::toupper(x) == std::toupper(y); })) {
                value = v.value;
            }
        }
        if ((b.wType & DBTYPE_BYREF) && value.kind != CellValue::Kind::Null) {
            writeByReference(b, value, outputData_);
        } else {
            writeBinding(b, value, outputData_);
        }
    }
    outputData_ = nullptr;
}

HRESULT Batch::startWith(const std::shared_ptr<Connection>& connection,
                         const std::function<Link::Step(Link&)>& send, const IID& iid,
                         std::shared_ptr<Batch>& out, Connection::Runner runner) {
    out.reset();
    Messages none;
    if (!connection || !connection->link) {
        return fail(Situation::ConnectionLost, none, iid);
    }
    if (auto active = connection->active.lock(); active && !active->finished()) {
        postErrorRecords(
            {{DB_E_OBJECTOPEN, iid, 0,
              "The connection is busy with the results of another command.", std::nullopt}});
        return DB_E_OBJECTOPEN;
    }
    Link& link = *connection->link;
    if (link.markedDead()) {
        return fail(Situation::ConnectionLost, none, iid);
    }
    auto batch = std::make_shared<Batch>(connection, iid, runner);
    if (link.cancelRequested()) {
        // The command was cancelled before its batch left: nothing is sent.
        batch->markFinished();
        return fail(Situation::Cancelled, none, iid);
    }
    const Link::Step step = send(link);
    Messages messages = link.takeMessages();
    switch (step) {
    case Link::Step::Ok:
    case Link::Step::NoMore:
        batch->firstInformation_ = std::move(messages);
        break;
    case Link::Step::Failed:
        // The first statement failed; later statements may still have results.
        batch->firstFailure_ = tds::makeFailure(statementSituation(messages), messages, iid);
        break;
    case Link::Step::TimedOut:
        link.drainResults();
        batch->markFinished();
        return fail(Situation::CommandTimeout, messages, iid);
    case Link::Step::Dead:
        batch->markFinished();
        return fail(Situation::ConnectionLost, messages, iid);
    case Link::Step::Cancelled:
        link.cancelBatch();
        batch->markFinished();
        return fail(Situation::Cancelled, messages, iid);
    }
    connection->active = batch;
    out = std::move(batch);
    return S_OK;
}

ResultOutcome Batch::next() {
    ResultOutcome outcome;
    if (auto current = current_.lock()) {
        current->finish();
    }
    current_.reset();
    if (finished_) {
        outcome.result = DB_S_NORESULT;
        return outcome;
    }
    if (firstFailure_) {
        outcome.result = tds::postFailure(*firstFailure_);
        firstFailure_.reset();
        return outcome;
    }
    Link& link = *connection_->link;
    if (link.cancelRequested()) {
        // Cancelled between two results: the rest of the batch is not wanted.
        Messages none;
        link.cancelBatch();
        markFinished();
        outcome.result = fail(Situation::Cancelled, none, iid_);
        return outcome;
    }
    const Link::Step step = link.nextResult();
    Messages messages = link.takeMessages();
    if (!firstInformation_.server.empty()) {
        messages.server.insert(messages.server.begin(), firstInformation_.server.begin(),
                               firstInformation_.server.end());
        firstInformation_.clear();
    }
    switch (step) {
    case Link::Step::Ok:
        if (link.columnCount() > 0) {
            auto rows = std::make_shared<LinkRowSource>(shared_from_this(), link.describeColumns());
            current_ = rows;
            outcome.rows = std::move(rows);
        } else {
            outcome.affected = link.rowCount();
        }
        outcome.information = std::move(messages);
        return outcome;
    case Link::Step::NoMore:
        markFinished();
        writeOutputs();
        outcome.result = DB_S_NORESULT;
        return outcome;
    case Link::Step::Failed:
        outcome.result = fail(statementSituation(messages), messages, iid_);
        return outcome;
    case Link::Step::TimedOut:
        link.drainResults();
        markFinished();
        outcome.result = fail(Situation::CommandTimeout, messages, iid_);
        return outcome;
    case Link::Step::Dead:
        markFinished();
        outcome.result = fail(Situation::ConnectionLost, messages, iid_);
        return outcome;
    case Link::Step::Cancelled:
        link.cancelBatch();
        markFinished();
        outcome.result = fail(Situation::Cancelled, messages, iid_);
        return outcome;
    }
    return outcome;
}

HRESULT Batch::rowFailure(Link::Step step) {
    Link& link = *connection_->link;
    Messages messages = link.takeMessages();
    if (step == Link::Step::Dead) {
        markFinished();
        return fail(Situation::ConnectionLost, messages, iid_);
    }
    if (step == Link::Step::TimedOut) {
        link.drainResults();
        markFinished();
        return fail(Situation::CommandTimeout, messages, iid_);
    }
    if (step == Link::Step::Cancelled) {
        link.cancelBatch();
        markFinished();
        return fail(Situation::Cancelled, messages, iid_);
    }
    return fail(statementSituation(messages), messages, iid_);
}

void Batch::drain() {
    if (finished_) {
        return;
    }
    if (auto current = current_.lock()) {
        current->finish();
    }
    if (connection_ && connection_->link) {
        connection_->link->drainResults();
    }
    markFinished();
}

// Runs a batch to its end and keeps the rows of its first rowset (for the provider's own
// queries: the catalogs rowset). Failures are posted and returned.
HRESULT runToMemory(const std::shared_ptr<Connection>& connection, const std::string& sql,
                    const IID& iid, std::vector<ColumnDesc>& columns, std::vector<RowData>& rows) {
    std::shared_ptr<Batch> batch;
    HRESULT hr = Batch::start(connection, sql, 0, iid, batch);
    if (FAILED(hr)) {
        return hr;
    }
    HRESULT first = S_OK;
    std::vector<ErrorRecordData> firstRecords;
    for (;;) {
        ResultOutcome r = batch->next();
        if (r.result == DB_S_NORESULT) {
            break;
        }
        if (FAILED(r.result)) {
            if (SUCCEEDED(first)) {
                first = r.result;
                for (auto& rec : takeErrorObject().records) {
                    firstRecords.push_back({rec.basic.hrError, rec.basic.iid, rec.basic.dwMinor,
                                            rec.description, rec.sqlServer});
                }
            }
            if (batch->finished()) {
                break;
            }
            continue;
        }
        if (r.rows && columns.empty()) {
            columns = r.rows->columns();
            HRESULT f = S_OK;
            while (f == S_OK) {
                f = r.rows->fetch(256, rows);
            }
            if (FAILED(f) && SUCCEEDED(first)) {
                first = f;
                for (auto& rec : takeErrorObject().records) {
                    firstRecords.push_back({rec.basic.hrError, rec.basic.iid, rec.basic.dwMinor,
                                            rec.description, rec.sqlServer});
                }
            }
        }
    }
    if (FAILED(first)) {
        postErrorRecords(firstRecords);
    } else {
        SetErrorInfo(0, nullptr);
    }
    return first;
}

} // namespace kv::oledb::tds
