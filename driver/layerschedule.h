#pragma once
// The hand-out of a slicing job's layer work to the threads of one parallel
// region (Slicer::streamLayers).
#include <QtGlobal>

#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <vector>

// Hands out the work of a job's layers to the threads of one parallel
// region. Step i (layer i + H's cut into the rings, layer i's shell regions)
// runs in turn and needs that cut done; it overwrites the ring slots of
// layer i - W (loops, fills, regions) and i - W - 1 (mask), so it waits for
// their preparation and ordering. A layer's preparation needs its step; its
// ordering its preparation and (in turn) the previous ordering; its writing
// its ordering; its emission (in turn, by the calling thread only) its
// writing. A cut needs a free slot: the step that took the slot's last cut.
// Layer 0's skirt, brim or raft (the extras) needs layer 0's step; layer 0's
// ordering and every writing (the raft's height) need it. Without orderings
// in turn (each layer from its own start point) a layer's preparation orders
// and writes it too, so it needs the extras as well.
//
// The items go out as: emission (calling thread), ordering, step, extras,
// preparation, writing, cut: the short items that unlock others first, the
// cuts (the bulk of the work, free of order) fill the rest.
//
// A failure stops the items after it in the order the layers would meet
// them one after the other (step i, then layer i's preparation, ordering,
// writing, emission, then step i + 1); the items before it still run, so
// the failure reported is the first in that order, whatever the timing.
//
// N layers, lookahead H (steps run from -2H), window W (the rings' B), C cut
// slots.
class LayerSchedule {
public:
    // Extras: layer 0's skirt, brim or raft (after layer 0's step; before
    // layer 0's ordering and any writing, which read the raft's height).
    // In the order one thread would meet them for one step.
    enum Kind { None, Cut, Step, Extras, Prepare, Order, Write, Emit };
    struct Item {
        Kind kind = None;
        int k = 0;
    };

    LayerSchedule(int layers, int lookahead, int window, int cutSlots, bool inTurn)
        : m_n(layers), m_h(lookahead), m_w(window), m_c(cutSlots), m_inTurn(inTurn), m_nextStep(-2 * lookahead),
          m_cut(size_t(layers), 0), m_prepared(size_t(layers), 0), m_written(size_t(layers), 0)
    {
    }

    // The next item for the calling thread (`emits`: the one that emits);
    // None once nothing is left to it. Waits while the items it could take
    // wait for running ones.
    Item take(bool emits)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Item item;
        while (!pick(emits, item))
            m_wake.wait(lock);
        return item;
    }

    // The same without waiting: false where take() would wait.
    bool tryTake(bool emits, Item &item)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return pick(emits, item);
    }

    // `error`: the item failed.
    void done(Item item, std::exception_ptr error)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_running;
            const size_t k = size_t(item.k);
            switch (item.kind) {
            case Cut:
                m_cut[k] = 1;
                break;
            case Step:
                m_stepping = false;
                break;
            case Prepare:
                m_prepared[k] = 1;
                while (m_preparedPrefix < m_n && m_prepared[size_t(m_preparedPrefix)])
                    ++m_preparedPrefix;
                if (!m_inTurn)
                    m_written[k] = 1;
                break;
            case Order:
                m_ordering = false;
                break;
            case Write:
                m_written[k] = 1;
                break;
            case Extras:
                m_extrasDone = true;
                break;
            default:
                break;
            }
            const qint64 at = item.kind == Extras ? key(Extras, -m_h) : key(item.kind, item.k);
            if (error && at < m_stop) {
                m_stop = at;
                m_error = error;
            }
        }
        m_wake.notify_all();
    }

    // After the region: the first failure, or null.
    std::exception_ptr failure() const { return m_error; }

private:
public:
    // Position in the order one thread would meet the items (a cut counts
    // as the step that takes it; the extras, key(Extras, -H), come right
    // after layer 0's step).
    qint64 key(Kind kind, int i) const { return (qint64(i) + 2 * m_h) * 8 + kind; }

private:
    bool open(Kind kind, int i) const { return key(kind, i) < m_stop; }
    int stepsDone() const { return m_stepping ? m_nextStep - 1 : m_nextStep; }
    int ordersDone() const { return m_inTurn ? (m_ordering ? m_nextOrder - 1 : m_nextOrder) : m_preparedPrefix; }
    bool stepReady(int i) const
    {
        const int L = i + m_h;
        if (L >= 0 && L < m_n && !m_cut[size_t(L)])
            return false;
        return m_preparedPrefix > i - m_w && ordersDone() > i - m_w - 1;
    }
    bool begin(Kind kind, int k, Item &item)
    {
        ++m_running;
        item = {kind, k};
        return true;
    }
    bool pick(bool emits, Item &item)
    {
        if (emits && m_nextEmit < m_n && m_written[size_t(m_nextEmit)] && open(Emit, m_nextEmit))
            return begin(Emit, m_nextEmit++, item);
        if (m_inTurn && !m_ordering && m_nextOrder < m_n && m_prepared[size_t(m_nextOrder)]
            && (m_nextOrder > 0 || m_extrasDone) && open(Order, m_nextOrder)) {
            m_ordering = true;
            return begin(Order, m_nextOrder++, item);
        }
        if (!m_stepping && m_nextStep < m_n && stepReady(m_nextStep) && open(Step, m_nextStep)) {
            m_stepping = true;
            return begin(Step, m_nextStep++, item);
        }
        if (!m_extrasTaken && m_n > 0 && stepsDone() > -m_h && open(Extras, -m_h)) {
            m_extrasTaken = true;
            return begin(Extras, 0, item);
        }
        if (m_nextPrepare < stepsDone() && (m_inTurn || m_extrasDone) && open(Prepare, m_nextPrepare))
            return begin(Prepare, m_nextPrepare++, item);
        if (m_inTurn && m_nextWrite < ordersDone() && open(Write, m_nextWrite))
            return begin(Write, m_nextWrite++, item);
        if (m_nextCut < m_n && m_nextCut < stepsDone() + m_h + m_c && open(Step, m_nextCut - m_h))
            return begin(Cut, m_nextCut++, item);
        if (m_running > 0)
            return false;
        item = {None, 0};
        return true;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    const int m_n, m_h, m_w, m_c;
    const bool m_inTurn;
    int m_nextCut = 0, m_nextStep, m_nextPrepare = 0, m_preparedPrefix = 0, m_nextOrder = 0, m_nextWrite = 0,
        m_nextEmit = 0, m_running = 0;
    bool m_stepping = false, m_ordering = false, m_extrasTaken = false, m_extrasDone = false;
    std::vector<char> m_cut, m_prepared, m_written;
    qint64 m_stop = std::numeric_limits<qint64>::max();
    std::exception_ptr m_error;
};

