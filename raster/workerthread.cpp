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
    state.store(-1, std::memory_order_release);
    wait();
}

void WorkerThread::post(std::function<void(int)> job)
{
    while (!idle())
        busyPause();
    m_job = std::move(job);
    state.store(1, std::memory_order_release);
}

void WorkerThread::run()
{
    setPriority(QThread::HighPriority);
    for (;;) {
        // Spin briefly for low latency, then poll gently so idle workers cost nothing.
        int s = 0;
        for (int i = 0; i < 100000; i++) {
            s = state.load(std::memory_order_acquire);
            if (s != 0)
                break;
            busyPause();
        }
        while (s == 0) {
            QThread::msleep(5);
            s = state.load(std::memory_order_acquire);
        }
        if (s == -1)
            return;
        if (m_job)
            m_job(id);
        m_job = nullptr;
        state.store(0, std::memory_order_release);
    }
}
