#pragma once
// A coarse stand-in for a large mesh, drawn while the view is dragged so
// that frames stay quick: vertices are merged per cell of a uniform grid
// (vertex clustering) and triangles whose corners fall into fewer than three
// cells are dropped. The shape keeps its bounding box within one cell and
// every kept triangle its facing; detail finer than a cell is lost.
#include "scene/faces.h"

// Simplified copy of `mesh` with at most about `targetTriangles` triangles
// (the grid is chosen for it); a mesh already that small comes back as it
// is. Non-finite corners are dropped with their triangles.
Faces clusteredMesh(const Faces &mesh, int targetTriangles);
