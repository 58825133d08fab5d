// Byte streams the readers and writers share: memory, file and read-only mapped file.
// A read never runs past the data: Read returns what is there, ReadBuffer fails instead.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace glyphmill {

enum class TSeekOrigin { Beginning, Current, End };

class TStream {
public:
  virtual ~TStream() = default;

  // Reads up to count bytes; returns the number read (fewer at the end of the data).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes; returns the number written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position (clamped at 0) and returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size() = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Beginning); }
  int64_t Remaining() { return Size() - Position(); }

  // Read or write exactly count bytes, or throw EStreamError ("Stream read error" / "Stream write error").
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteBytes(std::span<const uint8_t> bytes) { WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size())); }

  // Copies count bytes from source at its position (count 0: the whole source from its start).
  int64_t CopyFrom(TStream& source, int64_t count);

  uint8_t ReadU8();
  uint16_t ReadU16LE();
  uint32_t ReadU32LE();
  int32_t ReadI32LE() { return static_cast<int32_t>(ReadU32LE()); }
  uint16_t ReadU16BE();
  uint32_t ReadU32BE();
  void WriteU8(uint8_t value);
  void WriteU16LE(uint16_t value);
  void WriteU32LE(uint32_t value);
  void WriteI32LE(int32_t value) { WriteU32LE(static_cast<uint32_t>(value)); }
  void WriteU16BE(uint16_t value);
  void WriteU32BE(uint32_t value);
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : FData(std::move(bytes)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }

  void SetSize(int64_t size);
  void Clear();
  uint8_t* Memory() { return FData.data(); }
  const std::vector<uint8_t>& Bytes() const { return FData; }
  std::vector<uint8_t>& Bytes() { return FData; }

  void LoadFromStream(TStream& source);
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& target) const;
  void SaveToFile(const std::string& fileName) const;

private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

enum class TFileMode { OpenRead, Create, OpenReadWrite };

// A stream over an open file. Opening fails with EStreamError naming the file.
class TFileStream : public TStream {
public:
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;

private:
  int FHandle = -1;
};

// A read-only stream over a whole file, mapped into memory (read into memory when mapping fails).
class TFileMappingStream : public TStream {
public:
  explicit TFileMappingStream(const std::string& fileName);
  ~TFileMappingStream() override;
  TFileMappingStream(const TFileMappingStream&) = delete;
  TFileMappingStream& operator=(const TFileMappingStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;  // always fails: read-only
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FSize); }

  std::span<const uint8_t> Bytes() const { return {FData, FSize}; }

private:
  const uint8_t* FData = nullptr;
  size_t FSize = 0;
  int64_t FPosition = 0;
  bool FMapped = false;
  std::vector<uint8_t> FCopy;
};

// Whole-file helpers. ReadFileBytes fails with EStreamError when the file cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& fileName);
void WriteFileBytes(const std::string& fileName, std::span<const uint8_t> bytes);

// Writes through a temporary file in the target's folder and renames it over the target,
// so a failed write never leaves a half-written file in place of a good one.
void WriteFileAtomically(const std::string& fileName, std::span<const uint8_t> bytes);

}  // namespace glyphmill
