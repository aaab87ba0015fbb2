#include "diagnostics/uTraduzirErro.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "diagnostics/uExcecoes.h"
#include "util/uCaixaTexto.h"
#include "util/uUTF16.h"

namespace tamrix::diagnostics {

namespace {

const char* const kTextoHttp =
    "Problemas ao tentar conexão com servidor. Algum dos problemas abaixo pode ter "
    "ocorrido:\r\n\r\n1. Parâmetros do arquivo config.ini incorretos;\r\n2. Rede desconectada "
    "ou inoperante;\r\n3. Servidor está inoperante.";
const char* const kTextoDecimal = "Valor decimal inválido.";
const char* const kTextoForaFaixa = "Valor fora de faixa.";
const char* const kTextoServidorBD =
    "IP ou instância do servidor de banco de dados inválido ou inalcançável.";
const char* const kTextoLoginBD = "Usuário ou senha do banco de dados inválido.";
const char* const kEstadoTempoEsgotado = "HYT00";

// Positions are counted in UTF-16 units, as the range rule counts characters; the
// fragments are ASCII, so only the "no ' to '" case could tell bytes from characters.
std::string TextoFaixa(const std::string& minusculo) {
  const std::u16string m = util::ConverterParaUTF16(minusculo);
  const std::u16string faixa = u"the allowed range is ";
  const std::size_t p = m.find(faixa);  // 0-based here
  const std::size_t achadoAte = m.find(u" to ");
  const long t = achadoAte == std::u16string::npos ? 0 : static_cast<long>(achadoAte) + 1;
  const long p1 = static_cast<long>(p) + 1;
  const long conta = t - p1 - 21;
  std::u16string minimo;
  if (conta > 0) minimo = m.substr(static_cast<std::size_t>(p1 + 21 - 1), conta);
  const std::size_t iniMax = static_cast<std::size_t>(t + 4 - 1);
  const std::u16string maximo = iniMax < m.size() ? m.substr(iniMax) : std::u16string();
  return "Intervalo de faixa incorreta. Valor mínimo: " + util::ConverterParaUTF8(minimo) +
         "  Valor máximo: " + util::ConverterParaUTF8(maximo);
}

// Length of a chain of "[...]" tags starting at pos, and how many tags it holds.
std::size_t MedirCadeia(const std::string& s, std::size_t pos, int& tags) {
  std::size_t i = pos;
  tags = 0;
  while (i < s.size() && s[i] == '[') {
    std::size_t j = i + 1;
    while (j < s.size() && s[j] != '[' && s[j] != ']') ++j;
    if (j >= s.size() || s[j] != ']' || j == i + 1) break;
    ++tags;
    i = j + 1;
  }
  return i - pos;
}

}  // namespace

std::string TextoTempoConsulta(int segundos) {
  return "Tempo limite da consulta ao banco de dados excedido (" + std::to_string(segundos) +
         " s).";
}

std::string NomeClasseExcecao(const std::exception& e) {
  if (const auto* nosso = dynamic_cast<const Exception*>(&e)) return nosso->ClassName();
  const char* bruto = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> nome(abi::__cxa_demangle(bruto, nullptr, nullptr, &status),
                                              std::free);
  return status == 0 && nome ? std::string(nome.get()) : std::string(bruto);
}

std::string MensagemExcecao(const std::exception& e) {
  if (const auto* nosso = dynamic_cast<const Exception*>(&e)) return nosso->Message();
  const char* w = e.what();
  return w != nullptr ? w : "";
}

std::string RemoverPrefixoDriver(const std::string& texto) {
  for (std::size_t pos = texto.find('['); pos != std::string::npos;
       pos = texto.find('[', pos + 1)) {
    int tags = 0;
    const std::size_t n = MedirCadeia(texto, pos, tags);
    if (tags >= 2) return texto.substr(0, pos) + texto.substr(pos + n);
  }
  return texto;
}

std::string TraduzirErro(const std::exception& e) {
  try {
    const std::string mensagem = MensagemExcecao(e);
    std::string r =
        "Ocorreu um erro inesperado. Detalhes: " + mensagem + " (" + NomeClasseExcecao(e) + ").";

    if (dynamic_cast<const ENetHTTPClientException*>(&e) != nullptr) r = kTextoHttp;

    if (dynamic_cast<const EDatabaseError*>(&e) != nullptr) {
      const std::string m = util::MinusculasASCII(mensagem);
      if (m.find("the allowed range is ") != std::string::npos) {
        r = TextoFaixa(m);
      } else if (m.find("is not a valid floating point value for field") != std::string::npos) {
        r = kTextoDecimal;
      } else if (m.find("value out of bounds.") != std::string::npos) {
        r = kTextoForaFaixa;
      }
    }

    if (const auto* motor = dynamic_cast<const EDBEngineException*>(&e)) {
      if (motor->Kind() == ekServerGone) {
        r = kTextoServidorBD;
      } else if (motor->Kind() == ekUserPwdInvalid) {
        r = kTextoLoginBD;
      } else if (motor->SqlState() == kEstadoTempoEsgotado) {
        // Worded by the db layer, which alone knows the limit the statement had.
        r = mensagem;
      }
    }

    return RemoverPrefixoDriver(r);
  } catch (...) {
    // Only an allocation failure gets here; a fixed text still tells the user something.
    return "Ocorreu um erro inesperado.";
  }
}

}  // namespace tamrix::diagnostics
