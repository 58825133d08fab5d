#include "support/streams.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "support/errors.h"

namespace glyphmill {

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return count;
}

uint8_t TStream::ReadU8() {
  uint8_t b = 0;
  ReadBuffer(&b, 1);
  return b;
}

uint16_t TStream::ReadU16LE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t TStream::ReadU32LE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}

uint16_t TStream::ReadU16BE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TStream::ReadU32BE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
}

void TStream::WriteU8(uint8_t value) { WriteBuffer(&value, 1); }

void TStream::WriteU16LE(uint16_t value) {
  const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  WriteBuffer(b, 2);
}

void TStream::WriteU32LE(uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  WriteBuffer(b, 4);
}

void TStream::WriteU16BE(uint16_t value) {
  const uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  WriteBuffer(b, 2);
}

void TStream::WriteU32BE(uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  WriteBuffer(b, 4);
}

namespace {

int64_t SeekTarget(int64_t offset, TSeekOrigin origin, int64_t position, int64_t size) {
  int64_t base = 0;
  if (origin == TSeekOrigin::Current) base = position;
  if (origin == TSeekOrigin::End) base = size;
  int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) target = 0;
  return target;
}

}  // namespace

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t available = std::max<int64_t>(0, Size() - FPosition);
  const int64_t n = std::clamp<int64_t>(count, 0, available);
  if (n > 0) std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = FPosition + count;
  if (end > Size()) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition, Size());
  return FPosition;
}

void TMemoryStream::SetSize(int64_t size) {
  FData.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  FPosition = std::min(FPosition, Size());
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  FData.resize(static_cast<size_t>(source.Size()));
  source.ReadBuffer(FData.data(), static_cast<int64_t>(FData.size()));
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  FData = ReadFileBytes(fileName);
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& target) const {
  target.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TMemoryStream::SaveToFile(const std::string& fileName) const { WriteFileBytes(fileName, FData); }

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) {
  int flags = O_RDONLY;
  if (mode == TFileMode::Create) flags = O_RDWR | O_CREAT | O_TRUNC;
  if (mode == TFileMode::OpenReadWrite) flags = O_RDWR;
  FHandle = ::open(fileName.c_str(), flags | O_CLOEXEC, 0644);
  if (FHandle < 0) {
    const char* verb = mode == TFileMode::Create ? "create" : "open";
    throw EStreamError(Format("Cannot %s file \"%s\". %s", verb, fileName.c_str(), std::strerror(errno)));
  }
  struct stat info {};
  if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(FHandle);
    throw EStreamError(Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(EISDIR)));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::read(FHandle, bytes + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(FHandle, bytes + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t current = ::lseek(FHandle, 0, SEEK_CUR);
  const int64_t target = SeekTarget(offset, origin, current, Size());
  return ::lseek(FHandle, target, SEEK_SET);
}

int64_t TFileStream::Size() {
  struct stat info {};
  if (::fstat(FHandle, &info) != 0) return 0;
  return info.st_size;
}

TFileMappingStream::TFileMappingStream(const std::string& fileName) {
  const int handle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) throw EStreamError(Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
  struct stat info {};
  if (::fstat(handle, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(handle);
    throw EStreamError(Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(EISDIR)));
  }
  FSize = static_cast<size_t>(info.st_size);
  if (FSize > 0) {
    void* view = ::mmap(nullptr, FSize, PROT_READ, MAP_PRIVATE, handle, 0);
    if (view != MAP_FAILED) {
      FData = static_cast<const uint8_t*>(view);
      FMapped = true;
    } else {
      ::close(handle);
      FCopy = ReadFileBytes(fileName);
      FData = FCopy.data();
      FSize = FCopy.size();
      return;
    }
  }
  ::close(handle);
}

TFileMappingStream::~TFileMappingStream() {
  if (FMapped) ::munmap(const_cast<uint8_t*>(FData), FSize);
}

int64_t TFileMappingStream::Read(void* buffer, int64_t count) {
  const int64_t available = std::max<int64_t>(0, Size() - FPosition);
  const int64_t n = std::clamp<int64_t>(count, 0, available);
  if (n > 0) std::memcpy(buffer, FData + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TFileMappingStream::Write(const void*, int64_t) { return 0; }

int64_t TFileMappingStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition, Size());
  return FPosition;
}

std::vector<uint8_t> ReadFileBytes(const std::string& fileName) {
  TFileStream file(fileName, TFileMode::OpenRead);
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
  file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

void WriteFileBytes(const std::string& fileName, std::span<const uint8_t> bytes) {
  TFileStream file(fileName, TFileMode::Create);
  file.WriteBytes(bytes);
}

namespace {

// Removes a file when it goes out of scope, whichever way that happens.
class TRemoveOnExit {
public:
  explicit TRemoveOnExit(std::filesystem::path path) : FPath(std::move(path)) {}
  ~TRemoveOnExit() {
    std::error_code ignored;
    std::filesystem::remove(FPath, ignored);
  }
  TRemoveOnExit(const TRemoveOnExit&) = delete;
  TRemoveOnExit& operator=(const TRemoveOnExit&) = delete;

private:
  std::filesystem::path FPath;
};

}  // namespace

void WriteFileAtomically(const std::string& fileName, std::span<const uint8_t> bytes) {
  namespace fs = std::filesystem;
  const fs::path target(fileName);
  std::random_device random;
  const fs::path temporary =
      target.parent_path() / Format(".%s.%08x.tmp", target.filename().c_str(), static_cast<unsigned>(random()));
  // After a successful rename there is nothing left to remove.
  const TRemoveOnExit cleanup(temporary);
  try {
    {
      TFileStream file(temporary.string(), TFileMode::Create);
      file.WriteBytes(bytes);
    }
    fs::rename(temporary, target);
  } catch (const EStreamError& error) {
    // The temporary name means nothing to the user; the message names the file that was asked for.
    std::string message = error.what();
    if (const size_t at = message.find(temporary.string()); at != std::string::npos)
      message.replace(at, temporary.string().size(), fileName);
    throw EStreamError(message);
  } catch (const fs::filesystem_error& error) {
    throw EStreamError(Format("Cannot create file \"%s\". %s", fileName.c_str(), error.code().message().c_str()));
  }
}

}  // namespace glyphmill
