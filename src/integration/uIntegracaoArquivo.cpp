#include "integration/uIntegracaoArquivo.h"

#include "config/uConfigServidor.h"
#include "core/uConfigBD.h"
#include "db/uDBBatchInsert.h"
#include "db/uDBConnection.h"
#include "db/uDBStoredProc.h"
#include "diagnostics/uTraduzirErro.h"
#include "endpoints/uSmBase.h"
#include "integration/uDecodificacaoArquivo.h"
#include "integration/uMensagemIntegracao.h"
#include "util/uAparar.h"
#include "util/uCnpj.h"
#include "util/uConversaoNumero.h"
#include "util/uUTF16.h"

namespace tamrix::integration {

namespace {

using endpoints::TextoSQL;

const std::string kSqlArquivoImportado = TextoSQL({
    "SELECT COUNT(*) ",
    "  FROM POS_Controle ",
    " WHERE arquivo = :arquivo",
    "   AND cnpj_empresa = :cnpj_empresa",
});

const std::string kSqlTabelaArquivo = TextoSQL({
    "SELECT cnpj_cpf,",
    "       dt_movimento,",
    "       tp_arquivo,",
    "       nr_ordem,",
    "       linha,",
    "       processado,",
    "       dt_arquivo,",
    "       arquivo,",
    "       arquivo_xml",
    "  FROM Pos_Arquivo",
    " WHERE 1 = 2",
});

const std::string kSqlInserirControle = TextoSQL({
    "INSERT ",
    "  INTO POS_Controle (",
    "       cnpj_empresa,",
    "       dt_execucao,",
    "       servico,",
    "       controle,",
    "       arquivo,",
    "       transfere,",
    "       enviado,",
    "       dt_movimento) ",
    "VALUES(:cnpj_empresa,",
    "       GETDATE(),",
    "       :servico,",
    "       :controle,",
    "       :arquivo,",
    "       :transfere,",
    "       :enviado,",
    "       :dt_movimento)",
});

const std::string kSqlInserirLog = TextoSQL({
    "INSERT",
    "  INTO LogIntegracaoArquivo (",
    "       dt_log,",
    "       token,",
    "       cnpj,",
    "       cd_mensagem,",
    "       ds_log)",
    "VALUES(GETDATE(),",
    "       :token,",
    "       :cnpj,",
    "       :cd_mensagem,",
    "       :ds_log)",
});

// Units from..from+n-1 (0-based) of the text as an integer; 0 when missing or not one.
int PedacoInteiro(const std::u16string& texto, std::size_t de, std::size_t n) {
  if (de >= texto.size()) return 0;
  return util::TextoParaInteiro(util::ConverterParaUTF8(texto.substr(de, n)));
}

bool DataValida(int ano, int mes, int dia) {
  if (ano < 1 || ano > 9999 || mes < 1 || mes > 12 || dia < 1) return false;
  static const int kDias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool bissexto = (ano % 4 == 0 && ano % 100 != 0) || ano % 400 == 0;
  return dia <= kDias[mes - 1] + (mes == 2 && bissexto ? 1 : 0);
}

// Year, month and day of the trimmed text (1-4, 6-7, 9-10); false when not a date.
bool LerDataMovimento(const std::string& psDt_Movimento, db::TDBTimeStamp& data) {
  const std::u16string t = util::ConverterParaUTF16(util::ApararVisao(psDt_Movimento));
  if (t.empty()) return false;
  const int ano = PedacoInteiro(t, 0, 4), mes = PedacoInteiro(t, 5, 2),
            dia = PedacoInteiro(t, 8, 2);
  if (!DataValida(ano, mes, dia)) return false;
  data = db::TDBTimeStamp{ano, mes, dia};
  return true;
}

// Rolls back what is open; a connection already gone has nothing left to undo.
void VoltarSeAberta(db::TDBConnection& c) noexcept {
  try {
    if (c.InTransaction()) c.Rollback();
  } catch (...) {
  }
}

}  // namespace

bool TIntegracaoArquivo::TestarDadosIntegracao(const std::string& psToken,
                                               const std::string& psCNPJ,
                                               const std::string& psDt_Movimento,
                                               const std::string& psNomeArquivo,
                                               const boost::json::value& pjoArquivo,
                                               boost::json::object& pjoMsg) {
  auto falha = [&](int codigo) {
    AdicionarMensagem(codigo, &pjoMsg);
    return false;
  };
  if (!core::TConfigBDSingleton::GetInstance().ConsultarTokenExiste(psToken)) return falha(2);
  if (!util::ValidarCnpj(psCNPJ)) return falha(3);
  if (!TestarDataMovimento(psDt_Movimento)) return falha(4);
  const std::string nome = util::Aparar(psNomeArquivo);
  if (nome.empty()) return falha(5);
  const auto separador = nome.find_last_of(".\\:");
  if (separador == std::string::npos || nome[separador] != '.') return falha(6);
  if (ArquivoJaImportado(psCNPJ, psNomeArquivo)) {
    AdicionarMensagemFmt(7, {psNomeArquivo}, &pjoMsg);
    return false;
  }
  bool objetoValido = false;
  try {
    const boost::json::object* o = pjoArquivo.if_object();
    objetoValido = o != nullptr && !o->empty() && !util::EstaVazio(o->begin()->key());
  } catch (...) {
    objetoValido = false;
  }
  if (!objetoValido) return falha(8);
  return true;
}

bool TIntegracaoArquivo::TestarCnpjArquivo(TTipoArquivo pTipoArquivo, const std::string& psCNPJ,
                                           const TLinhasArquivo* poLstArquivo) {
  if (poLstArquivo == nullptr || pTipoArquivo != taVendas || psCNPJ.empty()) return false;
  // Without a break in it, a match lies inside one line: the buffer, whose lines are
  // parted by LF, is searched as it is.
  if (psCNPJ.find_first_of("\r\n") == std::string::npos)
    return poLstArquivo->Texto().find(psCNPJ) != std::string::npos;
  std::string texto;
  for (std::string_view linha : *poLstArquivo) texto.append(linha).append("\r\n");
  return texto.find(psCNPJ) != std::string::npos;
}

bool TIntegracaoArquivo::TestarDataMovimento(const std::string& psDt_Movimento) {
  db::TDBTimeStamp data;
  return LerDataMovimento(psDt_Movimento, data);
}

db::TDBTimeStamp TIntegracaoArquivo::DataMovimento(const std::string& psDt_Movimento) {
  db::TDBTimeStamp data;
  if (!LerDataMovimento(psDt_Movimento, data)) return db::TDBTimeStamp{};
  return data;
}

bool TIntegracaoArquivo::ArquivoJaImportado(const std::string& psCNPJ,
                                            const std::string& psNomeArquivo) {
  db::TDBQuery& qy = PegarQuery();
  qy.Close();
  qy.SetSQL(kSqlArquivoImportado);
  qy.ParamByName("arquivo").SetAsString(psNomeArquivo);
  qy.ParamByName("cnpj_empresa").SetAsString(psCNPJ);
  qy.Open();
  const bool importado = qy.Fields(0).AsLargeInt() > 0;
  qy.Close();
  return importado;
}

std::string TIntegracaoArquivo::SiglaTipoArquivo(TTipoArquivo pTipoArquivo) {
  return pTipoArquivo == taVendas ? "V" : "";
}

bool TIntegracaoArquivo::GravarArquivo(TTipoArquivo pTipoArquivo,
                                       const TLinhasArquivo& poLstArquivo,
                                       const std::string& psCNPJ, const std::string& psDt_Movimento,
                                       const std::string& psNomeArquivo, std::string& psMsg) {
  psMsg.clear();
  const std::string sigla = SiglaTipoArquivo(pTipoArquivo);
  const db::TDBTimeStamp dtArquivo = db::TDBTimeStamp::Now();
  db::TDBTimeStamp dtMovimento;
  const bool dataValida = LerDataMovimento(psDt_Movimento, dtMovimento);

  db::TDBQuery qy;
  qy.SetCachedUpdates(true);
  qy.SetConnection(ConexaoBD());
  if (pTipoArquivo != taVendas) return false;
  // Validation comes first in the endpoint; a caller that skipped it must not store rows
  // dated day zero, nor register a file without lines.
  if (!dataValida) {
    psMsg = TextoMensagem(4);
    return false;
  }
  bool temLinha = false;
  for (std::string_view linha : poLstArquivo)
    if (!util::EstaVazio(linha)) {
      temLinha = true;
      break;
    }
  if (!temLinha) {
    psMsg = TextoMensagem(9);
    return false;
  }

  PrepararTabelaArquivo(qy);
  if (FbLinhasEmArrays && db::TDBArrayInsert::Supported(ConexaoBD()->Profile().Engine())) {
    // Every column but the order and the text is the same on all rows: the lines go as
    // arrays, thousands to a statement, bound with the types the table describes.
    std::vector<db::TDBArrayInsert::TFixedColumn> fixas;
    for (const auto& [nome, valor] : std::initializer_list<std::pair<const char*, db::TDBValue>>{
             {"cnpj_cpf", psCNPJ},
             {"dt_movimento", dtMovimento},
             {"tp_arquivo", sigla},
             {"processado", std::string("N")},
             {"dt_arquivo", dtArquivo},
             {"arquivo", psNomeArquivo}}) {
      const int campo = qy.FieldByName(nome).Index();
      fixas.push_back({qy.Columns()[static_cast<std::size_t>(campo)], valor});
    }
    qy.Close();
    db::TDBArrayInsert lote(*ConexaoBD(), "Pos_Arquivo", std::move(fixas), "nr_ordem", "linha",
                            FiLinhasPorEnvio);
    return AplicarArquivo(
        pTipoArquivo,
        [&] {
          try {
            for (auto i = poLstArquivo.begin(); i != poLstArquivo.end(); ++i) {
              const std::string_view visao = *i;
              if (util::EstaVazio(visao)) continue;
              lote.Add(static_cast<std::int64_t>(i.Indice() + 1),
                       {visao.front() == '|' ? "" : "|", visao, visao.back() == '|' ? "" : "|"});
            }
            lote.Flush();
            return true;
          } catch (const diagnostics::EDatabaseError& e) {
            // As a cached row refused: the text of the row's own error.
            SetUpdateError(diagnostics::TraduzirErro(e));
            return false;
          }
        },
        psCNPJ, dtMovimento, psNomeArquivo, psMsg);
  }
  TLinhasArquivo::TIterador proxima = poLstArquivo.begin();
  PreencherLinhas(qy, poLstArquivo, proxima, sigla, psCNPJ, dtMovimento, dtArquivo, psNomeArquivo);
  return AplicarArquivo(
      pTipoArquivo,
      [&] {
        // Rows go in list order, a block at a time, so a large file is never held as rows
        // whole; the transaction spans every block.
        bool ok = qy.ApplyUpdates(0) == 0;
        while (ok && proxima != poLstArquivo.end()) {
          PrepararTabelaArquivo(qy);
          PreencherLinhas(qy, poLstArquivo, proxima, sigla, psCNPJ, dtMovimento, dtArquivo,
                          psNomeArquivo);
          ok = qy.ApplyUpdates(0) == 0;
        }
        qy.Close();
        return ok;
      },
      psCNPJ, dtMovimento, psNomeArquivo, psMsg);
}

void TIntegracaoArquivo::PrepararTabelaArquivo(db::TDBQuery& poQuery) {
  poQuery.Close();
  poQuery.SetOnUpdateError(UpdateErrorHandler());
  poQuery.SetSQL(kSqlTabelaArquivo);
  poQuery.Open();
}

void TIntegracaoArquivo::PreencherLinhas(db::TDBQuery& poQuery, const TLinhasArquivo& poLstArquivo,
                                         TLinhasArquivo::TIterador& piProxima,
                                         const std::string& psSigla, const std::string& psCNPJ,
                                         const db::TDBTimeStamp& pdDt_Movimento,
                                         const db::TDBTimeStamp& pdDt_Arquivo,
                                         const std::string& psNomeArquivo) {
  db::TDBField& cnpj = poQuery.FieldByName("cnpj_cpf");
  db::TDBField& dtMovimento = poQuery.FieldByName("dt_movimento");
  db::TDBField& tpArquivo = poQuery.FieldByName("tp_arquivo");
  db::TDBField& nrOrdem = poQuery.FieldByName("nr_ordem");
  db::TDBField& linha = poQuery.FieldByName("linha");
  db::TDBField& processado = poQuery.FieldByName("processado");
  db::TDBField& dtArquivo = poQuery.FieldByName("dt_arquivo");
  db::TDBField& arquivo = poQuery.FieldByName("arquivo");
  std::size_t linhas = 0;
  for (; piProxima != poLstArquivo.end() && linhas < FiLinhasPorEnvio; ++piProxima) {
    const std::string_view visao = *piProxima;
    if (util::EstaVazio(visao)) continue;
    std::string texto;
    texto.reserve(visao.size() + 2);
    if (visao.front() != '|') texto += '|';
    texto += visao;
    if (visao.back() != '|') texto += '|';
    poQuery.Append();
    cnpj.SetAsString(psCNPJ);
    dtMovimento.SetAsDateTime(pdDt_Movimento);
    tpArquivo.SetAsString(psSigla);
    nrOrdem.SetAsInteger(static_cast<std::int32_t>(piProxima.Indice() + 1));
    linha.SetAsString(std::move(texto));
    processado.SetAsString("N");
    dtArquivo.SetAsDateTime(pdDt_Arquivo);
    arquivo.SetAsString(psNomeArquivo);
    poQuery.Post();
    ++linhas;
  }
}

bool TIntegracaoArquivo::AplicarArquivo(TTipoArquivo pTipoArquivo,
                                        const std::function<bool()>& pEnviarLinhas,
                                        const std::string& psCNPJ,
                                        const db::TDBTimeStamp& pdDt_Movimento,
                                        const std::string& psNomeArquivo, std::string& psMsg) {
  psMsg.clear();
  SetUpdateError({});
  db::TDBConnection* conexao = ConexaoBD();
  try {
    if (conexao == nullptr)
      throw diagnostics::EDatabaseError(
          "Não há conexão com o banco de dados para gravar o arquivo.");
    if (!conexao->InTransaction()) conexao->StartTransaction();
    bool ok = pEnviarLinhas();
    if (ok) ok = ImportarArquivo(psCNPJ, pTipoArquivo, pdDt_Movimento, psNomeArquivo);
    if (ok) ok = InserirControle(psCNPJ, pTipoArquivo, true, psNomeArquivo, pdDt_Movimento, psMsg);
    if (ok) {
      // Raises when no transaction is left to commit: that is no success either.
      conexao->Commit();
      return true;
    }
    if (util::EstaVazio(psMsg)) psMsg = UpdateError();
    if (conexao->InTransaction()) conexao->Rollback();
    return false;
  } catch (const std::exception& e) {
    psMsg = diagnostics::TraduzirErro(e);
    if (conexao != nullptr) VoltarSeAberta(*conexao);
    return false;
  }
}

bool TIntegracaoArquivo::ImportarArquivo(const std::string& psCNPJ, TTipoArquivo pTipoArquivo,
                                         const db::TDBTimeStamp& pdDt_Movimento,
                                         const std::string& psNomeArquivo) {
  db::TDBStoredProc proc(ConexaoBD());
  proc.SetStoredProcName("POS_spcImportaArquivo");
  // A day's sales take the procedure far longer than any other statement.
  proc.SetTimeout(config::TConfigServidorSingleton::GetInstance().TempoImportacao());
  proc.Prepare();
  proc.ParamByName("@cnpj_cpf").SetAsString(psCNPJ);
  proc.ParamByName("@dt_movimento").SetAsDateTime(pdDt_Movimento);
  proc.ParamByName("@tp_arquivo").SetAsString(SiglaTipoArquivo(pTipoArquivo));
  proc.ParamByName("@arquivo").SetAsString(psNomeArquivo);
  proc.ExecProc();
  return true;
}

bool TIntegracaoArquivo::InserirControle(const std::string& psCNPJ, TTipoArquivo pTipoArquivo,
                                         bool pbControle, const std::string& psNomeArquivo,
                                         const db::TDBTimeStamp& pdDt_Movimento,
                                         std::string& psMsg) {
  try {
    db::TDBQuery& qy = PegarQuery();
    qy.Close();
    qy.SetSQL(kSqlInserirControle);
    qy.ParamByName("cnpj_empresa").SetAsString(psCNPJ);
    qy.ParamByName("servico").SetAsString(SiglaTipoArquivo(pTipoArquivo));
    qy.ParamByName("controle").SetAsSmallInt(pbControle ? 1 : 0);
    qy.ParamByName("arquivo").SetAsString(psNomeArquivo);
    qy.ParamByName("transfere").SetAsString("N");
    qy.ParamByName("enviado").SetAsSmallInt(0);
    qy.ParamByName("dt_movimento").SetAsDateTime(pdDt_Movimento);
    qy.ExecSQL();
    return true;
  } catch (const std::exception& e) {
    psMsg = diagnostics::TraduzirErro(e);
    return false;
  }
}

void TIntegracaoArquivo::Log(const std::string& psToken, const std::string& psCNPJ,
                             const boost::json::object* pjoLog) {
  if (pjoLog == nullptr) return;
  // The code is the first pair, the text the second; a pair that is missing reads as empty.
  auto par = pjoLog->begin();
  std::string codigo, texto;
  if (par != pjoLog->end()) codigo = TextoValorJSON((par++)->value());
  if (par != pjoLog->end()) texto = TextoValorJSON(par->value());
  Log(psToken, psCNPJ, util::TextoParaInteiro(codigo), texto);
}

void TIntegracaoArquivo::Log(const std::string& psToken, const std::string& psCNPJ,
                             int piCd_Mensagem, const std::string& psLog) {
  InserirLog(psToken, psCNPJ, piCd_Mensagem, psLog);
}

void TIntegracaoArquivo::InserirLog(const std::string& psToken, const std::string& psCNPJ,
                                    int piCd_Mensagem, const std::string& psLog) {
  db::TDBQuery& qy = PegarQuery();
  qy.Close();
  qy.SetSQL(kSqlInserirLog);
  qy.ParamByName("token").SetAsString(psToken);
  qy.ParamByName("cnpj").SetAsString(psCNPJ);
  qy.ParamByName("cd_mensagem").SetAsSmallInt(piCd_Mensagem);
  qy.ParamByName("ds_log").SetAsString(psLog);
  qy.ExecSQL();
}

}  // namespace tamrix::integration
