#include "diagnostics/uTextoLog.h"

#include <algorithm>
#include <limits>

namespace tamrix::diagnostics {

namespace {

// Length of the well-formed UTF-8 character that starts at s[i] (2 to 4), or 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a surrogate, a
// code point past U+10FFFF or a sequence the text ends in the middle of).
std::size_t TamanhoUtf8(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = b(0);
  std::size_t n = 0;
  unsigned char min2 = 0x80, max2 = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) min2 = 0xA0;
    if (c == 0xED) max2 = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) min2 = 0x90;
    if (c == 0xF4) max2 = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size() || b(1) < min2 || b(1) > max2) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (b(k) < 0x80 || b(k) > 0xBF) return 0;
  return n;
}

// Appends the escape of one byte.
void Escapar(std::string& saida, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (c) {
    case '\r':
      saida += "\\r";
      return;
    case '\n':
      saida += "\\n";
      return;
    case '\t':
      saida += "\\t";
      return;
    default:
      saida += "\\x";
      saida += kHex[c >> 4];
      saida += kHex[c & 0x0F];
  }
}

// The code point of a valid UTF-8 character when it is one a reader could take for a line
// break, a control or a reversal of what follows (C1 controls, U+2028/U+2029, the bidi
// embeddings and isolates), else 0.
char32_t QuebraOuControle(std::string_view c) {
  const auto b = [&](std::size_t k) {
    return static_cast<char32_t>(static_cast<unsigned char>(c[k]));
  };
  char32_t cp = 0;
  if (c.size() == 2)
    cp = ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
  else if (c.size() == 3)
    cp = ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
  else
    return 0;
  const bool escapar = (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
                       (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
  return escapar ? cp : 0;
}

// Escapes texto into saida unit by unit (a plain byte, a whole character or an escape) until
// saida would pass limite; then cuts back to the last boundary that leaves room for the mark.
std::string Converter(std::string_view texto, std::size_t limite) {
  std::string saida;
  saida.reserve(std::min(texto.size(), limite) + 8);
  const std::size_t reserva = kMarcaCorte.size() <= limite ? limite - kMarcaCorte.size() : 0;
  std::size_t corte = 0;  // saida's size at the last boundary within reserva
  for (std::size_t i = 0; i < texto.size();) {
    const auto c = static_cast<unsigned char>(texto[i]);
    if (c >= 0x20 && c < 0x7F) {
      saida += static_cast<char>(c);
      ++i;
    } else if (const std::size_t n = c >= 0x80 ? TamanhoUtf8(texto, i) : 0; n > 0) {
      if (const char32_t cp = QuebraOuControle(texto.substr(i, n)); cp != 0) {
        saida += "\\u{";
        for (int d = 12; d >= 0; d -= 4) saida += "0123456789abcdef"[(cp >> d) & 0x0F];
        saida += '}';
      } else {
        saida.append(texto.substr(i, n));
      }
      i += n;
    } else {
      Escapar(saida, c);
      ++i;
    }
    if (saida.size() > limite) {
      saida.resize(corte);
      saida += kMarcaCorte.substr(0, limite - corte);
      return saida;
    }
    if (saida.size() <= reserva) corte = saida.size();
  }
  return saida;
}

}  // namespace

std::string EscaparControles(std::string_view texto) {
  return Converter(texto, std::numeric_limits<std::size_t>::max());
}

std::string TextoChamador(std::string_view texto, std::size_t limite) {
  return Converter(texto, limite);
}

}  // namespace tamrix::diagnostics
