// The failure table of the portable provider: what each situation a transport meets (a server
// that cannot be reached, a refused login, a lost connection, a time-out, a failed statement)
// becomes for OLE DB callers, and how server messages are posted as error records. Shared by
// both transports (tds_link.h).
#include "platform/oledb/tds_link.h"

#include <iterator>

namespace kv::oledb::tds {
namespace {

// The mapping of client-side failures. Callers of the classic provider branch on these numbers
// (the error classes judge 17/16/1 and 11/16/1 fatal, the login form tells a wrong password
// from a missing server by the provider result), so each row gives exactly what that provider
// reports in the same situation.

struct FailureRule {
    Situation situation;
    HRESULT result;
    bool keepServerRecords; // the server's own messages come first, as records of their own
    std::int32_t number;    // 0: no record of our own
    std::uint8_t severityClass;
    std::uint8_t state;
    const char* text;
    bool sqlServerRecord; // the record carries SQL Server fields (else only a description)
};

constexpr FailureRule kFailureRules[] = {
    // Nothing listens at the address, the name is unknown on this host, or the connection
    // dropped during the login: the classic provider's one record, number 17, class 16,
    // state 1, with E_FAIL. The error classes judge it fatal, so a failed open leaves the
    // connection closed.
    {Situation::ServerUnreachable, E_FAIL, false, 17, 16, 1,
     "SQL Server does not exist or access denied.", true},
    // The server took the connection but the login did not finish within the login time-out:
    // a description only, no server record, as the classic provider reports it.
    {Situation::LoginTimeout, E_FAIL, false, 0, 0, 0, "Login timeout expired", false},
    // The server refused the login: its own records (18456 class 14, preceded by 4060 when the
    // database could not be opened) with DB_SEC_E_AUTH_FAILED, so that callers can tell a
    // wrong password from a missing server. Class 14 is not fatal.
    {Situation::LoginRefused, DB_SEC_E_AUTH_FAILED, true, 0, 0, 0, nullptr, true},
    // The server ended the login with other errors: its records, E_FAIL.
    {Situation::LoginFailedOther, E_FAIL, true, 0, 0, 0, nullptr, true},
    // Windows authentication needs SSPI, which this provider does not have: the record SQL
    // Server itself sends when a trusted connection cannot be made.
    {Situation::IntegratedLoginUnavailable, DB_SEC_E_AUTH_FAILED, false, 18452, 14, 1,
     "Login failed for user '(null)'. Reason: Not associated with a trusted SQL Server "
     "connection.",
     true},
    // The connection died during a call (socket closed, server killed; db-lib may report it
    // with a low severity or with no message at all): whatever the server still sent, then
    // the classic provider's network error 11, class 16, state 1, which the error classes
    // judge fatal; the data source is dead from then on.
    {Situation::ConnectionLost, E_FAIL, true, 11, 16, 1,
     "General network error. Check your network documentation.", true},
    // The command time-out ran out; db-lib cancelled the command and the connection stays:
    // DB_E_ABORTLIMITREACHED, which makes callers unprepare and release their results.
    {Situation::CommandTimeout, DB_E_ABORTLIMITREACHED, true, 0, 0, 0, "Query timeout expired",
     false},
    // The caller cancelled the command.
    {Situation::Cancelled, DB_E_CANCELED, true, 0, 0, 0, "Operation canceled", false},
    // A statement failed on a live connection: the server's records, DB_E_ERRORSINCOMMAND.
    {Situation::StatementFailed, DB_E_ERRORSINCOMMAND, true, 0, 0, 0, nullptr, true},
    // db-lib failed a call without any message while the connection is alive (a DONE with the
    // error bit and no error token): a description only, E_FAIL.
    {Situation::SilentFailure, E_FAIL, true, 0, 0, 0, "Unspecified error", false},
};

const FailureRule& ruleFor(Situation situation) {
    for (const auto& rule : kFailureRules) {
        if (rule.situation == situation) {
            return rule;
        }
    }
    return kFailureRules[std::size(kFailureRules) - 1];
}

std::string describe(const SqlServerMessage& m) {
    return m.message;
}

} // namespace

bool isLoginRefusal(const SqlServerMessage& m) {
    switch (m.number) {
    case 18456: // login failed
    case 18452: // not a trusted connection
    case 18470: // account disabled
    case 18486: // account locked out
    case 18487: // password expired
    case 18488: // password must be changed
        return true;
    default:
        return false;
    }
}

bool Messages::hasClientError(int number) const {
    for (const auto& e : client) {
        if (e.number == number) {
            return true;
        }
    }
    return false;
}

bool Messages::hasServerError() const {
    for (const auto& m : server) {
        if (m.severityClass > 10) {
            return true;
        }
    }
    return false;
}

Failure makeFailure(Situation situation, const Messages& messages, const IID& iid) {
    const FailureRule& rule = ruleFor(situation);
    Failure f;
    f.result = rule.result;
    f.linkLost = situation == Situation::ConnectionLost;
    if (rule.keepServerRecords) {
        for (const auto& m : messages.server) {
            ErrorRecordData r;
            r.result = rule.result;
            r.interfaceId = iid;
            r.minor = static_cast<DWORD>(m.number);
            r.description = describe(m);
            r.sqlServer = m;
            f.records.push_back(std::move(r));
        }
    }
    if (rule.text && (rule.number != 0 || f.records.empty() || !rule.sqlServerRecord)) {
        ErrorRecordData r;
        r.result = rule.result;
        r.interfaceId = iid;
        r.minor = static_cast<DWORD>(rule.number);
        r.description = rule.text;
        if (rule.sqlServerRecord) {
            SqlServerMessage m;
            m.number = rule.number;
            m.severityClass = rule.severityClass;
            m.state = rule.state;
            m.message = rule.text;
            r.sqlServer = m;
        }
        f.records.push_back(std::move(r));
    }
    return f;
}

HRESULT postFailure(const Failure& failure) {
    postErrorRecords(failure.records);
    return failure.result;
}

void postInformation(const Messages& messages, const IID& iid) {
    std::vector<ErrorRecordData> records;
    for (const auto& m : messages.server) {
        ErrorRecordData r;
        r.result = S_OK;
        r.interfaceId = iid;
        r.minor = static_cast<DWORD>(m.number);
        r.description = m.message;
        r.sqlServer = m;
        records.push_back(std::move(r));
    }
    postErrorRecords(records);
}

} // namespace kv::oledb::tds
