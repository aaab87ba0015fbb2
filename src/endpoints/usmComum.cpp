#include "endpoints/usmComum.h"

#include <algorithm>
#include <boost/json/serialize.hpp>
#include <chrono>
#include <iterator>
#include <string_view>
#include <utility>

#include "endpoints/uArquivoUpload.h"
#include "rest/uJSONWriter.h"
#include "rest/uRestEnvelope.h"
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

// Whether the text is already its lines each followed by CR LF (then it is kept as it is).
bool JaEmCRLF(std::string_view texto) {
  if (texto.empty()) return true;
  if (!texto.ends_with("\r\n")) return false;
  for (std::size_t i = texto.find_first_of("\r\n"); i != std::string_view::npos;
       i = texto.find_first_of("\r\n", i + 2))
    if (texto[i] != '\r' || i + 1 == texto.size() || texto[i + 1] != '\n') return false;
  return true;
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

rest::TTextoJSON TsmComum::UploadFile(const std::string&, const std::string&, const std::string&,
                                      boost::json::value pjoArquivo) {
  rest::TTextoJSON resposta;
  if (!pjoArquivo.is_object()) {
    resposta.JSON = "\"\"";
    return resposta;
  }
  // Only the last member counts. A string (the body's one copy) is decoded where it lies;
  // the file and the answer are then made from it, or from the CR LF form when that differs.
  auto& membros = pjoArquivo.get_object();
  std::string texto;
  std::string_view decodificado;
  if (!membros.empty()) {
    boost::json::value& valor = std::prev(membros.end())->value();
    if (auto* s = valor.if_string()) {
      s->resize(util::DecodificarBase64NoLugar(s->data(), s->size()));
      decodificado = *s;
    } else {
      texto = util::DecodificarBase64(TextoDoValor(valor));
      decodificado = texto;
    }
  }
  std::string_view conteudo = decodificado;
  if (!JaEmCRLF(decodificado)) {
    texto = LinhasComCRLF(decodificado);
    pjoArquivo = nullptr;  // the decoded text is no longer needed
    conteudo = texto;
  }
  GravarArquivoUpload(util::PastaExecutavel(), std::chrono::system_clock::now(), conteudo);
  // The answer is written once, in the form it is sent.
  constexpr std::string_view kSucesso = "\"#Sucesso#";
  resposta.JSON.reserve(kSucesso.size() + rest::TamanhoBytesJSON(conteudo) + 1 +
                        rest::kEspacoEnvelope);
  resposta.JSON += kSucesso;
  rest::EscreverBytesJSON(resposta.JSON, conteudo);
  resposta.JSON += '"';
  return resposta;
}

rest::TTextoJSON TsmComum::updateUploadFile(const std::string& psCNPJ, const std::string& psData,
                                            const std::string& psTipo,
                                            boost::json::value pjoArquivo) {
  return UploadFile(psCNPJ, psData, psTipo, std::move(pjoArquivo));
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
