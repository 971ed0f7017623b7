// TSSLOpenSSL: encrypted sends and receives over the socket BIO.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

#include "velmora/net/ssl_openssl.h"
#include "velmora/net/ssl_openssl_bio.h"
#include "velmora/net/ssl_openssl_entries.h"
#include "velmora/net/tcp_socket.h"

namespace velmora::net {

namespace detail {

namespace {

int HandleOf(BIO* b) {
  return static_cast<int>(reinterpret_cast<intptr_t>(g_entries.BIO_get_data(b)));
}

// Marks the BIO as "try again" for the direction of `flag` when the socket
// said EAGAIN (a non-blocking read, or a socket in non-blocking mode).
void SetRetry(BIO* b, int flag) {
  g_entries.BIO_set_flags(b, flag | BIO_FLAGS_SHOULD_RETRY);
}

void ClearRetry(BIO* b) {
  g_entries.BIO_clear_flags(b, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
}

int SocketWrite(BIO* b, const char* data, int len) {
  ClearRetry(b);
  ssize_t n;
  do {
    n = ::send(HandleOf(b), data, static_cast<size_t>(len), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) SetRetry(b, BIO_FLAGS_WRITE);
  return static_cast<int>(n);
}

int SocketRead(BIO* b, char* data, int len) {
  ClearRetry(b);
  ssize_t n;
  do {
    n = ::recv(HandleOf(b), data, static_cast<size_t>(len), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) SetRetry(b, BIO_FLAGS_READ);
  return static_cast<int>(n);
}

long SocketCtrl(BIO* b, int cmd, long /*num*/, void* ptr) {
  switch (cmd) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_C_GET_FD:
      if (ptr) *static_cast<int*>(ptr) = HandleOf(b);
      return HandleOf(b);
    default:
      return 0;
  }
}

int SocketCreate(BIO* b) {
  g_entries.BIO_set_init(b, 1);
  return 1;
}

int SocketDestroy(BIO* /*b*/) {
  return 1;  // the handle belongs to the socket object
}

BIO_METHOD* SocketMethod() {
  // Made once per process: OpenSSL stays in memory once loaded, so the
  // method outlives an unload and reload of the interface.
  static BIO_METHOD* method = [] {
    const Entries& e = g_entries;
    if (!e.BIO_meth_new || !e.BIO_get_new_index || !e.BIO_meth_set_write || !e.BIO_meth_set_read ||
        !e.BIO_meth_set_ctrl || !e.BIO_meth_set_create || !e.BIO_meth_set_destroy ||
        !e.BIO_set_data || !e.BIO_get_data || !e.BIO_set_init || !e.BIO_set_flags ||
        !e.BIO_clear_flags)
      return static_cast<BIO_METHOD*>(nullptr);
    BIO_METHOD* m = e.BIO_meth_new(
        e.BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "velmora socket");
    if (!m) return m;
    e.BIO_meth_set_write(m, SocketWrite);
    e.BIO_meth_set_read(m, SocketRead);
    e.BIO_meth_set_ctrl(m, SocketCtrl);
    e.BIO_meth_set_create(m, SocketCreate);
    e.BIO_meth_set_destroy(m, SocketDestroy);
    return m;
  }();
  return method;
}

}  // namespace

BIO* NewSocketBio(int fd) {
  const Entries* e = Loaded();
  if (!e) return nullptr;
  BIO_METHOD* method = SocketMethod();
  if (!method) return nullptr;
  BIO* b = e->BIO_new(method);
  if (b) e->BIO_set_data(b, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  return b;
}

}  // namespace detail

bool TSSLOpenSSL::WaitHandle(bool want_read) {
  pollfd p{socket_->Socket(), static_cast<short>(want_read ? POLLIN : POLLOUT), 0};
  for (;;) {
    const int r = ::poll(&p, 1, -1);
    if (r > 0) return (p.revents & POLLNVAL) == 0;
    if (r < 0 && errno != EINTR) return false;
  }
}

int32_t TSSLOpenSSL::SendBuffer(const void* Buffer, int32_t Len) {
  ssl_error_code_ = 0;
  ssl_error_text_.clear();
  ssl_want_read_ = false;
  if (!ssl_) {
    ssl_error_code_ = SSL_ERROR_SSL;
    return -1;
  }
  ErrClearError();
  int r;
  int err;
  for (;;) {
    r = SslWrite(ssl_.get(), Buffer, Len);
    err = SslGetError(ssl_.get(), r);
    if ((err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) &&
        WaitHandle(err == SSL_ERROR_WANT_READ))
      continue;
    break;
  }
  if (err == SSL_ERROR_NONE) return r;
  // Also SSL_ERROR_ZERO_RETURN (the peer closed TLS): the send must end.
  ssl_error_code_ = err;
  ErrClearError();
  return r;
}

int32_t TSSLOpenSSL::RecvBuffer(void* Buffer, int32_t Len) {
  ssl_error_code_ = 0;
  ssl_error_text_.clear();
  ssl_want_read_ = false;
  if (!ssl_) {
    ssl_error_code_ = SSL_ERROR_SSL;
    return -1;
  }
  ErrClearError();
  for (;;) {
    const int r = SslRead(ssl_.get(), Buffer, Len);
    const int err = SslGetError(ssl_.get(), r);
    switch (err) {
      case SSL_ERROR_NONE:
        return r;
      case SSL_ERROR_ZERO_RETURN:
        return 0;
      case SSL_ERROR_WANT_READ:
        // Nothing more on the socket yet: the socket waits for it.
        ssl_want_read_ = true;
        return 0;
      case SSL_ERROR_WANT_WRITE:
        if (WaitHandle(false)) continue;
        [[fallthrough]];
      default:
        ssl_error_code_ = err;
        ErrClearError();
        return r;
    }
  }
}

int32_t TSSLOpenSSL::WaitingData() {
  return ssl_ ? SslPending(ssl_.get()) : 0;
}

}  // namespace velmora::net
