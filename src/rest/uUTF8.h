// Walking and building UTF-8 text, for the places that count or write UTF-16 units.
#ifndef TAMRIX_REST_UUTF8_H
#define TAMRIX_REST_UUTF8_H

#include <cstddef>
#include <string>
#include <string_view>

namespace tamrix::rest {

inline constexpr char32_t kCaractereInvalido = 0xFFFD;

// Decodes the code point that starts at pos and moves pos past it. A byte that does not
// start a valid sequence (bad lead, truncated, overlong, surrogate, above U+10FFFF) yields
// kCaractereInvalido and moves pos by one byte. Requires pos < texto.size().
char32_t LerCodigoUTF8(std::string_view texto, std::size_t& pos);

// Appends the UTF-8 form of codigo; surrogates and values above U+10FFFF become U+FFFD.
void AcrescentarUTF8(std::string& out, char32_t codigo);

// texto with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string UTF8Valido(std::string_view texto);

// Number of UTF-16 units the text takes (invalid bytes count as one unit each).
std::size_t ContarUnidadesUTF16(std::string_view texto);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_UUTF8_H
