#include <cpuid.h>

#include "velmora/net/netcode_internal.h"

namespace velmora::net::detail {

namespace {

struct CpuFeatures {
  bool clmul = false;
  bool sha = false;
};

CpuFeatures Probe() {
  CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  const bool ssse3 = c & (1u << 9);
  const bool sse41 = c & (1u << 19);
  const bool pclmul = c & (1u << 1);
  f.clmul = pclmul && sse41;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    f.sha = (b & (1u << 29)) && ssse3 && sse41;
  }
#endif
  return f;
}

const CpuFeatures& Features() {
  static const CpuFeatures features = Probe();
  return features;
}

}  // namespace

bool CpuHasClmul() {
  return Features().clmul;
}
bool CpuHasShaNi() {
  return Features().sha;
}

}  // namespace velmora::net::detail
