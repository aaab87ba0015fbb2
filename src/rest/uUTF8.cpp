#include "rest/uUTF8.h"

namespace tamrix::rest {

char32_t LerCodigoUTF8(std::string_view t, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(t[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  std::size_t n;
  char32_t cp;
  char32_t minimo;
  if ((b0 & 0xE0) == 0xC0) {
    n = 1, cp = b0 & 0x1F, minimo = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 2, cp = b0 & 0x0F, minimo = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 3, cp = b0 & 0x07, minimo = 0x10000;
  } else {
    ++pos;
    return kCaractereInvalido;
  }
  if (t.size() - pos <= n) {
    ++pos;
    return kCaractereInvalido;
  }
  for (std::size_t i = 1; i <= n; ++i) {
    const auto b = static_cast<unsigned char>(t[pos + i]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return kCaractereInvalido;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return kCaractereInvalido;
  }
  pos += n + 1;
  return cp;
}

void AcrescentarUTF8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kCaractereInvalido;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string UTF8Valido(std::string_view t) {
  std::string out;
  out.reserve(t.size());
  for (std::size_t pos = 0; pos < t.size();) {
    const std::size_t inicio = pos;
    const char32_t c = LerCodigoUTF8(t, pos);
    if (c == kCaractereInvalido && pos - inicio == 1)
      AcrescentarUTF8(out, c);
    else
      out.append(t.substr(inicio, pos - inicio));
  }
  return out;
}

std::size_t ContarUnidadesUTF16(std::string_view t) {
  std::size_t n = 0;
  for (std::size_t pos = 0; pos < t.size();) n += LerCodigoUTF8(t, pos) >= 0x10000 ? 2 : 1;
  return n;
}

}  // namespace tamrix::rest
