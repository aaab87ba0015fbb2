// UTF-8 checks the REST layer needs, over the conversions of util/uUTF16.h.
#ifndef TAMRIX_REST_UUTF8_H
#define TAMRIX_REST_UUTF8_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamrix::rest {

// Whether every byte is below 128 (such text needs no decoding).
bool SoASCII(std::string_view texto);

// texto with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string UTF8Valido(std::string_view texto);

// Number of UTF-16 units the text takes (invalid bytes count as one unit each).
std::size_t ContarUnidadesUTF16(std::string_view texto);

// The characters (code points) of texto from the inicio-th on, at most quantidade of them
// (all when absent). A byte that is not valid UTF-8 counts as one character.
std::string CortarCaracteres(std::string_view texto, std::uint64_t inicio,
                             std::optional<std::uint64_t> quantidade);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_UUTF8_H
