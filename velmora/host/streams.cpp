#include "velmora/host/streams.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
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

namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

// Streams from this capacity on have their pages provided ahead of writes,
// this far past the end each time.
constexpr int64_t kPrefaultFrom = int64_t{4} << 20;  // bytes
constexpr int64_t kPrefaultStep = int64_t{2} << 20;  // bytes

}  // namespace

TMemoryStream::~TMemoryStream() {
  std::free(data_);
}

bool TMemoryStream::Reallocate(int64_t capacity) {
  if (capacity < 0 || static_cast<uint64_t>(capacity) > PTRDIFF_MAX) return false;
  // realloc grows a large block by remapping its pages: the content is
  // neither copied nor touched.
  void* p = std::realloc(data_, static_cast<size_t>(std::max<int64_t>(capacity, 1)));
  if (p == nullptr) return false;
  if (p != data_) prefaulted_ = std::min(prefaulted_, size_);
  data_ = static_cast<char*>(p);
  capacity_ = capacity;
  return true;
}

void TMemoryStream::Prefault(int64_t end) {
  if (capacity_ < kPrefaultFrom || end <= prefaulted_) return;
  static const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const int64_t to = std::min(capacity_, end + kPrefaultStep);
  // Whole pages of the block only; the partial ones at its ends fault as
  // usual.
  const auto base = reinterpret_cast<uintptr_t>(data_);
  const uintptr_t first = (base + static_cast<uintptr_t>(prefaulted_) + page - 1) & ~(page - 1);
  const uintptr_t last = (base + static_cast<uintptr_t>(to)) & ~(page - 1);
  // A system without the advice simply faults the pages in one by one.
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
  prefaulted_ = to;
}

void TMemoryStream::Grow(int64_t size) {
  // Doubling keeps appends in small steps cheap; past half the range the
  // exact size is asked for.
  const int64_t doubled = capacity_ < INT64_MAX / 2 ? capacity_ * 2 : size;
  if (size > capacity_ && !Reallocate(std::max(size, doubled))) throw std::bad_alloc();
  Prefault(size);
  size_ = size;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = position_ + count;
  if (end > size_) {
    const int64_t old = size_;
    Grow(end);
    // A gap between the old end and the position reads as zeros.
    if (position_ > old) std::memset(data_ + old, 0, static_cast<size_t>(position_ - old));
  }
  std::memcpy(data_ + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soCurrent ? position_ : origin == soEnd ? size_ : 0;
  int64_t target = base + offset;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size " + std::to_string(size));
  const int64_t old = size_;
  if (size > old) {
    Grow(size);
    std::memset(data_ + old, 0, static_cast<size_t>(size - old));
  }
  size_ = size;
  if (position_ > size) position_ = size;
}

char* TMemoryStream::Extend(int64_t count) {
  const int64_t old = size_;
  if (count > 0) Grow(old + count);
  return static_cast<char*>(Memory()) + old;
}

bool TMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= capacity_) return true;
  return Reallocate(capacity);
}

void TMemoryStream::Clear() {
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = prefaulted_ = position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.set_Position(0);
  const int64_t size = source.Size();
  // Read into a block of its own, so that a failed read leaves the content.
  TMemoryStream loaded;
  source.ReadBuffer(loaded.Extend(size), size);
  std::swap(data_, loaded.data_);
  std::swap(size_, loaded.size_);
  std::swap(capacity_, loaded.capacity_);
  std::swap(prefaulted_, loaded.prefaulted_);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& destination) const {
  destination.WriteBuffer(Memory(), size_);
}

void TMemoryStream::SaveToFile(const std::string& file_name) const {
  TFileStream file(file_name, fmCreate);
  SaveToStream(file);
}

}  // namespace velmora::host
