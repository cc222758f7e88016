// A small pool of threads for one optimiser call: run(count, task) calls
// task(i) for every i below count, spread over the pool and the calling
// thread, and returns when all calls are done. With one thread it runs the
// tasks in order on the calling thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace stowvex::optimiser {

class WorkerPool {
public:
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const { return static_cast<int>(helpers_.size()) + 1; }
    // The first exception a task throws is thrown here once all tasks ended.
    void run(std::size_t count, const std::function<void(std::size_t)>& task);

private:
    void help();
    void work_on_batch();

    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(std::size_t)>* task_ = nullptr;
    std::size_t count_ = 0;
    std::size_t next_ = 0;
    std::size_t busy_ = 0;
    std::size_t batch_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
};

}  // namespace stowvex::optimiser
