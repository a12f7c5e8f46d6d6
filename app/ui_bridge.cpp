#include "app/ui_bridge.h"

#include <QMetaObject>

namespace tolvex::app {

UiBridge::UiBridge(QObject* window) : window_(window) {}

bool UiBridge::RunOnUi(std::function<void()> call) {
    auto done = std::make_shared<bool>(false);  // guarded by mutex_
    std::unique_lock lock(mutex_);
    if (closed_) {
        return false;
    }
    // Posted while holding the lock: Close() runs before the window is destroyed and takes
    // the same lock, so the window is alive here. A call still queued when the window is
    // destroyed is discarded with the window's pending events.
    auto self = shared_from_this();
    QMetaObject::invokeMethod(
        window_,
        [self, call = std::move(call), done] {
            {
                const std::lock_guard guard(self->mutex_);
                if (self->closed_) {
                    return;  // the worker has been let go already
                }
            }
            call();
            {
                const std::lock_guard guard(self->mutex_);
                *done = true;
            }
            self->changed_.notify_all();
        },
        Qt::QueuedConnection);
    changed_.wait(lock, [&] { return *done || closed_; });
    return *done;
}

void UiBridge::Close() {
    stop_.store(true);
    {
        const std::lock_guard guard(mutex_);
        closed_ = true;
        window_ = nullptr;
    }
    changed_.notify_all();
}

bool UiBridge::IsClosed() const {
    const std::lock_guard guard(mutex_);
    return closed_;
}

void UiBridge::WorkerStarted() {
    const std::lock_guard guard(mutex_);
    workerRunning_ = true;
}

void UiBridge::WorkerFinished() {
    {
        const std::lock_guard guard(mutex_);
        workerRunning_ = false;
    }
    changed_.notify_all();
}

bool UiBridge::WorkerRunning() const {
    const std::lock_guard guard(mutex_);
    return workerRunning_;
}

bool UiBridge::WaitForWorker(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return !workerRunning_; });
}

}  // namespace tolvex::app
