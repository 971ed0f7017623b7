// FormatFloat: numbers through a float pattern (see format.h for the pattern
// language).
#include <algorithm>
#include <vector>

#include "host/float_text.h"
#include "host/format.h"

namespace velmora::host {

using detail::Decimal;

namespace {

struct Token {
  enum Kind { Literal, Digit, Point, Exponent } kind;
  std::string text;          // Literal: the text; Digit: "0" or "#"
  bool always_sign = false;  // Exponent: "E+" rather than "E-"
  int exp_digits = 0;        // Exponent: minimum exponent digits
};

struct Section {
  std::vector<Token> tokens;
  bool thousands = false;
  int int_places = 0;  // digit placeholders before the point
  int int_min = 0;     // integer digits always shown
  int dec_places = 0;  // digit placeholders after the point
  int dec_min = 0;     // decimals always shown
  bool scientific = false;
};

// Splits at ';' outside quoted text.
std::vector<std::string_view> SplitSections(std::string_view pattern) {
  std::vector<std::string_view> out;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      out.push_back(pattern.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(pattern.substr(start));
  return out;
}

Section Parse(std::string_view p) {
  Section s;
  bool after_point = false;
  int first_int_zero = -1;
  int last_dec_zero = -1;
  auto literal = [&](std::string_view text) {
    if (!s.tokens.empty() && s.tokens.back().kind == Token::Literal) {
      s.tokens.back().text += text;
    } else {
      s.tokens.push_back({Token::Literal, std::string(text)});
    }
  };
  for (size_t i = 0; i < p.size(); ++i) {
    char c = p[i];
    if (c == '"' || c == '\'') {
      size_t end = p.find(c, i + 1);
      if (end == std::string_view::npos) end = p.size();
      literal(p.substr(i + 1, end - i - 1));
      i = end;
    } else if ((c == '0' || c == '#') && !s.scientific) {
      s.tokens.push_back({Token::Digit, std::string(1, c)});
      if (after_point) {
        if (c == '0') last_dec_zero = s.dec_places;
        ++s.dec_places;
      } else {
        if (c == '0' && first_int_zero < 0) first_int_zero = s.int_places;
        ++s.int_places;
      }
    } else if (c == '.' && !after_point && !s.scientific) {
      after_point = true;
      s.tokens.push_back({Token::Point, {}});
    } else if (c == ',' && !s.scientific) {
      s.thousands = true;
    } else if ((c == 'E' || c == 'e') && i + 1 < p.size() && (p[i + 1] == '+' || p[i + 1] == '-') &&
               !s.scientific) {
      Token t{Token::Exponent, std::string(1, c)};
      t.always_sign = p[i + 1] == '+';
      i += 2;
      while (i < p.size() && (p[i] == '0' || p[i] == '#')) {
        if (p[i] == '0') ++t.exp_digits;
        ++i;
      }
      --i;
      t.exp_digits = std::min(t.exp_digits, 4);
      s.tokens.push_back(t);
      s.scientific = true;
    } else {
      literal(std::string_view(&p[i], 1));
    }
  }
  s.int_min = first_int_zero < 0 ? 0 : s.int_places - first_int_zero;
  s.dec_min = last_dec_zero + 1;
  return s;
}

// The rounded value that the section shows, with its exponent when
// scientific.
Decimal RoundFor(const Section& s, Decimal d, int& exponent) {
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

std::string Render(const Section& s, const Decimal& m, int exponent, bool minus,
                   const TFormatSettings& settings) {
  std::string int_digits = detail::IntegerDigits(m);
  if (int_digits == "0") int_digits.clear();
  if (static_cast<int>(int_digits.size()) < s.int_min) {
    int_digits.insert(0, static_cast<size_t>(s.int_min) - int_digits.size(), '0');
  }
  std::string dec_digits = detail::FractionDigits(m, s.dec_places);
  while (static_cast<int>(dec_digits.size()) > s.dec_min && dec_digits.back() == '0') {
    dec_digits.pop_back();
  }

  const int total = static_cast<int>(int_digits.size());
  std::string out;
  bool sign_done = !minus;
  auto sign = [&]() {
    if (!sign_done) out += '-';
    sign_done = true;
  };
  // Emits integer digits [from, to) with their thousands separators.
  auto emit_int = [&](int from, int to) {
    for (int k = from; k < to; ++k) {
      sign();
      out += int_digits[static_cast<size_t>(k)];
      int left = total - 1 - k;
      if (s.thousands && left > 0 && left % 3 == 0) out += settings.ThousandSeparator;
    }
  };

  int int_seen = 0;
  int dec_seen = 0;
  bool int_done = s.int_places == 0 && total == 0;
  for (const Token& t : s.tokens) {
    switch (t.kind) {
      case Token::Literal:
        out += t.text;
        break;
      case Token::Digit:
        if (int_seen < s.int_places) {
          int index = total - s.int_places + int_seen;
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
          if (dec_seen < static_cast<int>(dec_digits.size())) {
            sign();
            out += dec_digits[static_cast<size_t>(dec_seen)];
          }
          ++dec_seen;
        }
        break;
      case Token::Point:
        if (!int_done) {
          emit_int(0, total);
          int_done = true;
        }
        if (!dec_digits.empty()) {
          sign();
          out += settings.DecimalSeparator;
        }
        break;
      case Token::Exponent: {
        if (!int_done) {
          emit_int(0, total);
          int_done = true;
        }
        out += t.text;
        if (exponent < 0) {
          out += '-';
        } else if (t.always_sign) {
          out += '+';
        }
        std::string e = std::to_string(exponent < 0 ? -exponent : exponent);
        if (static_cast<int>(e.size()) < t.exp_digits) {
          e.insert(0, static_cast<size_t>(t.exp_digits) - e.size(), '0');
        }
        out += e;
        break;
      }
    }
  }
  if (!int_done) emit_int(0, total);
  if (!sign_done) out = detail::Concat("-", out);
  return out;
}

std::string FormatDecimal(std::string_view pattern, Decimal d, const TFormatSettings& settings,
                          long double value) {
  if (d.nan || d.infinite) return detail::SpecialText(d);
  auto sections = SplitSections(pattern);
  if (sections[0].empty() && sections.size() == 1) {
    return FloatToStrF(value, TFloatFormat::ffGeneral, 15, 0, settings);
  }
  Section positive = Parse(sections[0]);
  const Section* chosen = &positive;
  Section negative, zero;
  bool minus = d.negative;
  if (d.negative && sections.size() > 1 && !sections[1].empty()) {
    negative = Parse(sections[1]);
    chosen = &negative;
    minus = false;  // the section carries its own sign text
  }
  int exponent = 0;
  Decimal m = RoundFor(*chosen, d, exponent);
  if (m.zero() && sections.size() > 2 && !sections[2].empty()) {
    zero = Parse(sections[2]);
    chosen = &zero;
    m = RoundFor(*chosen, d, exponent);
  }
  return Render(*chosen, m, exponent, minus && !m.zero(), settings);
}

}  // namespace

std::string FormatFloat(std::string_view pattern, long double value,
                        const TFormatSettings& settings) {
  return FormatDecimal(pattern, detail::ToDecimal(value, 18), settings, value);
}

std::string FormatFloat(std::string_view pattern, long double value) {
  return FormatFloat(pattern, value, FormatSettings);
}

std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& settings) {
  return FormatDecimal(pattern, detail::ToDecimal(value, 15), settings, value);
}

}  // namespace velmora::host
