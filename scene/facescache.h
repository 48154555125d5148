#pragma once
// The project's shared mesh store: one owned Faces per content hash, so
// objects made from the same geometry point at one mesh.
#include "scene/faces.h"

#include <QHash>
#include <memory>

class FacesCache {
public:
    // Computes the mesh's hash and writes it into `mesh`; stores a copy when
    // the hash is new. Returns the cached instance (stable until clear).
    Faces *registerMesh(Faces &mesh);
    // Throws "FacesCache: FATAL error, hash not found." for an unknown hash.
    Faces *lookup(quint32 hash) const;
    bool contains(quint32 hash) const { return table.contains(hash); }
    int size() const { return table.size(); }
    void clear() { table.clear(); }
    void swap(FacesCache &other) { table.swap(other.table); }

private:
    QHash<quint32, std::shared_ptr<Faces>> table;
};
