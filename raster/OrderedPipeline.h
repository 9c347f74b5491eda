// Worker threads joined by a bounded, ordered queue: items go in one by one in order, are worked
// on by several threads at once, and come out in the order they went in.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace kelvara {

// At most window items are in the pipeline at once, from submit() to takeNext(), so its memory
// is bounded by the window, not by the number of items. One thread submits and takes; the
// workers only ever touch the item they work on. An error the work raises stops the pipeline
// and is raised again by takeNext() in the item's place: the first error in order reaches the
// caller, and the items after it are dropped.
template <class Item> class OrderedPipeline {
public:
    using Work = std::function<void(Item&)>;

    OrderedPipeline(int threads, int window, Work work)
        : m_work(std::move(work)), m_slots(static_cast<size_t>(std::max(window, 1))) {
        try {
            for (int t = 0; t < std::max(threads, 1); ++t)
                m_workers.emplace_back([this] { run(); });
        } catch (const std::system_error&) {
            // Fewer workers than asked do the same work; with none there is no pipeline.
            if (m_workers.empty())
                throw;
        }
    }
    ~OrderedPipeline() { stop(); }
    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;

    int window() const { return static_cast<int>(m_slots.size()); }
    int inFlight() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_submitted - m_taken);
    }
    bool full() const { return inFlight() >= window(); }

    // Hands in the next item; the caller makes room first (see full()).
    void submit(Item item) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Slot& slot = m_slots[m_submitted % m_slots.size()];
            slot.item.emplace(std::move(item));
            slot.state = State::Pending;
            slot.error = nullptr;
            ++m_submitted;
        }
        m_workReady.notify_one();
    }

    // The oldest item, once its work is done; nothing when there is none in the pipeline or it
    // is not done within timeout.
    std::optional<Item> takeNext(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto done = [this] {
            return m_taken < m_submitted && m_slots[m_taken % m_slots.size()].state == State::Done;
        };
        if (!m_doneReady.wait_for(lock, timeout, done))
            return std::nullopt;
        Slot& slot = m_slots[m_taken % m_slots.size()];
        std::optional<Item> item = std::move(slot.item);
        slot.item.reset();
        slot.state = State::Empty;
        ++m_taken;
        if (std::exception_ptr error = std::exchange(slot.error, nullptr)) {
            lock.unlock();
            stop();
            std::rethrow_exception(error);
        }
        return item;
    }

    // Drops the items not started yet, lets the running ones finish and joins the threads.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_workReady.notify_all();
        for (std::thread& worker : m_workers)
            if (worker.joinable())
                worker.join();
    }

private:
    enum class State { Empty, Pending, Working, Done };
    struct Slot {
        std::optional<Item> item;
        State state = State::Empty;
        std::exception_ptr error;
    };

    void run() {
        for (;;) {
            Slot* slot;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_workReady.wait(lock, [this] { return m_stopping || m_started < m_submitted; });
                if (m_stopping)
                    return;
                slot = &m_slots[m_started++ % m_slots.size()];
                slot->state = State::Working;
            }
            std::exception_ptr error;
            try {
                m_work(*slot->item);
            } catch (...) {
                error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                slot->error = error;
                slot->state = State::Done;
                if (error)
                    m_stopping = true; // the items after it would be dropped anyway
            }
            m_doneReady.notify_all();
            if (error)
                m_workReady.notify_all();
        }
    }

    Work m_work;
    mutable std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_doneReady;
    std::vector<Slot> m_slots;
    uint64_t m_submitted = 0; // items handed in
    uint64_t m_started = 0;   // items a worker took
    uint64_t m_taken = 0;     // items handed back
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

} // namespace kelvara
