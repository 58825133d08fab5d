// The blend table: for two semi-transparent pixels, the weight (0..255) of the upper pixel's
// colour in the composed colour, indexed by lower alpha × 256 + upper alpha.
#pragma once

#include <cstdint>
#include <filesystem>

namespace glyphmill {

inline constexpr int BlendTableSize = 65536;

// Loads the table from a file of exactly BlendTableSize bytes.
// Returns false and keeps the current table when the file is missing or has another size.
bool LoadBlendTable(const std::filesystem::path& fileName);

// The table in use: one loaded by LoadBlendTable, else data/blend.dat beside the program (looked
// for once, on first use), else the computed table: the upper pixel's share of the combined
// coverage, round(255 × aU / (aU + aL − aU × aL / 255)). Never fails.
const uint8_t* BlendTable();

// Forgets a loaded table so that the computed one is used again.
void ResetBlendTable();

}  // namespace glyphmill
