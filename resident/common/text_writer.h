#pragma once
// Appends to a fixed buffer of UTF-16 text and keeps it terminated; text that does
// not fit is cut. Numbers are formatted here because the C runtimes of the builds
// disagree on wide printf conversions. Platform-free.
#include <cstdint>

class TextWriter {
 public:
  template <unsigned N>
  explicit TextWriter(wchar_t (&buffer)[N]) : out_(buffer), capacity_(N) { out_[0] = L'\0'; }

  void Append(wchar_t c) {
    if (length_ + 1 >= capacity_) return;
    out_[length_++] = c;
    out_[length_] = L'\0';
  }

  void Append(const wchar_t* text) {
    for (; *text != L'\0'; ++text) Append(*text);
  }

  void Append(const wchar_t* text, unsigned count) {
    for (unsigned i = 0; i < count; ++i) Append(text[i]);
  }

  // Decimal, padded with zeros to at least minDigits (printf's "%0Nd").
  void AppendNumber(std::uint32_t value, unsigned minDigits = 1) {
    wchar_t digits[10];
    unsigned count = 0;
    do {
      digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (; minDigits > count; --minDigits) Append(L'0');
    while (count > 0) Append(digits[--count]);
  }

  // Upper-case hexadecimal, exactly `digits` places (printf's "%0NX" for values that fit).
  void AppendHex(std::uint32_t value, unsigned digits) {
    for (unsigned place = digits; place > 0; --place) {
      unsigned digit = (value >> (4 * (place - 1))) & 0xF;
      Append(static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'A' + digit - 10));
    }
  }

 private:
  wchar_t* out_;
  unsigned capacity_;
  unsigned length_ = 0;
};
