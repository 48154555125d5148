#include "scene/facescache.h"

Faces *FacesCache::registerMesh(Faces &mesh)
{
    mesh.hash = mesh.contentHash();
    auto it = table.find(mesh.hash);
    if (it == table.end())
        it = table.insert(mesh.hash, std::make_shared<Faces>(mesh));
    return it.value().get();
}

Faces *FacesCache::lookup(quint32 hash) const
{
    auto it = table.find(hash);
    if (it == table.end())
        throw QString("FacesCache: FATAL error, hash not found.");
    return it.value().get();
}
