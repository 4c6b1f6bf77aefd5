#pragma once
// The worker pool of a fleet of simulated BMCs (make_shared_workers in
// test_bmc.h) and the task queue through which each server uses it.
#include <httplib.h>

#include <memory>

#include "bmc-sim/test_bmc.h"

namespace bmc_sim {

class SharedWorkers {
public:
    explicit SharedWorkers(std::size_t threads) : pool(threads) {}
    ~SharedWorkers() { pool.shutdown(); }
    SharedWorkers(const SharedWorkers&) = delete;
    SharedWorkers& operator=(const SharedWorkers&) = delete;
    httplib::ThreadPool pool;
};

// A queue for one server: its shutdown waits for that server's connections
// only, since the server is destroyed after it while the pool lives on.
httplib::TaskQueue* new_server_queue(std::shared_ptr<SharedWorkers> workers);

}  // namespace bmc_sim
