// The value types that cross the boundary of the tone component: the two
// enumerations of its properties and the series and statistics records that
// its events hand to the host.
//
// Events pass these records by const reference: no event copies a series.
// A handler that wants to keep one copies it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::tonvel {

// The FFT window of property FFT_window, in ordinal order.  Each value maps
// to a window code 1..5 (see WindowCode).
enum Twindow : uint8_t { dB_0, dB_54, dB_67, dB_72, dB_92 };

// The sample width of the sine generator (GenSinus_BitsPerSample).
enum Tbits : uint8_t { bits8, bits16 };

// The window code that selects the coefficients of a Twindow: dB_0 -> 5
// (rectangular), dB_54 -> 2, dB_67 -> 1, dB_72 -> 4, dB_92 -> 3.
constexpr uint16_t WindowCode(Twindow w) {
  switch (w) {
    case dB_0:
      return 5;
    case dB_54:
      return 2;
    case dB_67:
      return 1;
    case dB_72:
      return 4;
    case dB_92:
      return 3;
  }
  return 5;
}

// A spectrum: bin frequencies in Hz, bin values in dB and the key-decision
// summary line.
struct TXYSeries {
  std::vector<double> x;
  std::vector<double> y;
  std::string text;
};

// Samples (s = byte - 128) or spectrum levels.
struct TYSeries {
  std::vector<double> y;
};

// Random bits, one bit (0 or 1) per byte.
struct TBSeries {
  std::vector<uint8_t> bits;
};

// The seven statistics lines of a block of random bits (Windows-1251 text).
struct TStat {
  std::string sa;
  std::string dispers_sm;
  std::string disters_ne;
  std::string koef_asim;
  std::string pic;
  std::string crit_serial_correlation;
  std::string raspred;
};

}  // namespace velmora::tonvel
