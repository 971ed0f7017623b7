// The package: libvelmora's start-up and shut-down.
//
// Loading libvelmora starts its units, in this order, from one static object
// (package/startup.cpp); unloading it (or the process ending) shuts them down
// in the reverse order:
//
//   1. host: the locale settings (host::FormatSettings), read from the
//      environment before any other start-up code of the library runs;
//   2. platform: the sound devices' window notifications are posted through
//      host::Application().PostMessage, so they reach the GUI thread's loop;
//   3. network: the socket interface (unit_sockapi), the text and coding
//      units (unit_netutil), the block sockets (unit_blocksock, which starts
//      the socket library at version 2.2); the TLS units follow them as they
//      are added;
//   4. the tone component's unit (unit_tonvel) and the registration of
//      TDTMF on the palette page "VELMORA-FFT" (tonvel::Register), so that a
//      form stream or a command line can create it by class name.
//
// A host needs to call nothing: linking or loading libvelmora is enough.
// Started() tells whether the start-up has run (for tests and diagnostics).
#pragma once

namespace velmora::package {

// True from the end of the library's start-up to the start of its shut-down.
bool Started();

}  // namespace velmora::package
