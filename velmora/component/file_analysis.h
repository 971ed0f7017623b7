// Offline analysis: what writing a file name to LoadWavMp3Sharc_path does
// while live processing is off.  The file's kind comes from its extension,
// in any case: ".wav" is read directly, ".mp3" is first decoded by the LAME
// program (plugins/lame beside the executable, else lame on the PATH: see
// host::FindExternalProgram), anything else is a hexadecimal
// sample list (hex_list.h).
//
// WAV and MP3 files go through the same spectrum and key decision as a live
// buffer: an 8-bit file gives one sample per byte (s = byte - 128, as the
// capture does), otherwise the second byte of every byte pair of the data
// chunk becomes a sample (the high byte of 16-bit sound; stereo channels
// interleaved), the spectrum
// is taken of the first N samples, and the bin spacing follows the file's
// rate and channel count.  Afterwards GetTone and, when a key is known, Key
// are raised, also when a WAV or MP3 analysis failed: such a failure is
// silent (the events then repeat the previous results) and LastFailure()
// says why.  A hexadecimal list that cannot be analysed raises EHexListError
// to the writer of the property instead, without events.
#pragma once

#include <cstdint>
#include <string>

#include "velmora/component/tonvel.h"

namespace velmora::tonvel::file_analysis {

// How long the MP3 decoder may take before it is stopped and the analysis
// fails.
constexpr uint32_t kDecoderTimeoutMs = 30000;

// Steps 3 to 7 of the setter of LoadWavMp3Sharc_path: empties inwav,
// outwav and the spectrum series, analyses the file, raises the events.
// The setter has already refused an empty path and live processing, and
// clears the path when this returns.
void LoadFile(TDTMF& owner, const std::string& path);

// The WAV/MP3 analysis alone.  Returns "" on success, else the reason (the
// results then keep their previous values, inwav.y aside).
std::string AnalyseWavMp3(TDTMF& owner, const std::string& path);

// Why the latest WAV or MP3 analysis ended without a spectrum; "" after a
// success (and after a hexadecimal list).
const std::string& LastFailure();

// The directory the MP3 decoder works in, with its trailing delimiter: the
// executable's when a "plugins/" folder is beside it, else a folder of this
// process's own in the system's temporary folder (TMPDIR), made with an
// empty "plugins/" on first use and removed with its content when the
// process ends.  The MP3 must lie in its "plugins/" folder.
std::string DecoderDirectory();
// Where the decoder leaves the sound of `mp3_path`:
//   DecoderDirectory() + "plugins/" + file name of mp3_path + ".wav"
std::string DecodedPath(const std::string& mp3_path);

// Decodes plugins/<file name of mp3_path> beside the executable into
// DecodedPath(mp3_path) with lame, waiting up to `timeout_ms` for it
// to end (then it is killed).  Returns "" on success, else the reason.
std::string DecodeMp3(const std::string& mp3_path, uint32_t timeout_ms = kDecoderTimeoutMs);

}  // namespace velmora::tonvel::file_analysis
