#include "integration/uDecodificacaoArquivo.h"

#include <algorithm>
#include <boost/json/serialize.hpp>

#include "util/uBase64.h"

namespace tamrix::integration {

namespace {

// Builds the lines byte by byte into the list's buffer, each line ended by LF. The trim of
// the whole text is done on the fly: leading characters are skipped as they come, trailing
// ones are taken off at the end (Concluir), before TAB turns into "|" (a trailing TAB is
// trimmed, not turned).
class TMontadorLinhas {
 public:
  TMontadorLinhas(bool pbVendas, TLinhasArquivo& poLinhas, std::size_t piTamanhoMaximo)
      : FbVendas(pbVendas),
        FoLinhas(poLinhas),
        FsTexto(poLinhas.Liberar()),
        FiInicio(FsTexto.size()) {
    // Room for the worst case (every byte two in UTF-8) is only address space: pages the
    // text never reaches are never touched.
    FsTexto.reserve(FiInicio + piTamanhoMaximo);
  }

  void Byte(unsigned char b) {
    if (FbCortado) {
      // After a NUL: only whether something other than blanks follows matters (the trim
      // of the whole text then stops before the NUL or not).
      if (b > 32) FbTextoAposNul = true;
      return;
    }
    if (FbVendas && !FbIniciado) {
      if (b <= 32) return;
      FbIniciado = true;
    }
    if (b == 0) {
      FbCortado = true;
      return;
    }
    if (b == '\r' || b == '\n') {
      if (b == '\n' && FbAposCR) {
        FbAposCR = false;
        return;
      }
      FbAposCR = b == '\r';
      FsTexto += '\n';
      return;
    }
    FbAposCR = false;
    if (FbVendas && b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    if (b < 0x80) {
      FsTexto += static_cast<char>(b);
    } else {
      FsTexto += static_cast<char>(0xC0 | (b >> 6));
      FsTexto += static_cast<char>(0x80 | (b & 0x3F));
    }
  }

  void Concluir() {
    // Trailing trim: blanks, and the breaks of lines left with nothing, go (never into the
    // lines the list had before this file).
    if (FbVendas && !(FbCortado && FbTextoAposNul))
      while (FsTexto.size() > FiInicio && static_cast<unsigned char>(FsTexto.back()) <= 32)
        FsTexto.pop_back();
    // The line being built counts only when it has something.
    if (FsTexto.size() > FiInicio && FsTexto.back() != '\n') FsTexto += '\n';
    if (FbVendas)
      std::replace(FsTexto.begin() + static_cast<std::ptrdiff_t>(FiInicio), FsTexto.end(), '\t',
                   '|');
    FoLinhas = TLinhasArquivo(std::move(FsTexto));
  }

 private:
  const bool FbVendas;
  TLinhasArquivo& FoLinhas;
  std::string FsTexto;
  const std::size_t FiInicio;  // bytes of the lines the list had before this file
  bool FbIniciado = false;     // leading trim over
  bool FbAposCR = false;       // an LF now ends nothing (CR LF)
  bool FbCortado = false;      // a NUL ended the text
  bool FbTextoAposNul = false;
};

}  // namespace

std::string TextoValorJSON(const boost::json::value& pjvValor) {
  if (pjvValor.is_string()) return std::string(pjvValor.get_string());
  if (pjvValor.is_number() || pjvValor.is_bool()) return boost::json::serialize(pjvValor);
  return {};
}

void DecodificarArquivo(TTipoArquivo pTipoArquivo, std::string_view psBase64,
                        TLinhasArquivo& poLinhas) {
  TMontadorLinhas montador(pTipoArquivo == taVendas, poLinhas, psBase64.size() / 2 * 3 + 4);
  int grupo[4];
  int n = 0;
  for (char c : psBase64) {
    const int v = c == '=' ? -2 : util::ValorBase64(c);
    if (v == -1) continue;
    grupo[n++] = v;
    if (n < 4) continue;
    n = 0;
    // Characters before the first "=" carry the bytes: 4 give three, 3 two, 2 one.
    int dados = 0;
    while (dados < 4 && grupo[dados] >= 0) ++dados;
    const unsigned bits =
        (dados > 0 ? unsigned(grupo[0]) << 18 : 0u) | (dados > 1 ? unsigned(grupo[1]) << 12 : 0u) |
        (dados > 2 ? unsigned(grupo[2]) << 6 : 0u) | (dados > 3 ? unsigned(grupo[3]) : 0u);
    if (dados >= 2) montador.Byte(static_cast<unsigned char>(bits >> 16));
    if (dados >= 3) montador.Byte(static_cast<unsigned char>(bits >> 8));
    if (dados >= 4) montador.Byte(static_cast<unsigned char>(bits));
  }
  montador.Concluir();
}

}  // namespace tamrix::integration
