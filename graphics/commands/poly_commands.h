// Bodies of the polygon and surface commands: plotpoly, mesh and surf. Each
// writes one polygon-mesh record (vertices, optional colours, faces as
// 0-based vertex numbers packed two per double) that the 3-D scene draws.
// Every argument is read and the record's size settled (in 64 bits) before
// the room check, so a refused command leaves the list as it was.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/commands/line_commands.h"
#include "graphics/subplot/subplot.h"

// Mesh flags of the polygon record's first data double.
enum : uint32_t {
  kMeshFill = 1,            // faces seen from the front are kept (option f)
  kMeshEdges = 2,           // faces seen from the back are kept (option b)
  kMeshEars = 4,            // polygons are cut into ears (option *)
  kMeshNoColour = 16,       // no colour argument: zmin and zmax are stored
  kMeshValues = 32,         // colour values rather than r, g, b triples
  kMeshRgb = 64,            // r, g, b triples
  kMeshUniform = 128,       // one colour for the whole record
  kMeshPlainLines = 256,    // mesh: coloured, or neither colour nor style
  kMeshStyledLines = 512,   // a style string drives the edges
  kMeshColouredFaces = 1024,
  kMeshStyleFaces = 2048,   // the style's fill colours the faces
};

int plot_cmd_plotpoly(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed);
// surface 0 for mesh, 1 for surf.
int plot_cmd_mesh(EngineContext* ctx, int nargin, Subplot* s, bool surface, CommandList list, bool ids_allowed);
