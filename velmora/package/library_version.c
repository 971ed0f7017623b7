/* The version of libvelmora, readable by a host that loaded it at run time. */
#include "velmora/version.h"

const char velmora_library_version[] = VELMORA_VERSION_TEXT;
