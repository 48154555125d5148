#include "raster/workerthread.h"

void busyPause(int steps)
{
    for (volatile int i = 0; i < steps; i = i + 1) {
    }
}

WorkerThread::WorkerThread(int id) : id(id) {}

WorkerThread::~WorkerThread()
{
    while (state.load(std::memory_order_acquire) != 0)
        busyPause();
    setState(-1);
    wait();
}

void WorkerThread::post(std::function<void(int)> job)
{
    while (!idle())
        busyPause();
    m_job = std::move(job);
    setState(1);
}

void WorkerThread::setState(int s)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        state.store(s, std::memory_order_release);
    }
    m_wake.notify_one();
}

void WorkerThread::run()
{
    setPriority(QThread::HighPriority);
    // Spin briefly for low latency after a job (another may follow at once),
    // then sleep until woken, so idle workers cost nothing. A fresh thread
    // has had no job and sleeps at once (spinning there took a core for
    // about 10 ms of every short job).
    bool justWorked = false;
    for (;;) {
        int s = state.load(std::memory_order_acquire);
        for (int i = 0; i < (justWorked ? 100000 : 0) && s == 0; i++) {
            busyPause();
            s = state.load(std::memory_order_acquire);
        }
        if (s == 0) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return state.load(std::memory_order_acquire) != 0; });
            s = state.load(std::memory_order_acquire);
        }
        if (s == -1)
            return;
        if (m_job)
            m_job(id);
        m_job = nullptr;
        justWorked = true;
        state.store(0, std::memory_order_release);
    }
}
