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
  return util::ConverterParaUTF8(util::ConverterParaUTF16(t));
}

std::size_t ContarUnidadesUTF16(std::string_view t) {
  return SoASCII(t) ? t.size() : util::ConverterParaUTF16(t).size();
}

}  // namespace tamrix::rest
