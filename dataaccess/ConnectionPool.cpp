#include "dataaccess/ConnectionPool.h"

namespace kv::dataaccess {

TDAConnectionPool& TDAConnectionPool::Instance() {
    static TDAConnectionPool pool;
    return pool;
}

std::unique_ptr<TPVConnection> TDAConnectionPool::Take(const std::string& Key) {
    std::lock_guard lock(FLock);
    auto it = FIdle.find(Key);
    while (it != FIdle.end() && !it->second.empty()) {
        std::unique_ptr<TPVConnection> s = std::move(it->second.back());
        it->second.pop_back();
        if (s->IsValid())
            return s;
    }
    return nullptr;
}

void TDAConnectionPool::Return(const std::string& Key, std::unique_ptr<TPVConnection> Session) {
    if (!Session)
        return;
    Session->SetErrorHandler({});
    Session->SetCloseHook({});
    Session->SetReconnectedHook({});
    Session->SetOwner(nullptr);
    std::unique_lock lock(FLock);
    auto& idle = FIdle[Key];
    if (Session->IsValid() && static_cast<int>(idle.size()) < MaxIdle) {
        idle.push_back(std::move(Session));
        return;
    }
    lock.unlock();
    try {
        Session->CloseSession();
    } catch (...) {
    }
}

void TDAConnectionPool::Invalidate(TPVConnection* Session) {
    if (Session != nullptr)
        Session->SetIsValid(false);
}

int TDAConnectionPool::IdleCount(const std::string& Key) const {
    std::lock_guard lock(FLock);
    auto it = FIdle.find(Key);
    return it == FIdle.end() ? 0 : static_cast<int>(it->second.size());
}

void TDAConnectionPool::Clear() {
    std::map<std::string, std::vector<std::unique_ptr<TPVConnection>>> idle;
    {
        std::lock_guard lock(FLock);
        idle.swap(FIdle);
    }
}

} // namespace kv::dataaccess
