// Unit netutil: the text, header, date and buffer helpers shared by the
// network units.  Include this header for all of them, or one of the parts:
//   netutil_text.h     splitting, searching, trimming, quoting, conversions
//   netutil_headers.h  URLs, header lines, parameters, e-mail addresses
//   netutil_time.h     millisecond tick, time zone, mail and web dates
//   netutil_files.h    dumps, stream transfers, temporary files
//   netutil_mime.h     scanning MIME message buffers
#pragma once

#include "velmora/net/netutil_files.h"
#include "velmora/net/netutil_headers.h"
#include "velmora/net/netutil_mime.h"
#include "velmora/net/netutil_text.h"
#include "velmora/net/netutil_time.h"
