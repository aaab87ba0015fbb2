#include "rest/uUTF8.h"

#include <algorithm>

#include "util/uUTF16.h"

namespace tamrix::rest {

bool SoASCII(std::string_view t) {
  return std::all_of(t.begin(), t.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string UTF8Valido(std::string_view t) {
  if (SoASCII(t)) return std::string(t);
  std::string r;
  r.reserve(t.size());
  for (std::size_t pos = 0; pos < t.size();) {
    const std::size_t inicio = pos;
    const char32_t cp = util::LerCodigoUTF8(t, pos);
    if (cp == 0xFFFD && pos - inicio == 1)
      r += "\xEF\xBF\xBD";  // a byte that is not valid UTF-8
    else
      r.append(t.substr(inicio, pos - inicio));
  }
  return r;
}

std::size_t ContarUnidadesUTF16(std::string_view t) {
  std::size_t n = 0;
  for (std::size_t pos = 0; pos < t.size();) n += util::LerCodigoUTF8(t, pos) >= 0x10000 ? 2 : 1;
  return n;
}

std::string CortarCaracteres(std::string_view t, std::uint64_t inicio,
                             std::optional<std::uint64_t> quantidade) {
  // A character is its lead byte and the continuation bytes the lead announces.
  auto proximo = [&](std::size_t pos) {
    const auto lider = static_cast<unsigned char>(t[pos]);
    const std::size_t tamanho = lider >= 0xF0 ? 4 : lider >= 0xE0 ? 3 : lider >= 0xC0 ? 2 : 1;
    std::size_t fim = pos + 1;
    while (fim < t.size() && fim < pos + tamanho &&
           (static_cast<unsigned char>(t[fim]) & 0xC0) == 0x80)
      ++fim;
    return fim;
  };
  std::size_t pos = 0;
  for (std::uint64_t i = 0; i < inicio && pos < t.size(); ++i) pos = proximo(pos);
  std::size_t fim = pos;
  if (!quantidade) return std::string(t.substr(pos));
  for (std::uint64_t i = 0; i < *quantidade && fim < t.size(); ++i) fim = proximo(fim);
  return std::string(t.substr(pos, fim - pos));
}

}  // namespace tamrix::rest
