// The library's own version, fixed when libvelmora is built.
#include "velmora/version.h"

namespace velmora {

VersionInfo Version() {
  return {VELMORA_VERSION_MAJOR, VELMORA_VERSION_MINOR, VELMORA_VERSION_PATCH,
          VELMORA_VERSION_TEXT};
}

}  // namespace velmora
