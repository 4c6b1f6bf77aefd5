#include "bmc-sim/shared_workers.h"

#include <condition_variable>
#include <mutex>

namespace bmc_sim {
namespace {

class ServerQueue : public httplib::TaskQueue {
public:
    explicit ServerQueue(std::shared_ptr<SharedWorkers> workers) : workers_(std::move(workers)) {}

    void enqueue(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            ++pending_;
        }
        workers_->pool.enqueue([this, task = std::move(task)] {
            task();
            std::lock_guard lock(mutex_);
            if (--pending_ == 0) done_.notify_all();
        });
    }

    void shutdown() override {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    std::shared_ptr<SharedWorkers> workers_;
    std::mutex mutex_;
    std::condition_variable done_;
    int pending_ = 0;
};

}  // namespace

std::shared_ptr<SharedWorkers> make_shared_workers(std::size_t threads) {
    return std::make_shared<SharedWorkers>(threads);
}

httplib::TaskQueue* new_server_queue(std::shared_ptr<SharedWorkers> workers) {
    return new ServerQueue(std::move(workers));
}

}  // namespace bmc_sim
