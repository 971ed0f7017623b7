// Form streams: components saved to and read from their text form.
//
//   object DTMF1: TDTMF
//     DTMF_volume = 90
//     FFT_window = dB_92
//     About = 'Varkosh'
//   end
//
// Writing lists the published properties in declaration order and leaves
// out every property whose value equals its stream default; a property
// without a stream default is always written.  Strings are quoted with ''
// for a quote; bytes outside printable ASCII are written as #<code> outside
// the quotes ('a'#13#10'b'), so any byte string survives the round trip.
//
// Reading creates the class by name through the class registry, assigns the
// stored properties through their setters in the order written (after the
// constructor has run, so setters with side effects act then), sets the name
// and calls Loaded().  An object nested in another is created with the outer
// one as owner.  Any failure (syntax, unknown class, unknown property, bad
// value) raises an Exception naming the object, property or line, and frees
// whatever the read had created.
#pragma once

#include <string>
#include <string_view>

#include "velmora/host/classes.h"

namespace velmora::host {

class TStream;

std::string ComponentToText(const TComponent& component);
TComponent* ComponentFromText(std::string_view text, TComponent* owner);

// The text form written at / read from the stream's position (reading takes
// everything up to the end of the stream).
void WriteComponent(TStream& stream, const TComponent& component);
TComponent* ReadComponent(TStream& stream, TComponent* owner);

// A string in the form streams' quoted notation, and back (false when the
// text is not one).
std::string QuoteFormString(std::string_view bytes);
bool UnquoteFormString(std::string_view text, std::string& bytes);

}  // namespace velmora::host
