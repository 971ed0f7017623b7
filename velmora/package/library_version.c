/* The version of libvelmora, readable by a host that loaded it at run time. */
const char velmora_library_version[] = "0.1.0";
