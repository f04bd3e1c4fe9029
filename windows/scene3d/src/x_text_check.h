#pragma once
// Reading a text .x file before assimp does. assimp's .x reader trusts the
// counts and references it reads (a material list shorter than its indices,
// a normal face with fewer corners than its face, a reference to a material
// that is not there all make it read past its lists), and where a file has a
// stray separator or an object it does not know, it skips ahead and can lose
// what a later reference needs. So the whole file is read here against the
// part of the format the program draws, every count, index and reference is
// checked, and assimp is given a copy written here in one fixed layout:
//
//   file      := header { template | Material | Frame | Mesh }
//   Frame     := [name] { { FrameTransformMatrix{16 numbers} | Frame | Mesh } }
//   Mesh      := [name] { n; n*3 numbers; f; f*(c >= 3; c indices < n) [children] }
//   children  := MeshNormals{m; m*3 numbers; f*(c; c indices < m)}, with the
//                mesh's corner counts | MeshTextureCoords{n; n*2 numbers}
//              | MeshVertexColors{n; n*(index < n; 4 numbers)}
//              | MeshMaterialList{k >= 1; 1 or f; indices < k; k*({name} | Material)}
//   Material  := [name] { 4 numbers; number; 3 numbers; 3 numbers; [TextureFilename{"file"}] }
//
// Templates and vertex colours are left out of the copy (nothing draws
// them). Anything else (other objects, bytes other than printable ASCII, a
// malformed number or name, a reference to no earlier material) is refused
// with the line it is on.
#include <cstdint>
#include <span>
#include <string>

// The copy for assimp (its own header included) of `text`, the file after
// its 16-byte header; false with the reason in `error` when `text` holds
// anything the grammar above does not allow.
bool RewriteXText(std::span<const std::uint8_t> text, std::string& copy, std::string& error);
