// UTF-8 checks the REST layer needs, over the conversions of util/uUTF16.h.
#ifndef TAMRIX_REST_UUTF8_H
#define TAMRIX_REST_UUTF8_H

#include <cstddef>
#include <string>
#include <string_view>

namespace tamrix::rest {

// Whether every byte is below 128 (such text needs no decoding).
bool SoASCII(std::string_view texto);

// texto with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string UTF8Valido(std::string_view texto);

// Number of UTF-16 units the text takes (invalid bytes count as one unit each).
std::size_t ContarUnidadesUTF16(std::string_view texto);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_UUTF8_H
