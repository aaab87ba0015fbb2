#include "util/uUTF16.h"

namespace tamrix::util {

namespace {

constexpr char32_t kSubstituto = 0xFFFD;

bool Continuacao(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

}  // namespace

char32_t LerCodigoUTF8(std::string_view s, std::size_t& pos) {
  const auto c0 = static_cast<unsigned char>(s[pos]);
  if (c0 < 0x80) {
    ++pos;
    return c0;
  }
  std::size_t n = 0;
  char32_t cp = 0;
  char32_t minimo = 0;
  if (c0 >= 0xC2 && c0 <= 0xDF) {
    n = 1, cp = c0 & 0x1F, minimo = 0x80;
  } else if (c0 >= 0xE0 && c0 <= 0xEF) {
    n = 2, cp = c0 & 0x0F, minimo = 0x800;
  } else if (c0 >= 0xF0 && c0 <= 0xF4) {
    n = 3, cp = c0 & 0x07, minimo = 0x10000;
  } else {
    ++pos;
    return kSubstituto;
  }
  if (pos + n >= s.size()) {
    ++pos;
    return kSubstituto;
  }
  for (std::size_t i = 1; i <= n; ++i) {
    const auto c = static_cast<unsigned char>(s[pos + i]);
    if (!Continuacao(c)) {
      ++pos;
      return kSubstituto;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < minimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return kSubstituto;
  }
  pos += n + 1;
  return cp;
}

namespace {

void AcrescentarUTF8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string ConverterParaUTF16(std::string_view texto) {
  std::u16string r;
  r.reserve(texto.size());
  std::size_t pos = 0;
  while (pos < texto.size()) {
    const char32_t cp = LerCodigoUTF8(texto, pos);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      r += static_cast<char16_t>(0xD800 + (v >> 10));
      r += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      r += static_cast<char16_t>(cp);
    }
  }
  return r;
}

std::string ConverterParaUTF8(std::u16string_view texto) {
  std::string r;
  r.reserve(texto.size());
  for (std::size_t i = 0; i < texto.size(); ++i) {
    const char16_t u = texto[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < texto.size() && texto[i + 1] >= 0xDC00 &&
        texto[i + 1] <= 0xDFFF) {
      AcrescentarUTF8(r, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (texto[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AcrescentarUTF8(r, kSubstituto);
    } else {
      AcrescentarUTF8(r, u);
    }
  }
  return r;
}

}  // namespace tamrix::util
