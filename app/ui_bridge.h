// Carries the update worker's window calls to the UI thread and back. The window and its
// worker each hold it (shared_ptr), so it outlives whichever of them ends first; once the
// window closes, nothing the worker asks for reaches the window any more.
#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace tolvex::app {

class UiBridge : public std::enable_shared_from_this<UiBridge> {
  public:
    // `window`: the object whose thread (the UI thread) runs the calls. It must call Close()
    // before it is destroyed.
    explicit UiBridge(QObject* window);

    // Worker thread: runs `call` on the UI thread through the window's event queue and blocks
    // until it has returned (a modal box: until the box is dismissed). Returns false without
    // running it, or without waiting for it to end, once the window has closed; the worker
    // then carries on as if the box had been dismissed.
    bool RunOnUi(std::function<void()> call);

    // UI thread, when the window closes (and again, harmlessly, when it is destroyed): asks the
    // update to stop, wakes a worker waiting in RunOnUi and makes later calls return at once.
    void Close();
    bool IsClosed() const;
    // Any thread: set by Close().
    bool StopRequested() const { return stop_.load(); }

    // UI thread, before starting a worker.
    void WorkerStarted();
    // Worker thread, its last touch of anything shared.
    void WorkerFinished();
    bool WorkerRunning() const;
    // Blocks the caller up to `limit` for the worker to finish; true when none is running.
    bool WaitForWorker(std::chrono::milliseconds limit) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    QObject* window_;  // only posted to while !closed_, under mutex_
    bool closed_ = false;
    bool workerRunning_ = false;
    std::atomic<bool> stop_{false};
};

}  // namespace tolvex::app
