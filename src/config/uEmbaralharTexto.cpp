#include "config/uEmbaralharTexto.h"

#include "util/uBase64.h"
#include "util/uUTF16.h"

namespace tamrix::config {

namespace {

constexpr char16_t kChave[] = u"QXW5813";
constexpr int kTamanhoChave = 7;

char16_t Unidade(int v) {
  return static_cast<char16_t>(((v % 65536) + 65536) % 65536);
}

}  // namespace

std::string EmbaralharTexto(std::string_view pspTexto, bool pbEmbaralhar) {
  if (pbEmbaralhar) {
    const std::u16string texto = util::ConverterParaUTF16(pspTexto);
    std::string bytes;
    bytes.reserve(texto.size());
    for (std::size_t i = 0; i < texto.size(); ++i) {
      int v = texto[i] + kChave[i % kTamanhoChave] - 64;
      if (v >= 32) ++v;  // the shifted text never holds a blank
      // One byte per unit: 0-255 are their own byte (so 128-159 survive as well); anything
      // larger has no byte and is stored as "?".
      const char16_t u = Unidade(v);
      bytes += u <= 255 ? static_cast<char>(u) : '?';
    }
    return util::CodificarBase64(bytes);
  }

  const std::string bytes = util::DecodificarBase64(pspTexto);
  std::u16string texto;
  texto.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    int v = static_cast<unsigned char>(bytes[i]) - kChave[i % kTamanhoChave] + 64;
    if (v > 32) --v;
    texto += Unidade(v);
  }
  return util::ConverterParaUTF8(texto);
}

}  // namespace tamrix::config
