// UTF-8 <-> UTF-16, for the few places that count or shift 16-bit code units.
#ifndef TAMRIX_UTIL_UUTF16_H
#define TAMRIX_UTIL_UUTF16_H

#include <string>
#include <string_view>

namespace tamrix::util {

// The code point of the UTF-8 sequence at pos, moving pos past it; a byte that does not start
// a valid sequence (as below) gives U+FFFD and moves pos one byte. pos < texto.size().
char32_t LerCodigoUTF8(std::string_view texto, std::size_t& pos);

// The UTF-16 units of a UTF-8 text. A byte that does not start a valid sequence
// (bad lead, truncated, overlong, surrogate, above U+10FFFF) becomes U+FFFD.
std::u16string ConverterParaUTF16(std::string_view texto);

// The UTF-8 form of UTF-16 units. A surrogate without its partner becomes U+FFFD.
std::string ConverterParaUTF8(std::u16string_view texto);

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UUTF16_H
