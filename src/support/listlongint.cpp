#include "support/listlongint.h"

#include <algorithm>
#include <charconv>

#include "support/errors.h"

namespace glyphmill {

void TListLongint::CheckIndex(int32_t index) const {
  if (index < 0 || index >= FCount) throw EGlyphmillError(Format("List index out of bounds (%d)", index));
}

void TListLongint::SetCapacity(int32_t capacity) {
  if (capacity < FCount || capacity > MaxListSize)
    throw EGlyphmillError(Format("List capacity out of bounds (%d)", capacity));
  FItems.resize(static_cast<size_t>(capacity), 0);
}

void TListLongint::SetCount(int32_t count) {
  if (count < 0 || count > MaxListSize) throw EGlyphmillError(Format("List count out of bounds (%d)", count));
  if (count > Capacity()) SetCapacity(count);
  if (count > FCount) std::fill(FItems.begin() + FCount, FItems.begin() + count, 0);
  FCount = count;
}

int32_t TListLongint::Get(int32_t index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)];
}

void TListLongint::Put(int32_t index, int32_t value) {
  CheckIndex(index);
  FItems[static_cast<size_t>(index)] = value;
}

void TListLongint::Grow() {
  const int32_t capacity = Capacity();
  SetCapacity(capacity + (capacity < 9 ? 4 : 16));
}

int32_t TListLongint::Add(int32_t value) {
  if (FCount == Capacity()) Grow();
  FItems[static_cast<size_t>(FCount)] = value;
  return FCount++;
}

int32_t TListLongint::AddUnique(int32_t value) {
  const int32_t index = IndexOf(value);
  return index >= 0 ? index : Add(value);
}

int32_t TListLongint::IndexOf(int32_t value) const {
  for (int32_t i = 0; i < FCount; ++i)
    if (FItems[static_cast<size_t>(i)] == value) return i;
  return -1;
}

void TListLongint::Insert(int32_t index, int32_t value) {
  if (index < 0 || index > FCount) throw EGlyphmillError(Format("List index out of bounds (%d)", index));
  if (FCount == Capacity()) Grow();
  std::copy_backward(FItems.begin() + index, FItems.begin() + FCount, FItems.begin() + FCount + 1);
  FItems[static_cast<size_t>(index)] = value;
  ++FCount;
}

void TListLongint::Delete(int32_t index) {
  CheckIndex(index);
  std::copy(FItems.begin() + index + 1, FItems.begin() + FCount, FItems.begin() + index);
  --FCount;
  FItems[static_cast<size_t>(FCount)] = 0;
}

void TListLongint::Exchange(int32_t index1, int32_t index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
}

void TListLongint::Clear() {
  FItems.clear();
  FItems.shrink_to_fit();
  FCount = 0;
}

void TListLongint::Sort() { std::sort(FItems.begin(), FItems.begin() + FCount); }

void TListLongint::Fill(int32_t value) { std::fill(FItems.begin(), FItems.begin() + FCount, value); }

int32_t TListLongint::Min() const {
  if (FCount == 0) return 0;
  return *std::min_element(FItems.begin(), FItems.begin() + FCount);
}

void TListLongint::AddList(const TListLongint& other) {
  for (int32_t i = 0; i < other.FCount; ++i) Add(other.FItems[static_cast<size_t>(i)]);
}

void TListLongint::Assign(const TListLongint& other) {
  Clear();
  AddList(other);
}

void TListLongint::AddFromLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    if (first == std::string::npos) continue;
    const char* begin = line.data() + first;
    const char* end = line.data() + last + 1;
    if (*begin == '+') ++begin;
    int32_t value = 0;
    const auto [ptr, error] = std::from_chars(begin, end, value);
    if (error == std::errc() && ptr == end) Add(value);
  }
}

std::vector<std::string> TListLongint::ToLines() const {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(FCount));
  for (int32_t i = 0; i < FCount; ++i) lines.push_back(std::to_string(FItems[static_cast<size_t>(i)]));
  return lines;
}

void TListLongint::LoadFromStream(TStream& stream) {
  const int32_t count = stream.ReadI32LE();
  if (count < 0 || count > MaxListSize || static_cast<int64_t>(count) * 4 > stream.Remaining())
    throw EGlyphmillError(Format("List count out of bounds (%d)", count));
  Clear();
  SetCount(count);
  for (int32_t i = 0; i < count; ++i) FItems[static_cast<size_t>(i)] = stream.ReadI32LE();
}

void TListLongint::SaveToStream(TStream& stream) const {
  stream.WriteI32LE(FCount);
  for (int32_t i = 0; i < FCount; ++i) stream.WriteI32LE(FItems[static_cast<size_t>(i)]);
}

}  // namespace glyphmill
