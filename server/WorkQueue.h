#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "rain/Error.h"

namespace quorvel::server {

// Work of one kind that runs so many at a time, with so many more waiting
// their turn: beyond that, or after waiting too long, a request is refused
// with 503 and Retry-After, so a flood costs neither memory nor threads
// without end.
class WorkQueue {
public:
    WorkQueue(std::size_t running, std::size_t waiting, std::chrono::milliseconds maxWait, ErrorDetail busy);
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // A turn to run, held until it goes out of scope.
    class Turn {
    public:
        explicit Turn(WorkQueue& queue) : queue_(&queue) {}
        Turn(Turn&& other) noexcept : queue_(other.queue_) { other.queue_ = nullptr; }
        Turn& operator=(Turn&&) = delete;
        ~Turn();

    private:
        WorkQueue* queue_;
    };

    // Waits for a turn. Throws ApiRefusal (503) when the queue is full or
    // no turn came within the longest wait.
    Turn Enter();

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t running_ = 0, waiting_ = 0;
    const std::size_t maxRunning_, maxWaiting_;
    const std::chrono::milliseconds maxWait_;
    const ErrorDetail busy_;
};

}  // namespace quorvel::server
