#include "endpoints/usmComum.h"

#include <algorithm>
#include <boost/json/serialize.hpp>
#include <chrono>

#include "endpoints/uArquivoUpload.h"
#include "util/uAparar.h"
#include "util/uBase64.h"
#include "util/uSistema.h"
#include "util/uUTF16.h"

namespace tamrix::endpoints {

namespace {

bool EhAlta(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool EhBaixa(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

// A member's value as text: a string as it stands, null as "", anything else as its JSON.
std::string TextoDoValor(const boost::json::value& v) {
  if (v.is_string()) return std::string(v.get_string());
  if (v.is_null()) return {};
  return boost::json::serialize(v);
}

// The lines of the text, each followed by CR LF; a break at the very end adds no line.
std::string LinhasComCRLF(std::string_view texto) {
  std::string r;
  r.reserve(texto.size() + texto.size() / 16 + 2);
  std::size_t inicio = 0;
  while (inicio < texto.size()) {
    std::size_t fim = texto.find_first_of("\r\n", inicio);
    if (fim == std::string_view::npos) fim = texto.size();
    r.append(texto.substr(inicio, fim - inicio));
    r += "\r\n";
    if (fim < texto.size() && texto[fim++] == '\r' && fim < texto.size() && texto[fim] == '\n')
      ++fim;
    inicio = fim;
  }
  return r;
}

// Each byte as the character of the same code (0-255), in UTF-8.
std::string BytesComoCaracteres(std::string_view bytes) {
  std::string r;
  r.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      r += c;
    } else {
      r += static_cast<char>(0xC0 | (b >> 6));
      r += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return r;
}

}  // namespace

std::string TsmComum::FormatarCampoValor(const std::string& pspTabela,
                                         const std::string& pspCampo) {
  if (util::EstaVazio(pspTabela) || util::EstaVazio(pspCampo)) return {};
  if (core::dmServidor == nullptr) return {};
  const auto formato = core::dmServidor->PegarFormatoCampo(pspTabela, pspCampo);
  if (!formato) return {};
  return "#,##0." + std::string(static_cast<std::size_t>(std::max(formato->Escala, 0)), '0');
}

std::string TsmComum::InverterString(const std::string& pspTexto) {
  std::u16string u = util::ConverterParaUTF16(pspTexto);
  std::reverse(u.begin(), u.end());
  // Reversed units would put each low surrogate before its high one: put them back.
  for (std::size_t i = 0; i + 1 < u.size(); ++i)
    if (EhBaixa(u[i]) && EhAlta(u[i + 1])) std::swap(u[i], u[i + 1]), ++i;
  return util::ConverterParaUTF8(u);
}

std::string TsmComum::UploadFile(const std::string&, const std::string&, const std::string&,
                                 const boost::json::value& pjoArquivo) {
  if (!pjoArquivo.is_object()) return {};
  std::string conteudo;
  for (const auto& membro : pjoArquivo.get_object())
    conteudo = LinhasComCRLF(util::DecodificarBase64(TextoDoValor(membro.value())));
  GravarArquivoUpload(util::PastaExecutavel(), std::chrono::system_clock::now(), conteudo);
  return "#Sucesso#" + BytesComoCaracteres(conteudo);
}

std::string TsmComum::updateUploadFile(const std::string& psCNPJ, const std::string& psData,
                                       const std::string& psTipo,
                                       const boost::json::value& pjoArquivo) {
  return UploadFile(psCNPJ, psData, psTipo, pjoArquivo);
}

rest::TRestServerClass TsmComum::Tabela() {
  return rest::TTabelaClasse<TsmComum>("TsmComum")
      .Metodo("FormatarCampoValor", &TsmComum::FormatarCampoValor, "pspTabela", "pspCampo")
      .Metodo("InverterString", &TsmComum::InverterString, "pspTexto")
      .Metodo("UploadFile", &TsmComum::UploadFile, "psCNPJ", "psData", "psTipo", "pjoArquivo")
      .Metodo("updateUploadFile", &TsmComum::updateUploadFile, "psCNPJ", "psData", "psTipo",
              "pjoArquivo");
}

}  // namespace tamrix::endpoints
