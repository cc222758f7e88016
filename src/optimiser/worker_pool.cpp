// The optimiser's thread pool.
#include "optimiser/worker_pool.hpp"

namespace stowvex::optimiser {

WorkerPool::WorkerPool(int threads) {
    for (int t = 1; t < threads; ++t) helpers_.emplace_back([this] { help(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
}

void WorkerPool::run(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (helpers_.empty() || count <= 1) {
        for (std::size_t i = 0; i < count; ++i) task(i);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        task_ = &task;
        count_ = count;
        next_ = 0;
        failure_ = nullptr;
        ++batch_;
    }
    wake_.notify_all();
    work_on_batch();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return next_ >= count_ && busy_ == 0; });
    task_ = nullptr;
    if (failure_) std::rethrow_exception(failure_);
}

void WorkerPool::work_on_batch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (next_ < count_) {
        const std::size_t i = next_++;
        ++busy_;
        const auto* task = task_;
        lock.unlock();
        try {
            (*task)(i);
        } catch (...) {
            lock.lock();
            if (!failure_) failure_ = std::current_exception();
            next_ = count_;  // the rest of the batch is skipped
            lock.unlock();
        }
        lock.lock();
        --busy_;
    }
    if (busy_ == 0) done_.notify_all();
}

void WorkerPool::help() {
    std::size_t seen = 0;
    while (true) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || batch_ != seen; });
            if (stopping_) return;
            seen = batch_;
        }
        work_on_batch();
    }
}

}  // namespace stowvex::optimiser
