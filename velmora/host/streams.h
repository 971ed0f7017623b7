// Byte streams: the abstract TStream, files (TFileStream) and memory
// (TMemoryStream).
//
// Read and Write transfer what they can and return the count; ReadBuffer and
// WriteBuffer insist on the whole count and raise EReadError/EWriteError on a
// short transfer.  Opening a file raises EFCreateError/EFOpenError naming the
// file and the system's reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "velmora/host/classes.h"

namespace velmora::host {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// File open modes.  fmCreate creates the file or truncates an existing one and
// opens it for reading and writing; the others open an existing file.  The
// share flags are accepted for compatibility and have no effect.
constexpr uint16_t fmCreate = 0xFF00;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

class TStream : public TObject {
 public:
  // Reads up to `count` bytes at the position and advances it; returns the
  // count read (0 at the end, on an error or for count <= 0).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes `count` bytes at the position and advances it; returns the count
  // written (less than `count` only on an error).
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position and returns the new one.  A target before the start
  // leaves the position unchanged and returns -1.  Seeking past the end is
  // allowed; a later write fills the gap with zero bytes.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() const { return GetPosition(); }
  void set_Position(int64_t position) { Seek(position, soBeginning); }
  int64_t Size() const { return GetSize(); }
  // Truncates or extends (with zero bytes) the stream; the position is kept
  // unless it lies past the new end, then it moves to the end.
  virtual void SetSize(int64_t size) = 0;

  // Exactly `count` bytes or EReadError.
  void ReadBuffer(void* buffer, int64_t count);
  // Exactly `count` bytes or EWriteError.
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies `count` bytes from the source's position to this stream's
  // position; a count of 0 or less copies the whole source from its start.
  // Returns the count copied; EReadError when the source ends early.
  int64_t CopyFrom(TStream& source, int64_t count);

 protected:
  virtual int64_t GetPosition() const = 0;
  virtual int64_t GetSize() const = 0;
  // Where the last failed transfer happened and why, for the messages of
  // ReadBuffer/WriteBuffer (empty: no detail).
  virtual std::string FailureDetail() const { return {}; }
};

class TFileStream : public TStream {
 public:
  // Opens `file_name` in `mode` (fmCreate or an fmOpen* value, optionally
  // or-ed with a share flag).  EFCreateError / EFOpenError on failure, with
  // a message such as: Cannot create file "x.wav": Permission denied.
  TFileStream(const std::string& file_name, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // EWriteError when the file cannot be resized.
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return file_name_; }
  int Handle() const { return fd_; }

 protected:
  int64_t GetPosition() const override;
  int64_t GetSize() const override;
  std::string FailureDetail() const override;

 private:
  std::string file_name_;
  int fd_ = -1;
  int last_errno_ = 0;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;

  // The bytes of the stream; valid until the next write or resize.
  void* Memory() { return data_ ? data_ : empty_; }
  const void* Memory() const { return data_ ? data_ : empty_; }
  // A copy of the whole content.
  std::string DataString() const { return std::string(View()); }
  std::string_view View() const {
    return std::string_view(data_ ? data_ : empty_, static_cast<size_t>(size_));
  }

  // Empties the stream (size and position 0) and gives its memory back.
  void Clear();
  // Makes room for `capacity` bytes without changing the size, so that
  // writes up to it do not move the content (the system provides the pages
  // as they are written).  False when the memory is not available; the
  // stream is unchanged then.
  bool Reserve(int64_t capacity);
  // Grows the stream by `count` bytes at its end and returns them, left for
  // the caller to fill: unlike SetSize they are not cleared first, so that
  // a receive into them touches the memory once.  The position does not
  // move; bytes the caller does not fill are cut off again with SetSize.
  char* Extend(int64_t count);
  // Replaces the content with the whole of `source`, read from its start;
  // the position becomes 0.
  void LoadFromStream(TStream& source);
  // Replaces the content with the file's bytes (EFOpenError if it cannot be
  // opened); the position becomes 0.
  void LoadFromFile(const std::string& file_name);
  // Writes the whole content at the destination's position.
  void SaveToStream(TStream& destination) const;
  // Creates the file (an existing one is replaced) holding the content.
  void SaveToFile(const std::string& file_name) const;

 protected:
  int64_t GetPosition() const override { return position_; }
  int64_t GetSize() const override { return size_; }

 private:
  // Grows the size to `size`, keeping the content; new bytes are not
  // cleared.  Raises std::bad_alloc when the memory is not available.
  void Grow(int64_t size);
  // Moves the memory to `capacity` bytes; false when it is not available.
  bool Reallocate(int64_t capacity);
  // Has the system provide the pages up to a little past `end` in one call
  // (large streams only), instead of one page fault per page as they are
  // first written.
  void Prefault(int64_t end);

  static inline char empty_[1] = {0};
  char* data_ = nullptr;  // malloc'd, so that large blocks grow in place
  int64_t size_ = 0;
  int64_t capacity_ = 0;
  int64_t prefaulted_ = 0;  // the pages below this offset are provided
  int64_t position_ = 0;
};

}  // namespace velmora::host
