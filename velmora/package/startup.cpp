// The start-up and shut-down of libvelmora's units (order in package.h).
//
// The object below is the only static object of the package library.  The
// package library is linked after the module libraries, so the units' own
// static data are initialised before it runs and destroyed after it ends.

#include <cstdint>
#include <exception>

#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"
#include "velmora/net/blocksock.h"
#include "velmora/net/netutil_time.h"
#include "velmora/net/sockapi.h"
#include "velmora/net/ssl_openssl.h"
#include "velmora/package/package.h"
#include "velmora/platform/wave.h"

namespace velmora::package {

namespace {

bool g_started = false;

bool PostToGuiThread(uintptr_t hwnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  // Called on device threads; a window exists only once the GUI thread has
  // made one, so the application object exists by then.
  return host::Application().PostMessage(hwnd, msg, wparam, lparam);
}

class Startup {
 public:
  Startup() {
    // 1. host: host::FormatSettings is already read (it is initialised
    //    ahead of every other start-up code of the library).
    // 2. platform
    platform::SetWindowMessagePoster(PostToGuiThread);
    // 3. network
    net::unit_sockapi::Initialize();
    net::unit_netutil::Initialize();
    try {
      net::unit_blocksock::Initialize();
    } catch (const std::exception&) {
      // The socket library did not start.  Loading must not fail for that:
      // the first socket tries again and reports the error to its user.
    }
    // The TLS unit after the block sockets: TSSLOpenSSL becomes the plug-in
    // of every TCP socket created from now on when OpenSSL loads.
    net::unit_ssl_openssl::Initialize();
    // 4. the tone component
    tonvel::unit_tonvel::Initialize();
    tonvel::Register();
    g_started = true;
  }

  ~Startup() {
    g_started = false;
    tonvel::unit_tonvel::Finalize();
    net::unit_ssl_openssl::Finalize();
    net::unit_blocksock::Finalize();
    net::unit_netutil::Finalize();
    net::unit_sockapi::Finalize();
    // Devices still open may notify during exit: they find no poster and
    // post nothing.
    platform::SetWindowMessagePoster(nullptr);
  }

  Startup(const Startup&) = delete;
  Startup& operator=(const Startup&) = delete;
};

Startup g_startup;

}  // namespace

bool Started() {
  return g_started;
}

}  // namespace velmora::package
