#include "velmora/host/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "velmora/host/exception.h"

namespace velmora::host {

namespace {

std::string Reason(int err) {
  return std::strerror(err);
}

}  // namespace

// ---- TStream ---------------------------------------------------------------

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count <= 0) return;
  auto* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    int64_t n = Read(p + done, count - done);
    if (n <= 0) break;
    done += n;
  }
  if (done != count) {
    std::string detail = FailureDetail();
    throw EReadError(detail.empty() ? "Stream read error" : "Stream read error: " + detail);
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count <= 0) return;
  auto* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    int64_t n = Write(p + done, count - done);
    if (n <= 0) break;
    done += n;
  }
  if (done != count) {
    std::string detail = FailureDetail();
    throw EWriteError(detail.empty() ? "Stream write error" : "Stream write error: " + detail);
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count <= 0) {
    source.set_Position(0);
    count = source.Size();
  }
  constexpr int64_t kChunk = 64 * 1024;
  std::vector<char> buffer(static_cast<size_t>(std::min(count, kChunk)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min(left, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

// ---- TFileStream -----------------------------------------------------------

TFileStream::TFileStream(const std::string& file_name, uint16_t mode) : file_name_(file_name) {
  const bool create = (mode & 0xFF00) == fmCreate;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 3) {
      case fmOpenWrite:
        flags |= O_WRONLY;
        break;
      case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
      default:
        flags |= O_RDONLY;
        break;
    }
  }
  do {
    fd_ = ::open(file_name.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  int err = fd_ < 0 ? errno : 0;
  if (fd_ >= 0) {
    // A directory opens read-only without complaint but cannot be read.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
      err = EISDIR;
      ::close(fd_);
      fd_ = -1;
    }
  }
  if (fd_ < 0) {
    if (create) {
      throw EFCreateError("Cannot create file \"" + file_name + "\": " + Reason(err));
    }
    throw EFOpenError("Cannot open file \"" + file_name + "\": " + Reason(err));
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  ssize_t n;
  do {
    n = ::read(fd_, buffer, static_cast<size_t>(count));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    last_errno_ = errno;
    return 0;
  }
  return n;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      last_errno_ = n < 0 ? errno : ENOSPC;
      break;
    }
    done += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (result < 0) {
    last_errno_ = errno;
    return -1;
  }
  return result;
}

void TFileStream::SetSize(int64_t size) {
  if (size < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    last_errno_ = size < 0 ? EINVAL : errno;
    throw EWriteError("Cannot resize file \"" + file_name_ + "\": " + Reason(last_errno_));
  }
  if (Position() > size) Seek(size, soBeginning);
}

int64_t TFileStream::GetPosition() const {
  off_t p = ::lseek(fd_, 0, SEEK_CUR);
  return p < 0 ? 0 : p;
}

int64_t TFileStream::GetSize() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return 0;
  return st.st_size;
}

std::string TFileStream::FailureDetail() const {
  std::string detail = "file \"" + file_name_ + "\"";
  if (last_errno_ != 0) detail += ": " + Reason(last_errno_);
  return detail;
}

// ---- TMemoryStream ---------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = GetSize();
  if (count <= 0 || position_ >= size) return 0;
  int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t end = position_ + count;
  if (end > GetSize()) data_.resize(static_cast<size_t>(end), '\0');
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soCurrent ? position_ : origin == soEnd ? GetSize() : 0;
  int64_t target = base + offset;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size " + std::to_string(size));
  data_.resize(static_cast<size_t>(size), '\0');
  if (position_ > size) position_ = size;
}

bool TMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= static_cast<int64_t>(data_.capacity())) return true;
  try {
    data_.reserve(static_cast<size_t>(capacity));
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.set_Position(0);
  int64_t size = source.Size();
  std::string bytes(static_cast<size_t>(size), '\0');
  source.ReadBuffer(bytes.data(), size);
  data_ = std::move(bytes);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& destination) const {
  destination.WriteBuffer(data_.data(), GetSize());
}

void TMemoryStream::SaveToFile(const std::string& file_name) const {
  TFileStream file(file_name, fmCreate);
  SaveToStream(file);
}

}  // namespace velmora::host
