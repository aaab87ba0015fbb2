#include "integration/usmIntegracaoArquivo.h"

#include "core/uConfigBD.h"
#include "core/uEventosServRest.h"
#include "core/uSessaoDados.h"
#include "diagnostics/uLogServidor.h"
#include "diagnostics/uMetricas.h"
#include "diagnostics/uTextoLog.h"
#include "diagnostics/uTraduzirErro.h"
#include "integration/uDecodificacaoArquivo.h"
#include "integration/uIntegracaoArquivo.h"
#include "integration/uMensagemIntegracao.h"

namespace tamrix::integration {

namespace {

// The log row could not be written: the answer stays what it was, the failure goes to the
// server log and the events table.
void RegistrarFalhaLog(const std::string& psToken, const std::string& psCNPJ,
                       const boost::json::object& pjoMsg, const std::exception& e) {
  std::string codigo;
  if (const auto* par = pjoMsg.if_contains(kChaveCodigo)) codigo = TextoValorJSON(*par);
  // Token and CNPJ are the client's texts, and the database's error may quote them: each cut.
  const std::string texto = "Não foi possível gravar o log de integração do arquivo (token " +
                            diagnostics::TextoChamador(psToken) + ", CNPJ " +
                            diagnostics::TextoChamador(psCNPJ) + ", código " + codigo +
                            "): " + diagnostics::TextoChamador(diagnostics::TraduzirErro(e));
  diagnostics::GravarLog(texto, diagnostics::tlErro);
  core::TEventosServRestSingleton::GetInstance().InserirEventoErro(texto);
}

}  // namespace

boost::json::object TsmIntegracaoArquivo::acceptEnviarArquivoVendas(
    const std::string& psToken, const std::string& psCNPJ, const std::string& psDt_Movimento,
    const std::string& psNomeArquivo, const boost::json::value& pjoArquivo) {
  return ProcessarArquivoVendas(psToken, psCNPJ, psDt_Movimento, psNomeArquivo, pjoArquivo);
}

boost::json::object TsmIntegracaoArquivo::ProcessarArquivoVendas(
    const std::string& psToken, const std::string& psCNPJ, const std::string& psDt_Movimento,
    const std::string& psNomeArquivo, const boost::json::value& pjoArquivo) {
  core::GravarToken(psToken);
  TIntegracaoArquivo oIntegracao;
  boost::json::object joMsg;
  bool bTokenValido = false;
  try {
    {
      core::TConfigBD oConfigBD;
      oConfigBD.SetConexaoBD(&DataModule().Conexao());
      bTokenValido = oConfigBD.ConsultarTokenExiste(psToken);
    }
    if (!bTokenValido) {
      AdicionarMensagem(2, &joMsg);
    } else {
      oIntegracao.SetConexaoBD(DataModule().PegarConexao(true));
      TLinhasArquivo linhas;
      if (CarregarArquivo(taVendas, psToken, psCNPJ, psDt_Movimento, psNomeArquivo, pjoArquivo,
                          linhas, joMsg)) {
        std::string msg;
        if (oIntegracao.GravarArquivo(taVendas, linhas, psCNPJ, psDt_Movimento, psNomeArquivo,
                                      msg)) {
          AdicionarMensagem(1, &joMsg);
          diagnostics::metricas::LinhasVendasGravadas(linhas.Quantidade());
        } else
          AdicionarMensagem(0, msg, &joMsg);
      }
    }
  } catch (const std::exception& e) {
    AdicionarMensagemErro(e, &joMsg);
  }
  db::TDBConnection* conexao = oIntegracao.ConexaoBD();
  if (bTokenValido && conexao != nullptr && conexao->Connected()) {
    try {
      oIntegracao.Log(psToken, psCNPJ, &joMsg);
    } catch (const std::exception& e) {
      RegistrarFalhaLog(psToken, psCNPJ, joMsg, e);
    }
  }
  if (const auto* codigo = joMsg.if_contains(kChaveCodigo); codigo != nullptr && codigo->is_int64())
    diagnostics::metricas::ArquivoVendasRespondido(codigo->as_int64());
  return joMsg;
}

bool TsmIntegracaoArquivo::CarregarArquivo(TTipoArquivo pTipoArquivo, const std::string& psToken,
                                           const std::string& psCNPJ,
                                           const std::string& psDt_Movimento,
                                           const std::string& psNomeArquivo,
                                           const boost::json::value& pjoArquivo,
                                           TLinhasArquivo& poLstArquivo,
                                           boost::json::object& pjoMsg) {
  {
    TIntegracaoArquivo oValidacao;
    oValidacao.SetConexaoBD(DataModule().PegarConexao(true));
    if (!oValidacao.TestarDadosIntegracao(psToken, psCNPJ, psDt_Movimento, psNomeArquivo,
                                          pjoArquivo, pjoMsg))
      return false;
  }
  // Validation guarantees an object with a first pair. A string value is decoded where it
  // lies; other values are decoded from their text form.
  const boost::json::value& valor = pjoArquivo.get_object().begin()->value();
  if (const auto* texto = valor.if_string())
    DecodificarArquivo(pTipoArquivo, *texto, poLstArquivo);
  else
    DecodificarArquivo(pTipoArquivo, TextoValorJSON(valor), poLstArquivo);
  if (poLstArquivo.Vazia()) {
    AdicionarMensagem(9, &pjoMsg);
    return false;
  }
  if (!TIntegracaoArquivo::TestarCnpjArquivo(pTipoArquivo, psCNPJ, &poLstArquivo)) {
    AdicionarMensagem(10, &pjoMsg);
    return false;
  }
  return true;
}

rest::TRestServerClass TsmIntegracaoArquivo::Tabela() {
  return rest::TTabelaClasse<TsmIntegracaoArquivo>("TsmIntegracaoArquivo")
      .Metodo("acceptEnviarArquivoVendas", &TsmIntegracaoArquivo::acceptEnviarArquivoVendas,
              "psToken", "psCNPJ", "psDt_Movimento", "psNomeArquivo", "pjoArquivo");
}

}  // namespace tamrix::integration
