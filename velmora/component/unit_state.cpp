// The unit-level state of the tone component with its initial values, and
// the unit's start-up and shut-down.
//
// These objects are initialised before the package's start-up object runs
// and destroyed after its shut-down (the component library is linked ahead
// of the package library), so unit_tonvel::Finalize always finds them alive.

#include "velmora/component/unit_state.h"

#include <mutex>

#include "velmora/component/sine_generator.h"

namespace velmora::tonvel {

std::string fmp3dir;
host::TStringList* hex = nullptr;

platform::WAVEFORMATEX header{};
platform::WAVEHDR adr2{};
platform::HWAVEIN hwi2 = nullptr;
host::HWND fwnd = 0;
int32_t bufsize = 2048;
int32_t GLVAL = 0;
TYSeries inwav;

int32_t fcntpp = 2048;
uint16_t f_window = 5;
int32_t f_noise = 0;
TYSeries outwav;
TXYSeries spektr;
double a0 = 0, a1 = 0, a2 = 0, f0 = 0, f1 = 0, f2 = 0;
std::string signal;
double gl_noise = 0;

// Key characters:                      1     2     3     4     5     6     7     8
//                                      9     0     *     #     a     b     c     d
const std::array<int32_t, 16> DTMF1 = {697, 690, 690, 770, 770, 772, 852, 858,  // Hz
                                       862, 941, 941, 941, 697, 770, 852, 941};
const std::array<int32_t, 16> DTMF2 = {1209, 1336, 1467, 1209, 1336, 1467, 1209, 1336,  // Hz
                                       1477, 1336, 1209, 1477, 1633, 1633, 1633, 1633};

TBSeries tinrand;
double s_a = 0, s_b = 0, s_w = 0, s_c = 0, s_d = 0, s_p = 0, s_pred = 0, s_pred0 = 0;
TStat stat;

std::unique_ptr<host::TFileStream> StreamWAV;
std::array<uint8_t, 44> WaveHeader{};
int32_t n1 = 0;
std::string temp_gsa;
bool start = false;
bool start_mp3 = false;
int32_t gl_start = 0;

platform::HWAVEOUT waveOut = nullptr;
platform::WAVEHDR outHdr{};
platform::WAVEFORMATEX header2{};
std::vector<uint8_t> pBuf;
uint8_t* pBuffer = nullptr;
uint8_t Opened = 0;
int32_t gl_key = 0;
std::atomic<int32_t> iSignal_Freq{440};
std::atomic<int32_t> iSignal_Time{100};
std::atomic<int32_t> iSignal_Paus{0};
uint8_t f_bits = 16;

std::vector<double> dim;
int32_t quad = 0;
std::vector<long double> qcos;
std::vector<long double> qsin;
std::vector<long double> bpf;

namespace unit_tonvel {

namespace {

std::mutex g_unit_mutex;
int g_users = 0;

// Gives the memory back, not only the contents.
template <class T>
void Release(T& value) {
  T().swap(value);
}

}  // namespace

void Initialize() {
  std::lock_guard lock(g_unit_mutex);
  ++g_users;
}

void Finalize() {
  std::lock_guard lock(g_unit_mutex);
  if (g_users > 0 && --g_users > 0) return;
  // A host that exits, or leaks its component, while a tone plays: the
  // worker is stopped and joined here, before the thread object is
  // destroyed (destroying a running std::thread ends the process).
  sine::Stop();
  Release(inwav.y);
  Release(outwav.y);
  Release(tinrand.bits);
  Release(spektr.x);
  Release(spektr.y);
  Release(spektr.text);
  Release(temp_gsa);
  Release(fmp3dir);
  stat = TStat{};
  Release(signal);
}

}  // namespace unit_tonvel

}  // namespace velmora::tonvel
