// FormatFloat: numbers through a float pattern (see format.h for the pattern
// language).
//
// A pattern is read twice, by the same lexer and without building anything:
// once to learn the section's layout (digit places, decimals always shown,
// grouping, scientific notation), once to write the number into the caller's
// string as the tokens come.  So formatting allocates nothing while the
// string has room.
#include <algorithm>
#include <array>

#include "velmora/host/float_text.h"
#include "velmora/host/format.h"

namespace velmora::host {

using detail::Decimal;

namespace {

struct Token {
  enum Kind { Literal, Digit, Point, Thousands, Exponent } kind = Literal;
  std::string_view text;     // Literal: the text; Exponent: "E" or "e"
  char digit = 0;            // Digit: '0' or '#'
  bool always_sign = false;  // Exponent: "E+" rather than "E-"
  int exp_digits = 0;        // Exponent: minimum exponent digits
};

// The tokens of one section.  After the first point, another point is
// literal text; after an exponent, digits, points and commas are.
class Lexer {
 public:
  explicit Lexer(std::string_view section) : p_(section) {}

  bool Next(Token& t) {
    if (i_ >= p_.size()) return false;
    t = Token{};
    const char c = p_[i_];
    if (c == '"' || c == '\'') {
      size_t end = p_.find(c, i_ + 1);
      if (end == std::string_view::npos) end = p_.size();  // unclosed: to the end
      t.text = p_.substr(i_ + 1, end - i_ - 1);
      i_ = end + 1;
    } else if ((c == '0' || c == '#') && !scientific_) {
      t.kind = Token::Digit;
      t.digit = c;
      ++i_;
    } else if (c == '.' && !after_point_ && !scientific_) {
      t.kind = Token::Point;
      after_point_ = true;
      ++i_;
    } else if (c == ',' && !scientific_) {
      t.kind = Token::Thousands;
      ++i_;
    } else if ((c == 'E' || c == 'e') && i_ + 1 < p_.size() &&
               (p_[i_ + 1] == '+' || p_[i_ + 1] == '-') && !scientific_) {
      t.kind = Token::Exponent;
      t.text = p_.substr(i_, 1);
      t.always_sign = p_[i_ + 1] == '+';
      i_ += 2;
      while (i_ < p_.size() && (p_[i_] == '0' || p_[i_] == '#')) {
        if (p_[i_] == '0') ++t.exp_digits;
        ++i_;
      }
      t.exp_digits = std::min(t.exp_digits, 4);
      scientific_ = true;
    } else {
      t.text = p_.substr(i_, 1);
      ++i_;
    }
    return true;
  }

 private:
  std::string_view p_;
  size_t i_ = 0;
  bool after_point_ = false;
  bool scientific_ = false;
};

// What a section asks of the number.
struct Layout {
  bool thousands = false;
  int int_places = 0;  // digit placeholders before the point
  int int_min = 0;     // integer digits always shown
  int dec_places = 0;  // digit placeholders after the point
  int dec_min = 0;     // decimals always shown
  bool scientific = false;
};

Layout Measure(std::string_view section) {
  Layout s;
  bool after_point = false;
  int first_int_zero = -1;
  int last_dec_zero = -1;
  Lexer lexer(section);
  Token t;
  while (lexer.Next(t)) {
    switch (t.kind) {
      case Token::Digit:
        if (after_point) {
          if (t.digit == '0') last_dec_zero = s.dec_places;
          ++s.dec_places;
        } else {
          if (t.digit == '0' && first_int_zero < 0) first_int_zero = s.int_places;
          ++s.int_places;
        }
        break;
      case Token::Point:
        after_point = true;
        break;
      case Token::Thousands:
        s.thousands = true;
        break;
      case Token::Exponent:
        s.scientific = true;
        break;
      case Token::Literal:
        break;
    }
  }
  s.int_min = first_int_zero < 0 ? 0 : s.int_places - first_int_zero;
  s.dec_min = last_dec_zero + 1;
  return s;
}

// The sections for positive; negative; zero values, split at ';' outside
// quoted text.  Sections beyond the third are never used.
struct Sections {
  std::array<std::string_view, 3> text;
  size_t count = 0;
};

Sections Split(std::string_view pattern) {
  Sections out;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < pattern.size() && out.count < out.text.size(); ++i) {
    const char c = pattern[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      out.text[out.count++] = pattern.substr(start, i - start);
      start = i + 1;
    }
  }
  if (out.count < out.text.size()) out.text[out.count++] = pattern.substr(start);
  return out;
}

// The rounded value that the section shows, with its exponent when
// scientific.
Decimal RoundFor(const Layout& s, Decimal d, int& exponent) {
  exponent = 0;
  if (s.scientific) {
    detail::RoundToSignificant(d, std::max(1, s.int_places + s.dec_places));
    if (!d.zero()) {
      exponent = d.exponent - s.int_places;
      d.exponent = s.int_places;
    }
  } else {
    detail::RoundToDecimals(d, s.dec_places);
  }
  return d;
}

// Writes m through the section's tokens.  The minus sign goes before the
// first digit or decimal separator written, or in front of the whole text
// when the section shows none.
void Render(std::string& out, std::string_view section, const Layout& s, const Decimal& m,
            int exponent, bool minus, const TFormatSettings& settings) {
  const size_t start = out.size();
  // The integer digits: the value's own (none for a value below 1), padded
  // with zeros to the digits the pattern always shows.
  const int natural = m.zero() || m.exponent <= 0 ? 0 : m.exponent;
  const int total = std::max(natural, s.int_min);
  const int padding = total - natural;
  auto int_digit = [&](int k) { return k < padding ? '0' : m.digit(k - padding); };
  // The decimals: the pattern's places, trailing zeros dropped down to the
  // decimals always shown.
  int dec_count = s.dec_places;
  while (dec_count > s.dec_min && m.digit(m.exponent + dec_count - 1) == '0') --dec_count;

  bool sign_done = !minus;
  auto sign = [&]() {
    if (!sign_done) out += '-';
    sign_done = true;
  };
  // Emits integer digits [from, to) with their thousands separators.
  auto emit_int = [&](int from, int to) {
    for (int k = from; k < to; ++k) {
      sign();
      out += int_digit(k);
      const int left = total - 1 - k;
      if (s.thousands && left > 0 && left % 3 == 0) out += settings.ThousandSeparator;
    }
  };

  int int_seen = 0;
  int dec_seen = 0;
  bool int_done = s.int_places == 0 && total == 0;
  Lexer lexer(section);
  Token t;
  while (lexer.Next(t)) {
    switch (t.kind) {
      case Token::Literal:
        out.append(t.text);
        break;
      case Token::Thousands:
        break;
      case Token::Digit:
        if (int_seen < s.int_places) {
          // The first integer placeholder takes every digit beyond the
          // placeholders; the others one each.
          const int index = total - s.int_places + int_seen;
          if (int_seen == 0) {
            emit_int(0, std::max(index + 1, 0));
          } else if (index >= 0) {
            emit_int(index, index + 1);
          }
          ++int_seen;
          if (int_seen == s.int_places) int_done = true;
        } else {
          if (!int_done) {  // no integer placeholders: digits go before the decimals
            emit_int(0, total);
            int_done = true;
          }
          if (dec_seen < dec_count) {
            sign();
            out += m.digit(m.exponent + dec_seen);
          }
          ++dec_seen;
        }
        break;
      case Token::Point:
        if (!int_done) {
          emit_int(0, total);
          int_done = true;
        }
        if (dec_count > 0) {
          sign();
          out += settings.DecimalSeparator;
        }
        break;
      case Token::Exponent:
        if (!int_done) {
          emit_int(0, total);
          int_done = true;
        }
        out.append(t.text);
        detail::AppendExponent(out, exponent, t.always_sign, t.exp_digits);
        break;
    }
  }
  if (!int_done) emit_int(0, total);
  if (!sign_done) {
    const size_t end = out.size();
    out += '-';
    detail::MoveToFront(out, start, end);
  }
}

void AppendPattern(std::string& out, std::string_view pattern, const Decimal& d,
                   const TFormatSettings& settings, long double value) {
  if (d.nan || d.infinite) {
    detail::AppendSpecial(out, d);
    return;
  }
  if (pattern.empty()) {
    detail::AppendFloat(out, detail::ToDecimal(value, 18), TFloatFormat::ffGeneral, 15, 0,
                        settings);
    return;
  }
  const Sections sections = Split(pattern);
  std::string_view chosen = sections.text[0];
  bool minus = d.negative;
  if (d.negative && sections.count > 1 && !sections.text[1].empty()) {
    chosen = sections.text[1];
    minus = false;  // the section carries its own sign text
  }
  Layout layout = Measure(chosen);
  int exponent = 0;
  Decimal m = RoundFor(layout, d, exponent);
  if (m.zero() && sections.count > 2 && !sections.text[2].empty()) {
    chosen = sections.text[2];
    layout = Measure(chosen);
    m = RoundFor(layout, d, exponent);
  }
  Render(out, chosen, layout, m, exponent, minus && !m.zero(), settings);
}

}  // namespace

void FormatFloatTo(std::string& out, std::string_view pattern, long double value,
                   const TFormatSettings& settings) {
  AppendPattern(out, pattern, detail::ToDecimal(value, 18), settings, value);
}

void FormatFloatTo(std::string& out, std::string_view pattern, double value,
                   const TFormatSettings& settings) {
  AppendPattern(out, pattern, detail::ToDecimal(value, 15), settings, value);
}

void FormatFloatTo(std::string& out, std::string_view pattern, long double value) {
  FormatFloatTo(out, pattern, value, FormatSettings);
}

void FormatFloatTo(std::string& out, std::string_view pattern, double value) {
  FormatFloatTo(out, pattern, value, FormatSettings);
}

std::string FormatFloat(std::string_view pattern, long double value,
                        const TFormatSettings& settings) {
  std::string out;
  FormatFloatTo(out, pattern, value, settings);
  return out;
}

std::string FormatFloat(std::string_view pattern, long double value) {
  return FormatFloat(pattern, value, FormatSettings);
}

std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& settings) {
  std::string out;
  FormatFloatTo(out, pattern, value, settings);
  return out;
}

std::string FormatFloat(std::string_view pattern, double value) {
  return FormatFloat(pattern, value, FormatSettings);
}

}  // namespace velmora::host
