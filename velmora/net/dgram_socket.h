// TDgramBlockSocket: a connectionless socket.  "Connect" only fixes the
// address datagrams go to (RemoteSin) and creates the handle for it; every
// sender of the block socket (SendString, SendBlock, ...) sends one datagram
// there, and every buffered reader (RecvPacket, RecvString, ...) takes whole
// datagrams, each storing its sender in RemoteSin.
//
// Contracts:
// - A datagram is never split: a send larger than the system allows fails
//   with the library's error (10040), and no read filter is applied.
// - RecvPacket returns one datagram (or what InputBacklog holds).  An empty
//   datagram is an empty packet without an error: it is taken off the queue
//   instead of reading as the peer's close.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velmora/net/socks.h"

namespace velmora::net {

class TDgramBlockSocket : public TSocksBlockSocket {
 public:
  TDgramBlockSocket() = default;
  std::string ClassName() const override { return "TDgramBlockSocket"; }

  // No packet is exchanged: RemoteSin := IP:Port, the handle is created for
  // that address (if there is none yet), InputBacklog is emptied, and
  // HR_Connect reports IP + ":" + Port.
  void Connect(const std::string& IP, const std::string& Port) override;
  // SendBufferTo: one datagram to RemoteSin.
  int32_t SendBuffer(const void* Buffer, int32_t Length) override;
  // RecvBufferFrom: one datagram from anyone; its sender becomes RemoteSin.
  int32_t RecvBuffer(void* Buffer, int32_t Length) override;
  // InputBacklog if it holds data, else the next datagram (waiting up to
  // Timeout for it; 10060 when none came).
  std::string RecvPacket(int32_t Timeout) override;

 private:
  // Receive area for one datagram, allocated on first use and kept.
  std::vector<uint8_t> datagram_;
};

}  // namespace velmora::net
