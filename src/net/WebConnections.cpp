#include "net/WebConnections.h"

#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace dm {

namespace {
// At most this many idle connections per key (requests to one server can run side by side, as
// the confirmations of many billers at start-up do) and in all.
constexpr size_t MaxIdlePerKey = 4;
constexpr size_t MaxIdle = 32;
} // namespace

struct TKeptConnections::TState {
    struct TIdle {
        std::string key;
        std::shared_ptr<void> connection;
        std::chrono::steady_clock::time_point since;
    };
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::list<TIdle> idle; // oldest first
    std::chrono::milliseconds limit = DefaultConnectionIdleLimit;
    bool closed = false;
    bool quit = false;
    std::thread closer;

    // Waits (without waking while nothing is kept) and closes what has been idle for too long.
    // The connections are destroyed outside the lock: closing a TLS connection writes to it.
    void Run() {
        std::unique_lock lock(mutex);
        while (!quit) {
            if (idle.empty()) {
                wake.wait(lock);
                continue;
            }
            auto due = idle.front().since + limit;
            if (std::chrono::steady_clock::now() < due) {
                wake.wait_until(lock, due);
                continue;
            }
            std::vector<std::shared_ptr<void>> expired;
            auto now = std::chrono::steady_clock::now();
            while (!idle.empty() && idle.front().since + limit <= now) {
                expired.push_back(std::move(idle.front().connection));
                idle.pop_front();
            }
            lock.unlock();
            expired.clear();
            lock.lock();
        }
    }
};

TKeptConnections& TKeptConnections::Instance() {
    // Never destroyed: request threads may still hand connections back while statics go.
    static TKeptConnections* instance = new TKeptConnections();
    return *instance;
}

TKeptConnections::TKeptConnections() : state_(std::make_unique<TState>()) {}

TKeptConnections::~TKeptConnections() = default;

std::shared_ptr<void> TKeptConnections::Take(const std::string& key) {
    std::lock_guard lock(state_->mutex);
    // The most recently used one: the likeliest to be still open at the other end.
    for (auto it = state_->idle.rbegin(); it != state_->idle.rend(); ++it) {
        if (it->key == key) {
            auto connection = std::move(it->connection);
            state_->idle.erase(std::next(it).base());
            return connection;
        }
    }
    return nullptr;
}

void TKeptConnections::Keep(const std::string& key, std::shared_ptr<void> connection) {
    if (!connection) return;
    std::vector<std::shared_ptr<void>> dropped;
    bool wake = false;
    {
        std::lock_guard lock(state_->mutex);
        // The closer waits for the oldest connection; a newer one never makes it wait less,
        // so it is woken only when it waits for nothing (a wake-up per request adds up).
        wake = state_->idle.empty();
        if (state_->closed) {
            dropped.push_back(std::move(connection));
        } else {
            auto& idle = state_->idle;
            size_t sameKey = 0;
            for (auto& i : idle) sameKey += i.key == key;
            // The oldest go first: of this key while it has its share, then of any.
            for (auto it = idle.begin(); it != idle.end() && sameKey >= MaxIdlePerKey;) {
                if (it->key != key) {
                    ++it;
                    continue;
                }
                --sameKey;
                dropped.push_back(std::move(it->connection));
                it = idle.erase(it);
            }
            while (idle.size() >= MaxIdle) {
                dropped.push_back(std::move(idle.front().connection));
                idle.pop_front();
            }
            state_->idle.push_back({key, std::move(connection), std::chrono::steady_clock::now()});
            if (!state_->closer.joinable()) state_->closer = std::thread([s = state_.get()] { s->Run(); });
        }
    }
    if (wake) state_->wake.notify_all();
}

void TKeptConnections::Touch(const void* connection) {
    {
        std::lock_guard lock(state_->mutex);
        auto& idle = state_->idle;
        for (auto it = idle.begin(); it != idle.end(); ++it) {
            if (it->connection.get() == connection) {
                it->since = std::chrono::steady_clock::now();
                idle.splice(idle.end(), idle, it);
                break;
            }
        }
    }
    // A later time never needs the closer awake: when it wakes for the old one it finds the new.
}

void TKeptConnections::CloseIdle() {
    std::list<TState::TIdle> all;
    {
        std::lock_guard lock(state_->mutex);
        all.swap(state_->idle);
    }
    state_->wake.notify_all();
}

void TKeptConnections::CloseAll() {
    std::thread closer;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        state_->quit = true;
        closer = std::move(state_->closer);
    }
    state_->wake.notify_all();
    if (closer.joinable()) closer.join();
    CloseIdle();
}

int TKeptConnections::IdleCount() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<int>(state_->idle.size());
}

void TKeptConnections::SetIdleLimit(std::chrono::milliseconds limit) {
    {
        std::lock_guard lock(state_->mutex);
        state_->limit = limit;
    }
    state_->wake.notify_all();
}

} // namespace dm
