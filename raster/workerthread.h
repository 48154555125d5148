#pragma once
// One thread of the process-wide worker pool (see paralell.h). It waits for
// its state: 0 idle, -1 quit, anything else runs the posted job for its id.
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

class WorkerThread : public QThread {
public:
    explicit WorkerThread(int id);
    // Waits until idle, asks the thread to quit and joins it.
    ~WorkerThread() override;

    // Runs job(id) on this thread; the state goes back to 0 when it is done.
    void post(std::function<void(int)> job);
    bool idle() const { return state.load(std::memory_order_acquire) == 0; }

    std::atomic<int> state{0};
    const int id;

protected:
    void run() override;

private:
    // Stores the state under the mutex and wakes a sleeping thread.
    void setState(int s);

    std::function<void(int)> m_job;
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

// A short busy pause between polls.
void busyPause(int steps = 50);
