#include "integration/uMensagemIntegracao.h"

#include "diagnostics/uTraduzirErro.h"

namespace tamrix::integration {

std::string TextoMensagem(int piCodigo) {
  switch (piCodigo) {
    case 0:
      return {};
    case 1:
      return "Sucesso.";
    case 2:
      return "Token inválido.";
    case 3:
      return "CNPJ inválido.";
    case 4:
      return "Data de movimento inválida. A data deve estar no padrão YYYY-MM-DD.";
    case 5:
      return "Nome do arquivo não informado.";
    case 6:
      return "Arquivo não possui extensão em seu nome.";
    case 7:
      return "Arquivo %s já importado.";
    case 8:
      return "Objeto JSON que corresponde ao arquivo está inválido. Verifique o formato JSON que "
             "deve ser gerado.";
    case 9:
      return "Arquivo vazio.";
    case 10:
      return "Arquivo vazio ou não pertence ao CNPJ informado";
    case 11:
      return "Ocorreu algum problema ao tentar gravar o arquivo no banco de dados.";
    default:
      return "Mensagem indefinida.";
  }
}

void AdicionarMensagem(int piCodigo, boost::json::object* pjoMsg) {
  AdicionarMensagem(piCodigo, std::string(), pjoMsg);
}

void AdicionarMensagem(int piCodigo, const std::string& psTexto, boost::json::object* pjoMsg) {
  if (pjoMsg == nullptr) return;
  // A JSON object holds a name once: a second message replaces the first, at the end.
  pjoMsg->stable_erase(kChaveCodigo);
  pjoMsg->stable_erase(kChaveMensagem);
  pjoMsg->emplace(kChaveCodigo, static_cast<std::int64_t>(piCodigo));
  pjoMsg->emplace(kChaveMensagem, psTexto.empty() ? TextoMensagem(piCodigo) : psTexto);
}

void AdicionarMensagemFmt(int piCodigo, const std::vector<std::string>& pArgs,
                          boost::json::object* pjoMsg) {
  if (pjoMsg == nullptr) return;
  const std::string formato = TextoMensagem(piCodigo);
  std::string texto;
  std::size_t proximo = 0;
  for (std::size_t i = 0; i < formato.size(); ++i) {
    if (formato.compare(i, 2, "%s") == 0) {
      if (proximo < pArgs.size()) texto += pArgs[proximo];
      ++proximo;
      ++i;
    } else {
      texto += formato[i];
    }
  }
  AdicionarMensagem(piCodigo, texto, pjoMsg);
}

void AdicionarMensagemErro(const std::exception& e, boost::json::object* pjoMsg) {
  if (pjoMsg == nullptr) return;
  AdicionarMensagem(0, diagnostics::TraduzirErro(e), pjoMsg);
}

}  // namespace tamrix::integration
