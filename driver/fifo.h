#pragma once
// A ring of layer-indexed items: the driver keeps each layer's planes and
// path lists here exactly as long as later stages look back at them.
#include <QString>
#include <QVector>

template <class T>
class FIFO {
public:
    static constexpr int NoLayer = -999999;

    explicit FIFO(int capacity)
        : m_items(std::max(capacity, 1)), m_ids(std::max(capacity, 1), NoLayer)
    {
    }

    int capacity() const { return m_items.size(); }
    bool contains(int id) const { return m_ids.contains(id); }

    // The item of layer `id`; throws "FIFO.get(): Item not found ID:<id>".
    T &get(int id)
    {
        const int i = m_ids.indexOf(id);
        if (i < 0)
            throw QString("FIFO.get(): Item not found ID:%1").arg(id);
        return m_items[i];
    }
    const T &get(int id) const { return const_cast<FIFO *>(this)->get(id); }

    // The slot of layer `id`: its item when present, otherwise the next slot
    // in turn (overwriting the oldest layer), with whatever content it holds.
    T &acquire(int id)
    {
        const int i = m_ids.indexOf(id);
        if (i >= 0)
            return m_items[i];
        m_next = (m_next + 1) % m_items.size();
        m_ids[m_next] = id;
        return m_items[m_next];
    }

private:
    QVector<T> m_items;
    QVector<int> m_ids;
    int m_next = 0;
};
