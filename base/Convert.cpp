#include "base/Convert.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale.h>
#include <stdlib.h>

namespace {
std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}
}  // namespace

bool TryStrToFloat(std::string_view text, double &value) {
  const std::string_view t = Trim(text);
  if (t.empty()) return false;
  const char *b = t.data(), *e = t.data() + t.size();
  if (*b == '+') ++b;  // from_chars takes no plus sign
  if (b == e || *b == '+') return false;
  auto r = std::from_chars(b, e, value, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Denormal underflow reads as 0; overflow is not a number we keep.
    if (t.find_first_of("eE") != std::string_view::npos) {
      // strtod follows the locale: with a decimal comma "1.5e-400" read as 1.
      static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
      double v = strtod_l(std::string(t).c_str(), nullptr, cLocale);
      if (std::isfinite(v)) {
        value = v;
        return r.ptr == e;
      }
    }
    return false;
  }
  return r.ec == std::errc() && r.ptr == e;
}

double StrToFloat(const std::string &text) {
  double v = 0;
  if (!TryStrToFloat(text, v)) throw EConvertError("'" + text + "' is not a valid floating point value");
  return v;
}

bool TryStrToInt(std::string_view text, int &value) {
  const std::string_view t = Trim(text);
  if (t.empty()) return false;
  bool neg = false;
  size_t i = 0;
  if (t[i] == '+' || t[i] == '-') {
    neg = t[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  long long v = 0;
  auto r = std::from_chars(t.data() + i, t.data() + t.size(), v, base);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
  if (neg) v = -v;
  if (base == 16 && !neg && v > std::numeric_limits<int>::max() && v <= 0xFFFFFFFFLL)
    v = static_cast<int32_t>(static_cast<uint32_t>(v));  // hex wraps like a 32-bit word
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return false;
  value = static_cast<int>(v);
  return true;
}

int StrToInt(const std::string &text) {
  int v = 0;
  if (!TryStrToInt(text, v)) throw EConvertError("'" + text + "' is not a valid integer value");
  return v;
}

std::string FloatToStrF(double value, int decimals) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[400];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) return "0";
  std::string s(buf, r.ptr);
  if (s[0] == '-') {  // "-0.00" reads oddly in a log; show it unsigned
    bool allZero = true;
    for (char c : s)
      if (c >= '1' && c <= '9') allZero = false;
    if (allZero) s.erase(0, 1);
  }
  return s;
}

std::string FloatToStrG(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);  // shortest round-trip
  std::string s(buf, r.ptr);
  // Prefer plain notation when it is not longer than needed.
  if (s.find('e') != std::string::npos && std::fabs(value) >= 1e-4 && std::fabs(value) < 1e15) {
    auto f = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    s.assign(buf, f.ptr);
  }
  for (char &c : s)
    if (c == 'e') c = 'E';
  return s;
}

std::string IntToStr(long long value) { return std::to_string(value); }

std::string CutText(const std::string &text, size_t chars) {
  size_t i = 0, n = 0;
  while (i < text.size() && n < chars) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    i = std::min(text.size(), i + len);
    ++n;
  }
  return text.substr(0, i);
}
