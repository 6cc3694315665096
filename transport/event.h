#pragma once
// A list of callbacks raised in subscription order. Subscribing returns a token for
// unsubscribing. Raising takes a snapshot of the list (a reference-counted immutable vector, so
// no allocation per raise) and calls the handlers without any lock held: a handler may
// subscribe, unsubscribe or raise again. Unsubscribe does not wait for a call that is already
// running on another thread.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

template <typename... Args>
class StreamEvent {
public:
    using Handler = std::function<void(Args...)>;

    StreamEvent() = default;
    StreamEvent(const StreamEvent&) = delete;
    StreamEvent& operator=(const StreamEvent&) = delete;

    // Adds a handler at the end of the list; returns its token (never 0).
    int Subscribe(Handler handler) {
        std::lock_guard<std::mutex> lock(mut_);
        auto next = handlers_ ? std::make_shared<List>(*handlers_) : std::make_shared<List>();
        const int token = nextToken_++;
        next->emplace_back(token, std::move(handler));
        handlers_ = std::move(next);
        count_.store(handlers_->size(), std::memory_order_release);
        return token;
    }

    // Removes the handler with this token; returns false when there is none.
    bool Unsubscribe(int token) {
        std::lock_guard<std::mutex> lock(mut_);
        if (!handlers_) return false;
        auto next = std::make_shared<List>();
        next->reserve(handlers_->size());
        bool found = false;
        for (const auto& entry : *handlers_) {
            if (entry.first == token && !found) {
                found = true;
            } else {
                next->push_back(entry);
            }
        }
        if (found) {
            handlers_ = next->empty() ? nullptr : std::move(next);
            count_.store(handlers_ ? handlers_->size() : 0, std::memory_order_release);
        }
        return found;
    }

    // Calls every handler in subscription order; nothing happens without subscribers.
    void Raise(Args... args) const {
        // Raised on every read: skip the lock when nobody listens.
        if (count_.load(std::memory_order_acquire) == 0) return;
        std::shared_ptr<const List> snapshot;
        {
            std::lock_guard<std::mutex> lock(mut_);
            snapshot = handlers_;
        }
        if (!snapshot) return;
        for (const auto& entry : *snapshot) entry.second(args...);
    }

    std::size_t SubscriberCount() const { return count_.load(std::memory_order_acquire); }

private:
    using List = std::vector<std::pair<int, Handler>>;
    mutable std::mutex mut_;
    std::shared_ptr<const List> handlers_;
    std::atomic<std::size_t> count_{0};
    int nextToken_ = 1;
};
