#pragma once
// A simple process-wide pool of session objects, keyed by the login values and options that
// must match for a session object to be shared (the connection builds the key).
//
// A session object returned while still valid keeps its link open and is handed to the next
// connection with the same key; an invalid one (after a fatal error) is dropped. The pool
// keeps at most MaxIdle objects per key and closes the rest.

#include "dataaccess/PVConnection.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kv::dataaccess {

class TDAConnectionPool {
public:
    static TDAConnectionPool& Instance();

    // An idle, valid session object for Key, or null.
    std::unique_ptr<TPVConnection> Take(const std::string& Key);
    // Gives a session object back; invalid ones are closed and freed.
    void Return(const std::string& Key, std::unique_ptr<TPVConnection> Session);
    // A session object in use became invalid.
    void Invalidate(TPVConnection* Session);
    int IdleCount(const std::string& Key) const;
    void Clear();

    int MaxIdle = 100;

private:
    mutable std::mutex FLock;
    std::map<std::string, std::vector<std::unique_ptr<TPVConnection>>> FIdle;
};

} // namespace kv::dataaccess
