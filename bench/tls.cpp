// TLS 1.3 over loopback against bare OpenSSL, in the same run and
// interleaved round by round (only ratios within one run mean anything):
//
//   throughput: 1 GiB (AES-256-GCM); TTCPBlockSocket::SendBuffer in 64 KiB
//     pieces to RecvPacket, against SSL_write of 64 KiB to SSL_read into a
//     64 KiB buffer over OpenSSL's own socket BIO (the floor);
//   handshakes: new TCP connection, full TLS 1.3 handshake (no resumption)
//     and close, with TTCPBlockSocket + SSLDoConnect against a bare OpenSSL
//     client; both against the same bare OpenSSL server.
//
// The server certificate is RSA 2048, made once by the plug-in.
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/loopback.h"
#include "bench/round_summary.h"
#include "benchmark/benchmark.h"
#include "velmora/net/blocksock.h"
#include "velmora/net/ssl_openssl.h"

namespace {

using velmora::bench::PlainConnect;
using velmora::bench::PlainListener;
using velmora::net::MakeSSLOpenSSL;
using velmora::net::TTCPBlockSocket;

// 1 GiB; VELMORA_BENCH_TLS_MIB=n moves n MiB instead (quick looks).
const int64_t kTotalBytes = [] {
  const char* mib = std::getenv("VELMORA_BENCH_TLS_MIB");
  return (mib ? std::atoll(mib) : 1024) << 20;
}();
constexpr int kPiece = 65536;
constexpr int kHandshakes = 200;  // per round
constexpr int kRounds = 9;

// The server certificate and key (DER), made once.
struct ServerKeys {
  std::string cert, key;
  ServerKeys() {
    TTCPBlockSocket dummy(MakeSSLOpenSSL);
    dummy.SSL()->CreateSelfSignedCert("localhost");
    cert = dummy.SSL()->Certificate();
    key = dummy.SSL()->PrivateKey();
  }
};
const ServerKeys& Keys() {
  static const ServerKeys keys;
  return keys;
}

SSL_CTX* ServerContext() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  const ServerKeys& k = Keys();
  SSL_CTX_use_certificate_ASN1(ctx, static_cast<int>(k.cert.size()),
                               reinterpret_cast<const unsigned char*>(k.cert.data()));
  SSL_CTX_use_PrivateKey_ASN1(EVP_PKEY_RSA, ctx,
                              reinterpret_cast<const unsigned char*>(k.key.data()),
                              static_cast<long>(k.key.size()));
  return ctx;
}

// --- Throughput

void FloorThroughput(benchmark::State& state) {
  SSL_CTX* server_ctx = ServerContext();
  SSL_CTX* client_ctx = SSL_CTX_new(TLS_client_method());
  std::vector<char> buf(kPiece);
  for (auto _ : state) {
    PlainListener l;
    std::thread sender([&] {
      int fd = ::accept(l.fd, nullptr, nullptr);
      SSL* ssl = SSL_new(server_ctx);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) == 1) {
        std::vector<char> chunk(kPiece, 'x');
        for (int64_t sent = 0; sent < kTotalBytes; sent += kPiece)
          if (SSL_write(ssl, chunk.data(), kPiece) <= 0) break;
      }
      SSL_free(ssl);
      ::close(fd);
    });
    int fd = PlainConnect(l.port);
    SSL* ssl = SSL_new(client_ctx);
    SSL_set_fd(ssl, fd);
    int64_t total = 0;
    if (SSL_connect(ssl) == 1) {
      while (total < kTotalBytes) {
        int n = SSL_read(ssl, buf.data(), kPiece);
        if (n <= 0) break;
        total += n;
      }
    }
    sender.join();
    SSL_free(ssl);
    ::close(fd);
    if (total != kTotalBytes) state.SkipWithError("short transfer");
  }
  SSL_CTX_free(server_ctx);
  SSL_CTX_free(client_ctx);
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

void SocketThroughput(benchmark::State& state) {
  for (auto _ : state) {
    TTCPBlockSocket server(MakeSSLOpenSSL);
    server.Bind("127.0.0.1", "0");
    server.Listen();
    const std::string port = std::to_string(server.GetLocalSinPort());
    std::thread sender([&server] {
      TTCPBlockSocket conn(MakeSSLOpenSSL);
      conn.SetSocket(server.Accept());
      conn.SSL()->set_Certificate(Keys().cert);
      conn.SSL()->set_PrivateKey(Keys().key);
      if (!conn.SSLAcceptConnection()) return;
      std::string chunk(kPiece, 'x');
      for (int64_t sent = 0; sent < kTotalBytes && conn.LastError() == 0; sent += kPiece)
        conn.SendBuffer(chunk.data(), kPiece);
    });
    TTCPBlockSocket c(MakeSSLOpenSSL);
    c.Connect("127.0.0.1", port);
    c.SSLDoConnect();
    int64_t total = 0;
    while (total < kTotalBytes && c.LastError() == 0) {
      std::string packet = c.RecvPacket(60000);
      total += static_cast<int64_t>(packet.size());
    }
    sender.join();
    if (total != kTotalBytes) state.SkipWithError("short transfer");
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

// --- Handshakes: a bare OpenSSL server that accepts and finishes handshakes
// until told to stop.

class HandshakeServer {
 public:
  HandshakeServer() : ctx_(ServerContext()) {
    thread_ = std::thread([this] {
      for (;;) {
        int fd = ::accept(listener_.fd, nullptr, nullptr);
        if (stop_.load() || fd < 0) {
          if (fd >= 0) ::close(fd);
          return;
        }
        SSL* ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, fd);
        SSL_accept(ssl);
        SSL_free(ssl);
        ::close(fd);
      }
    });
  }
  ~HandshakeServer() {
    stop_.store(true);
    ::close(PlainConnect(listener_.port));
    thread_.join();
    SSL_CTX_free(ctx_);
  }
  int port() const { return listener_.port; }

 private:
  PlainListener listener_{64};
  SSL_CTX* ctx_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void FloorHandshakes(benchmark::State& state) {
  HandshakeServer server;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  int done = 0;
  for (auto _ : state) {
    for (int i = 0; i < kHandshakes; ++i) {
      int fd = PlainConnect(server.port());
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      if (SSL_connect(ssl) == 1) ++done;
      SSL_shutdown(ssl);
      SSL_free(ssl);
      ::close(fd);
    }
  }
  SSL_CTX_free(ctx);
  if (done != kHandshakes * state.iterations()) state.SkipWithError("failed handshakes");
  state.SetItemsProcessed(done);
}

void SocketHandshakes(benchmark::State& state) {
  HandshakeServer server;
  const std::string port = std::to_string(server.port());
  int done = 0;
  for (auto _ : state) {
    for (int i = 0; i < kHandshakes; ++i) {
      TTCPBlockSocket c(MakeSSLOpenSSL);
      c.Connect("127.0.0.1", port);
      c.SSLDoConnect();
      if (c.LastError() == 0) ++done;
      c.CloseSocket();
    }
  }
  if (done != kHandshakes * state.iterations()) state.SkipWithError("failed handshakes");
  state.SetItemsProcessed(done);
}

}  // namespace

int main(int argc, char** argv) {
  // The bare OpenSSL peers write with OpenSSL's own socket BIO, which may
  // raise SIGPIPE when the other side has closed first.
  std::signal(SIGPIPE, SIG_IGN);
  Keys();
  return velmora::bench::RunInterleaved(argc, argv, kRounds,
                                        {{"throughput_floor", FloorThroughput},
                                         {"throughput_socket", SocketThroughput},
                                         {"handshakes_floor", FloorHandshakes},
                                         {"handshakes_socket", SocketHandshakes}},
                                        {{"throughput_socket", "throughput_floor", "GB/s", 1e9},
                                         {"handshakes_socket", "handshakes_floor", "/s", 1}});
}
