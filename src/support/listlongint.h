// TListLongint: a growable array of signed 32-bit integers (size and depth lists, palettes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/streams.h"

namespace glyphmill {

class TListLongint {
public:
  static constexpr int32_t MaxListSize = 134217727;

  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return static_cast<int32_t>(FItems.size()); }
  // New slots are zero-filled; a count or capacity outside 0..MaxListSize fails.
  void SetCount(int32_t count);
  void SetCapacity(int32_t capacity);

  int32_t Get(int32_t index) const;
  void Put(int32_t index, int32_t value);
  int32_t operator[](int32_t index) const { return Get(index); }

  // Appends and returns the index; capacity grows by 4 while below 9, else by 16.
  int32_t Add(int32_t value);
  // Adds only when absent; returns the index of the value.
  int32_t AddUnique(int32_t value);
  int32_t IndexOf(int32_t value) const;
  void Insert(int32_t index, int32_t value);
  void Delete(int32_t index);
  void Exchange(int32_t index1, int32_t index2);
  void Clear();
  void Sort();
  void Fill(int32_t value);
  // The smallest value; 0 for an empty list.
  int32_t Min() const;
  void AddList(const TListLongint& other);
  void Assign(const TListLongint& other);
  // Each line read as a decimal integer; lines that are not integers are skipped.
  void AddFromLines(const std::vector<std::string>& lines);
  std::vector<std::string> ToLines() const;

  // A 32-bit count followed by the values, little-endian.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;

  std::vector<int32_t> ToVector() const { return {FItems.begin(), FItems.begin() + FCount}; }
  bool operator==(const TListLongint& other) const { return ToVector() == other.ToVector(); }

private:
  void Grow();
  void CheckIndex(int32_t index) const;

  std::vector<int32_t> FItems;  // size() is the capacity
  int32_t FCount = 0;
};

}  // namespace glyphmill
