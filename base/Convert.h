#pragma once
// Number <-> text with "." as decimal separator whatever the locale.
// A text that is not a number raises EConvertError: the one exception path
// of the program, caught by the event dispatcher and shown in a message box.
#include <stdexcept>
#include <string>
#include <string_view>

class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Leading and trailing blanks are allowed; anything else that is not part of
// the number raises EConvertError ("'x' is not a valid floating point value").
double StrToFloat(const std::string &text);
// Decimal, or hex with a "$" / "0x" prefix; "'x' is not a valid integer value".
int StrToInt(const std::string &text);
// Non-throwing forms: false when the text is not a number.
bool TryStrToFloat(std::string_view text, double &value);
bool TryStrToInt(std::string_view text, int &value);

// Fixed-point text with `decimals` digits after ".", e.g. (1.5, 2) -> "1.50".
std::string FloatToStrF(double value, int decimals);
// Shortest general form that reads back to the same value ("0.1", "1E-5" style
// is avoided: plain digits where they fit, as the INI files store them).
std::string FloatToStrG(double value);
std::string IntToStr(long long value);

// At most `chars` UTF-8 characters of `text` (never a split character).
std::string CutText(const std::string &text, size_t chars);
