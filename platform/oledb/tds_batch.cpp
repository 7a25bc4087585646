// Batches of the portable provider: sending, walking the results, reading the rows, and the
// output values of a procedure call (see tds_batch.h).
#include "platform/oledb/tds_batch.h"

#include <algorithm>
#include <cctype>

namespace kv::oledb::tds {

HRESULT Batch::start(const std::shared_ptr<Connection>& connection, const std::string& sql,
                     int timeoutSeconds, const IID& iid, std::shared_ptr<Batch>& out) {
    return startWith(
        connection, [&](Link& link) { return link.execute(sql, timeoutSeconds); }, iid, out);
}

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
        writeBinding(b, value, outputData_);
    }
    outputData_ = nullptr;
}

HRESULT Batch::startWith(const std::shared_ptr<Connection>& connection,
                         const std::function<Link::Step(Link&)>& send, const IID& iid,
                         std::shared_ptr<Batch>& out) {
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
    auto batch = std::make_shared<Batch>(connection, iid);
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
        batch->finished_ = true;
        link.drainResults();
        return fail(Situation::CommandTimeout, messages, iid);
    case Link::Step::Dead:
        batch->finished_ = true;
        return fail(Situation::ConnectionLost, messages, iid);
    case Link::Step::Cancelled:
        batch->finished_ = true;
        link.cancelBatch();
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
        finished_ = true;
        Messages none;
        link.cancelBatch();
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
        finished_ = true;
        writeOutputs();
        outcome.result = DB_S_NORESULT;
        return outcome;
    case Link::Step::Failed:
        outcome.result = fail(statementSituation(messages), messages, iid_);
        return outcome;
    case Link::Step::TimedOut:
        finished_ = true;
        link.drainResults();
        outcome.result = fail(Situation::CommandTimeout, messages, iid_);
        return outcome;
    case Link::Step::Dead:
        finished_ = true;
        outcome.result = fail(Situation::ConnectionLost, messages, iid_);
        return outcome;
    case Link::Step::Cancelled:
        finished_ = true;
        link.cancelBatch();
        outcome.result = fail(Situation::Cancelled, messages, iid_);
        return outcome;
    }
    return outcome;
}

HRESULT Batch::rowFailure(Link::Step step) {
    Link& link = *connection_->link;
    Messages messages = link.takeMessages();
    if (step == Link::Step::Dead) {
        finished_ = true;
        return fail(Situation::ConnectionLost, messages, iid_);
    }
    if (step == Link::Step::TimedOut) {
        finished_ = true;
        link.drainResults();
        return fail(Situation::CommandTimeout, messages, iid_);
    }
    if (step == Link::Step::Cancelled) {
        finished_ = true;
        link.cancelBatch();
        return fail(Situation::Cancelled, messages, iid_);
    }
    return fail(statementSituation(messages), messages, iid_);
}

void Batch::drain() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (auto current = current_.lock()) {
        current->finish();
    }
    if (connection_ && connection_->link) {
        connection_->link->drainResults();
    }
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
