#pragma once
// Joining open ends to open starts, the globally nearest pair first: how
// the polygon repair and the stripe graph close the gaps of a broken
// outline. Each caller keeps its own points and its own nearest-start
// search; this holds the order in which pairs are made.
#include <functional>
#include <queue>
#include <vector>

// An end's candidate: its nearest open start and their squared distance.
struct NearestPair {
    double d2 = 0;
    int end = 0;
    int start = -1;
    // Nearer first; ties by the lower end, then the lower start, so the
    // pairs never depend on the heap's internal order.
    bool operator>(const NearestPair &o) const
    {
        if (d2 != o.d2)
            return d2 > o.d2;
        if (end != o.end)
            return end > o.end;
        return start > o.start;
    }
};

// Pairs ends 0 … endCount - 1 with open starts, the globally nearest pair
// first, until no start is open. Returns the number of pairs made.
//   nearest(e, c): fills c with end e's nearest open start (ties: the lowest
//     start); false when no start is open at all.
//   startOpen(s): whether start s can still take a pair.
//   join(c): makes the pair c; returns whether c.end stays open (it is then
//     paired again).
// One heap entry per open end holds its nearest start. Starts only ever
// close, so an entry whose start has closed is a lower bound and is
// refreshed when it comes up.
template <class Nearest, class StartOpen, class Join>
int joinNearestPairs(int endCount, Nearest &&nearest, StartOpen &&startOpen, Join &&join)
{
    std::priority_queue<NearestPair, std::vector<NearestPair>, std::greater<NearestPair>> heap;
    for (int e = 0; e < endCount; ++e) {
        NearestPair c;
        if (!nearest(e, c))
            return 0;
        heap.push(c);
    }
    int joined = 0;
    while (!heap.empty()) {
        NearestPair c = heap.top();
        heap.pop();
        if (!startOpen(c.start)) {
            if (!nearest(c.end, c))
                break;
            heap.push(c);
            continue;
        }
        ++joined;
        if (!join(c))
            continue;
        if (startOpen(c.start))
            heap.push(c); // still the nearest pair
        else if (nearest(c.end, c))
            heap.push(c);
        else
            break;
    }
    return joined;
}
