// TBlockSocket: the blocking socket on which every connection of the network
// client is built.
//
// It owns one socket handle, resolves host and port texts, creates, binds,
// connects and closes the handle, sends and receives with time-outs, keeps a
// read-ahead buffer (InputBacklog) from which lines, blocks and bytes are cut,
// limits bandwidth, applies options set before the handle existed, reports
// each step through hooks, and maps error codes to texts (and, with
// RaiseExcept, to ESocketError).
//
// Contracts:
// - A socket is used by one thread at a time.  The one exception is
//   StopFlag, which any thread may set: the next send or receive step (or
//   heartbeat round of a wait) ends with 10053.
// - Every failure leaves its code in LastError and its text in LastErrorText;
//   callers test LastError after each call (RaiseExcept is off by default).
// - Time-outs are milliseconds; -1 waits without limit.
// - Waits use poll(), so handles above 1023 work; sends never raise SIGPIPE.
// - Higher-level senders and receivers call SendBuffer, RecvBuffer,
//   RecvPacket and WaitingData through their virtual slots: a descendant that
//   overrides them (the TLS layer does) changes every transfer.  Lines that
//   are already complete in InputBacklog are cut from it directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "velmora/host/classes.h"
#include "velmora/host/properties.h"
#include "velmora/host/streams.h"
#include "velmora/host/string_list.h"
#include "velmora/net/blocksock_types.h"
#include "velmora/net/sockapi.h"

namespace velmora::net {

class TBlockSocket : public host::TObject {
 public:
  TBlockSocket();
  // The same as TBlockSocket(); the text is ignored.
  explicit TBlockSocket(const std::string& S);
  ~TBlockSocket() override;
  TBlockSocket(const TBlockSocket&) = delete;
  TBlockSocket& operator=(const TBlockSocket&) = delete;
  std::string ClassName() const override { return "TBlockSocket"; }
  // The published properties (for form streams and `--set Name=value`).
  virtual const std::vector<host::PropInfo>& PublishedProperties() const;

  // Hooks (published).
  THookSocketStatus OnStatus;
  THookDataFilter OnReadFilter;
  THookCreateSocket OnCreateSocket;
  THookMonitor OnMonitor;
  THookHeartbeat OnHeartbeat;

  // --- Virtual operations, in slot order.
  virtual void SetFamily(TSocketFamily Value);
  // Adopts an existing handle (as returned by Accept): counters to 0, the
  // wait set rebuilt, both addresses read from the handle.
  virtual void SetSocket(TSocket Value);
  virtual void InternalSendStream(host::TStream& Stream, bool WithSize, bool Indy);
  virtual bool InternalCanRead(int32_t Timeout);
  virtual void CloseSocket();
  virtual void AbortSocket();
  virtual void Connect(const std::string& IP, const std::string& Port);
  virtual void Listen();
  virtual TSocket Accept();
  // Sends all of Buffer in pieces of SendMaxChunk; returns the count sent.
  virtual int32_t SendBuffer(const void* Buffer, int32_t Length);
  virtual void SendByte(uint8_t Data);
  virtual void SendString(const std::string& Data);
  // 4 bytes, little-endian.
  virtual void SendInteger(int32_t Data);
  // A 4-byte little-endian length, then the bytes.
  virtual void SendBlock(const std::string& Data);
  virtual void SendStreamRaw(host::TStream& Stream);
  virtual void SendStream(host::TStream& Stream);
  virtual void SendStreamIndy(host::TStream& Stream);
  // One receive of at most Length bytes (InputBacklog is not used).  The
  // peer's orderly close is error 10054.  Returns the count, or -1.
  virtual int32_t RecvBuffer(void* Buffer, int32_t Length);
  // Exactly Len bytes unless an error or time-out; returns the count.
  virtual int32_t RecvBufferEx(void* Buffer, int32_t Len, int32_t Timeout);
  // Len bytes as a string; empty on any error.
  virtual std::string RecvBufferStr(int32_t Len, int32_t Timeout);
  virtual uint8_t RecvByte(int32_t Timeout);
  virtual int32_t RecvInteger(int32_t Timeout);
  // A line ended by CR LF (with ConvertLineEnd: CR, LF, CR LF or LF CR); empty
  // on error.
  virtual std::string RecvString(int32_t Timeout);
  // Bytes up to (not including) Delimiter.  After an error everything
  // gathered stays in InputBacklog.
  virtual std::string RecvTerminated(int32_t Timeout, const std::string& Delimiter);
  // Whatever is available: InputBacklog if it holds data, else what the
  // socket holds (waiting up to Timeout for it).
  virtual std::string RecvPacket(int32_t Timeout);
  virtual std::string RecvBlock(int32_t Timeout);
  virtual void RecvStreamRaw(host::TStream& Stream, int32_t Timeout);
  virtual void RecvStream(host::TStream& Stream, int32_t Timeout);
  virtual void RecvStreamIndy(host::TStream& Stream, int32_t Timeout);
  virtual int32_t PeekBuffer(void* Buffer, int32_t Length);
  virtual uint8_t PeekByte(int32_t Timeout);
  // Bytes the system holds for reading, at most 65536; 0 when unknown.
  virtual int32_t WaitingData();
  // LastError := the library's error when SockResult is -1, else 0.
  virtual int32_t SockCheck(int32_t SockResult);
  virtual std::string GetLocalSinIP();
  virtual std::string GetRemoteSinIP();
  virtual int32_t GetLocalSinPort();
  virtual int32_t GetRemoteSinPort();
  virtual bool CanRead(int32_t Timeout);
  virtual bool CanReadEx(int32_t Timeout);
  virtual bool CanWrite(int32_t Timeout);
  // One datagram to RemoteSin / one datagram from anyone into RemoteSin.
  virtual int32_t SendBufferTo(const void* Buffer, int32_t Length);
  virtual int32_t RecvBufferFrom(void* Buffer, int32_t Length);
  virtual int32_t GetSocketType();
  virtual int32_t GetSocketProtocol();
  virtual std::string GetErrorDescEx();

  // --- Set-up.
  // Creates a handle of Family now (nothing with SF_Any).
  void CreateSocket();
  // Creates a handle in the family that Value resolves to.
  void CreateSocketByName(const std::string& Value);
  void Bind(const std::string& IP, const std::string& Port);
  // Resolves into RemoteSin without connecting.
  void SetRemoteSin(const std::string& IP, const std::string& Port);

  // Deferred options: applied at once when a handle exists, else when one is
  // created (in the order they were set); a close discards pending ones.
  void SetLinger(bool Enable, int32_t Linger);
  void SetSizeRecvBuffer(int32_t Size);
  void SetSizeSendBuffer(int32_t Size);
  void SetNonBlockMode(bool Value);
  void SetTimeout(int32_t Timeout);
  void SetSendTimeout(int32_t Timeout);
  void SetRecvTimeout(int32_t Timeout);
  void EnableReuse(bool Value);
  void SetTTL(int32_t TTL);
  // 1024 when the size cannot be read.
  int32_t GetSizeRecvBuffer();
  int32_t GetSizeSendBuffer();
  int32_t GetTTL();
  void SetBandwidth(int32_t Value);

  // --- Names, in this socket's family, type and protocol.
  void ResolveNameToIP(const std::string& Name, host::TStringList& IPList);
  std::string ResolveName(const std::string& Name);
  uint16_t ResolvePort(const std::string& Port);
  std::string ResolveIPToName(std::string IP);
  // The host's name, or "127.0.0.1" when there is none.
  std::string LocalName();

  // --- Receiving and waiting.
  void RecvStreamSize(host::TStream& Stream, int32_t Timeout, int64_t Size);
  int32_t WaitingDataEx();
  // Waits on every TBlockSocket of Sockets (other objects are skipped);
  // CanReadList receives the readable ones in list order.  Any number of
  // sockets.
  bool GroupCanRead(const std::vector<host::TObject*>& Sockets, int32_t Timeout,
                    std::vector<TBlockSocket*>& CanReadList);
  // Discards everything buffered or waiting.
  void Purge();
  // The same, but stops after about `Limit` bytes (-1: no limit), so that a
  // peer that keeps sending cannot hold the caller.
  void PurgeUpTo(int64_t Limit);

  // --- Errors and hooks.
  void ResetLastError();
  // LastErrorText from LastError; reports HR_Error (not for 0, 10035,
  // 10036) and raises ESocketError when RaiseExcept.
  void ExceptCheck();
  static std::string GetErrorDesc(int32_t ErrorCode);
  // Sleeps so that `Length` bytes per piece keep to `Limit` bytes per
  // second; ResumeTick is the tick before which the next piece must wait.
  void LimitBandwidth(int32_t Length, int32_t Limit, uint32_t& ResumeTick);
  // The body of SendBuffer: the stop flag, the monitor, then pieces of
  // SendMaxChunk, each after the bandwidth limiter, counted and reported.
  // `send_piece(p, n)` sends one piece and returns the bytes it moved; it
  // leaves LastError set when the piece failed, which ends the send.
  int32_t SendInPieces(const void* Buffer, int32_t Length,
                       const std::function<int32_t(const uint8_t*, int32_t)>& send_piece);
  // Heartbeat; then, when StopFlag is set, clears it, sets 10053 and is true.
  bool TestStopFlag();
  void DoStatus(THookSocketReason Reason, const std::string& Value);
  void DoReadFilter(void* Buffer, int32_t& Len);
  void DoCreateSocket();
  void DoMonitor(bool Writing, const void* Buffer, int32_t Len);
  void DoHeartbeat();

  // --- Properties.
  const TVarSin& LocalSin() const { return local_sin_; }
  const TVarSin& RemoteSin() const { return remote_sin_; }
  int32_t Tag() const { return tag_; }
  void set_Tag(int32_t v) { tag_ = v; }
  std::string InputBacklog() const { return backlog_.substr(backlog_pos_); }
  void set_InputBacklog(std::string v);
  bool RaiseExcept() const { return raise_except_; }
  void set_RaiseExcept(bool v) { raise_except_ = v; }
  bool NonBlockMode() const { return non_block_mode_; }
  int32_t MaxLineLength() const { return max_line_length_; }
  void set_MaxLineLength(int32_t v) { max_line_length_ = v; }
  int32_t MaxSendBandwidth() const { return max_send_bandwidth_; }
  void set_MaxSendBandwidth(int32_t v) { max_send_bandwidth_ = v; }
  int32_t MaxRecvBandwidth() const { return max_recv_bandwidth_; }
  void set_MaxRecvBandwidth(int32_t v) { max_recv_bandwidth_ = v; }
  void set_MaxBandwidth(int32_t v) { SetBandwidth(v); }
  bool ConvertLineEnd() const { return convert_line_end_; }
  void set_ConvertLineEnd(bool v) { convert_line_end_ = v; }
  bool IsBound() const { return is_bound_; }
  TSocketFamily Family() const { return family_; }
  void set_Family(TSocketFamily v) { SetFamily(v); }
  bool UsesIPv6() const { return uses_ipv6_; }
  bool PreferIP4() const { return prefer_ip4_; }
  void set_PreferIP4(bool v) { prefer_ip4_ = v; }
  bool InterPacketTimeout() const { return inter_packet_timeout_; }
  void set_InterPacketTimeout(bool v) { inter_packet_timeout_ = v; }
  // Counters since the handle was created (64-bit: a long transfer does not
  // overflow them).
  int64_t BytesReceived() const { return bytes_received_; }
  int64_t BytesSent() const { return bytes_sent_; }
  int32_t SendMaxChunk() const { return send_max_chunk_; }
  void set_SendMaxChunk(int32_t v) { send_max_chunk_ = v; }
  bool StopFlag() const { return stop_flag_.load(); }
  // Safe from any thread.
  void set_StopFlag(bool v) { stop_flag_.store(v); }
  int32_t NonblockSendTimeout() const { return nonblock_send_timeout_; }
  void set_NonblockSendTimeout(int32_t v) { nonblock_send_timeout_ = v; }
  int32_t HeartbeatRate() const { return heartbeat_rate_; }
  void set_HeartbeatRate(int32_t v) { heartbeat_rate_ = v; }
  TSocket Socket() const { return socket_; }
  void set_Socket(TSocket v) { SetSocket(v); }
  int32_t LastError() const { return last_error_; }
  const std::string& LastErrorText() const { return last_error_text_; }
  host::TObject* Owner() const { return owner_; }
  void set_Owner(host::TObject* v) { owner_ = v; }
  const std::vector<TSockOption>& PendingOptions() const { return pending_options_; }
  int32_t SizeRecvBuffer() { return GetSizeRecvBuffer(); }
  void set_SizeRecvBuffer(int32_t v) { SetSizeRecvBuffer(v); }
  int32_t SizeSendBuffer() { return GetSizeSendBuffer(); }
  void set_SizeSendBuffer(int32_t v) { SetSizeSendBuffer(v); }
  int32_t TTL() { return GetTTL(); }
  void set_TTL(int32_t v) { SetTTL(v); }
  std::string LocalSinIP() { return GetLocalSinIP(); }
  int32_t LocalSinPort() { return GetLocalSinPort(); }
  std::string RemoteSinIP() { return GetRemoteSinIP(); }
  int32_t RemoteSinPort() { return GetRemoteSinPort(); }
  // The socket library's start-up record.
  static TWSAData GetWsaData();

 protected:
  // Resolves IP and Port into Sin for this socket (see the family rule in
  // the implementation); reports HR_ResolvingBegin and HR_ResolvingEnd.
  void SetSin(TVarSin& Sin, const std::string& IP, const std::string& Port);
  void InternalCreateSocket(const TVarSin& Sin);
  void GetSinLocal();
  void GetSinRemote();
  void GetSins();
  void DelayedOption(const TSockOption& Value);
  void ProcessDelayedOptions();
  void SetDelayedOption(const TSockOption& Value);
  // Waits for writability with poll(); no status or exception check.
  bool InternalCanWrite(int32_t Timeout);
  // The unread part of InputBacklog.
  size_t BacklogSize() const { return backlog_.size() - backlog_pos_; }
  void ClearBacklog() {
    backlog_.clear();
    backlog_pos_ = 0;
  }
  // Removes and returns all of InputBacklog.
  std::string TakeBacklog();
  // Keeps a used packet buffer for the next receive.
  void Recycle(std::string&& buffer);
  // Drops a leading LF after a lone CR (or CR after a lone LF) at the start
  // of fresh data, when ConvertLineEnd; clears both flags.
  void ApplyLineEndCarry(std::string& Data, size_t& Pos);

  TVarSin local_sin_{};
  TVarSin remote_sin_{};
  int32_t tag_ = 0;
  // InputBacklog is backlog_ from backlog_pos_ on; lines are cut by
  // advancing the position, so a packet of many lines is not copied per line.
  std::string backlog_;
  size_t backlog_pos_ = 0;
  // An empty buffer with capacity, handed back by a reader, for RecvPacket.
  std::string spare_;
  bool raise_except_ = false;
  bool non_block_mode_ = false;
  int32_t max_line_length_ = 0;
  int32_t max_send_bandwidth_ = 0;
  uint32_t send_resume_tick_ = 0;
  int32_t max_recv_bandwidth_ = 0;
  uint32_t recv_resume_tick_ = 0;
  bool convert_line_end_ = false;
  bool saw_lone_cr_ = false;
  bool saw_lone_lf_ = false;
  bool is_bound_ = false;
  TSocketFamily family_ = SF_Any;
  TSocketFamily active_family_ = SF_Any;
  bool uses_ipv6_ = false;
  bool prefer_ip4_ = true;
  std::vector<TSockOption> pending_options_;  // in the order they were set
  bool inter_packet_timeout_ = true;
  TFDSet fd_set_{};
  int64_t bytes_received_ = 0;
  int64_t bytes_sent_ = 0;
  int32_t send_max_chunk_ = c64k;
  std::atomic<bool> stop_flag_{false};
  int32_t nonblock_send_timeout_ = 15000;
  int32_t heartbeat_rate_ = 0;
  TSocket socket_ = INVALID_SOCKET;
  // Flags of RecvBufferFrom's recvfrom: MSG_DONTWAIT while a datagram reader
  // tries for a datagram already waiting before it waits.
  int32_t recv_from_flags_ = 0;
  int32_t last_error_ = 0;
  std::string last_error_text_;
  host::TObject* owner_ = nullptr;
  // Set by a descendant's destructor once it has closed the socket itself,
  // so that the base destructor does not close (and report) a second time.
  bool closed_by_descendant_ = false;
  // RecvPacket yields the processor before each receive.  A client that
  // answers one request at a time turns it off: on a busy machine every
  // yield hands the processor to others for a whole time slice.
  bool yield_per_packet_ = true;
};

}  // namespace velmora::net
