#include "server/WorkQueue.h"

#include "server/Api.h"

namespace quorvel::server {

WorkQueue::WorkQueue(std::size_t running, std::size_t waiting, std::chrono::milliseconds maxWait, ErrorDetail busy)
    : maxRunning_(running), maxWaiting_(waiting), maxWait_(maxWait), busy_(std::move(busy))
{
}

WorkQueue::Turn::~Turn()
{
    if (!queue_)
        return;
    {
        const std::lock_guard lock(queue_->mutex_);
        --queue_->running_;
    }
    queue_->freed_.notify_one();
}

WorkQueue::Turn WorkQueue::Enter()
{
    std::unique_lock lock(mutex_);
    if (running_ >= maxRunning_) {
        if (waiting_ >= maxWaiting_)
            throw ApiRefusal{Busy(busy_)};
        ++waiting_;
        const bool turn = freed_.wait_for(lock, maxWait_, [this] { return running_ < maxRunning_; });
        --waiting_;
        if (!turn)
            throw ApiRefusal{Busy(busy_)};
    }
    ++running_;
    return Turn(*this);
}

}  // namespace quorvel::server
