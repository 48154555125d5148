#pragma once
// The path ends findNearest tests, kept in a grid for one ordering run:
// find() gives findNearest's answer on what is left of the pool without
// testing every end. findNearest stops at the first end (in pool order,
// then vertex order) within 1.5 a of the head, else takes the first of the
// nearest ones; the grid asks the cells near the head for the first case
// and searches rings of cells outwards for the second, with the same float
// distances and the same ties.
#include "geometry/polyline.h"

#include <vector>

class NearestEnds {
public:
    NearestEnds(const PathList &pool, float a, bool allowReverse);
    // False when the grid cannot stand in for findNearest (points that are
    // not finite): the caller asks findNearest.
    bool valid() const { return m_valid; }
    // The pool index the path had when the grid was made, or -1; *vertex as findNearest's.
    int find(PolyPoint head, int *vertex) const;
    // The path of that index leaves the pool: its ends leave their cells.
    void remove(int path);

private:
    struct End {
        float x, y;
        int path, vertex; // entries are in findNearest's order
    };
    int cellOf(float v, float origin, int count) const;
    bool m_valid = false;
    float m_r2 = 0, m_r = 0;
    float m_x0 = 0, m_y0 = 0, m_cell = 1;
    int m_cw = 0, m_ch = 0;
    std::vector<End> m_ends;
    // Cell c: m_items[m_start[c] .. m_start[c] + m_count[c]), in order; the
    // ends of paths taken are dropped from it.
    std::vector<int> m_start, m_count, m_items;
    std::vector<int> m_cellOf;    // by end
    std::vector<int> m_pathFirst; // by path: its first end (a path's ends follow each other)
    std::vector<char> m_alive;
};
