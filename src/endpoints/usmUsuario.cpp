#include "endpoints/usmUsuario.h"

#include "core/uBloqueioLogin.h"
#include "core/uConfigBD.h"
#include "core/uSessaoDados.h"
#include "diagnostics/uExcecoes.h"
#include "diagnostics/uLogServidor.h"
#include "diagnostics/uMetricas.h"
#include "diagnostics/uTextoLog.h"
#include "diagnostics/uTraduzirErro.h"
#include "util/uAparar.h"

namespace tamrix::endpoints {

namespace {

constexpr const char* kSemPermissao = "Usuário sem permissão de acesso.";

// The select list and joins of both user queries; each adds its own condition.
std::string SelecaoUsuario(std::initializer_list<std::string_view> condicao) {
  std::string sql = TextoSQL({
      "SELECT Usuario.cd_usuario,",
      "       Usuario.nome,",
      "       Usuario.login,",
      "       Usuario.senha,",
      "       Usuario.cd_gusuario,",
      "       Usuario.cd_empresa,",
      "       Usuario.cd_atendente,",
      "       Cadastro.razao,",
      "       Cadastro.fantasia,",
      "       RTRIM(Cadastro.endereco) + ISNULL(:pvirgula + RTRIM(Cadastro.numero), :pvazio) AS "
      "endereco_empresa,",
      "       RTRIM(Cidade.nome) AS cidade_empresa,",
      "       Cidade.cd_estado AS uf_empresa,",
      "       RTRIM(Cadastro.cep) AS cep_empresa,",
      "       Cadastro.cgc_cpf AS cnpj_empresa,",
      "       RTRIM(Cadastro.inscricao_est) AS inscricao_est",
      "  FROM Usuario",
      "  JOIN Cadastro ON (Cadastro.cd_cadastro = Usuario.cd_empresa)",
      "  LEFT JOIN Cidade ON (Cidade.cd_cidade = Usuario.cd_cidade)",
  });
  sql += "\r\n";
  sql += TextoSQL(condicao);
  return sql;
}

// Whether the token is missing from the tenant directory: a guessed token counts as a failed
// login, a database that cannot be reached does not.
bool TokenDesconhecido(const std::string& token) {
  try {
    core::TConfigBDItem item;
    return !core::TConfigBDSingleton::GetInstance().PegarConfig(token, item);
  } catch (...) {
    return false;
  }
}

// One login attempt under the lock on guessing: refused at once while the caller's address,
// token and user are blocked (or their guesses under way already reach the limit); otherwise
// tentativa runs (it sets contaFalha) and its outcome is counted.
template <typename F>
bool SobBloqueio(const std::string& usuario, const std::string& token, std::string& msg,
                 F tentativa) {
  using TResultado = core::TBloqueioLogin::TResultado;
  auto& bloqueio = core::TBloqueioLoginSingleton::GetInstance();
  const std::string endereco = core::PegarEnderecoCliente();
  const auto t = bloqueio.Comecar(endereco, token, usuario);
  if (t.SegundosBloqueado > 0) {
    msg = core::TextoBloqueioLogin(t.SegundosBloqueado);
    diagnostics::metricas::LoginRecusadoPorBloqueio();
    return false;
  }
  bool contaFalha = false;
  bool ok = false;
  try {
    ok = tentativa(contaFalha);
  } catch (...) {
    bloqueio.Terminar(t, endereco, token, usuario, TResultado::NaoConta);
    throw;
  }
  const bool bloqueou = bloqueio.Terminar(t, endereco, token, usuario,
                                          ok           ? TResultado::Sucesso
                                          : contaFalha ? TResultado::Falha
                                                       : TResultado::NaoConta);
  if (bloqueou) {
    diagnostics::metricas::BloqueioLoginIniciado();
    diagnostics::GravarLog("Login bloqueado por tentativas sem sucesso: endereço " +
                               diagnostics::TextoChamador(endereco) + ", usuário " +
                               diagnostics::TextoChamador(usuario) + ".",
                           diagnostics::tlErro);
  }
  return ok;
}

}  // namespace

bool TsmUsuario::Login(const std::string& pspUsuario, const std::string& pspSenha,
                       const std::string& pspToken, std::string& pspMsg) {
  pspMsg.clear();
  TReservaQuery reserva = ReservarQuery();
  return SobBloqueio(pspUsuario, pspToken, pspMsg, [&](bool& contaFalha) {
    return FazerLogin(pspUsuario, pspSenha, pspToken, pspMsg, contaFalha);
  });
}

bool TsmUsuario::FazerLogin(const std::string& pspUsuario, const std::string& pspSenha,
                            const std::string& pspToken, std::string& pspMsg, bool& contaFalha) {
  pspMsg.clear();
  contaFalha = false;
  if (util::EstaVazio(pspUsuario) || util::EstaVazio(pspSenha)) {
    pspMsg = kSemPermissao;
    return false;
  }
  bool resultado = false;
  try {
    core::GravarToken(pspToken);
    core::GravarUsuario(pspUsuario);
    // The connection is asked for only now: it is chosen by the token just stored.
    PrepararQuery(TextoSQL({
        "SELECT cd_usuario",
        "  FROM Usuario",
        " WHERE login = :plogin",
        "   AND senha = :psenha",
    }));
    qySQL.ParamByName("plogin").SetAsString(pspUsuario);
    qySQL.ParamByName("psenha").SetAsString(pspSenha);
    qySQL.Open();
    resultado = !qySQL.IsEmpty();
    if (resultado) {
      core::GravarSenha(pspSenha);
      core::GravarCodigoUsuario(qySQL.Fields(0).AsInteger());
    }
  } catch (const std::exception& e) {
    pspMsg = diagnostics::MensagemExcecao(e);
    contaFalha = TokenDesconhecido(pspToken);
    return false;
  } catch (...) {
    pspMsg = "Falha não identificada ao efetuar o login.";
    return false;
  }
  pspMsg = resultado ? "Sucesso" : kSemPermissao;
  contaFalha = !resultado;
  return resultado;
}

bool TsmUsuario::LoginPDV(const std::string& pspUsuario, const std::string& pspSenha,
                          const std::string& pspToken, std::string& pspMsg) {
  pspMsg.clear();
  if (util::EstaVazio(pspToken)) {
    pspMsg = "Token de acesso não informado.";
    return false;
  }
  TReservaQuery reserva = ReservarQuery();
  return SobBloqueio(pspUsuario, pspToken, pspMsg, [&](bool& contaFalha) {
    core::GravarApp("PDV");
    if (!FazerLogin(pspUsuario, pspSenha, pspToken, pspMsg, contaFalha)) return false;
    PrepararQuery(TextoSQL({
        "SELECT 1",
        "  FROM Usuario",
        " WHERE cd_usuario = :pcd_usuario",
        "   AND usuario_pdv = :pusuario_pdv",
    }));
    qySQL.ParamByName("pcd_usuario").SetAsSmallInt(core::PegarCodigoUsuario());
    qySQL.ParamByName("pusuario_pdv").SetAsString("S");
    qySQL.Open();
    if (qySQL.IsEmpty()) {
      pspMsg = kSemPermissao;
      contaFalha = true;
      return false;
    }
    return true;
  });
}

rest::TJSONDataSetsPtr TsmUsuario::ConsultarDadosUsuario(const std::string& pspUsuario,
                                                         const std::string& pspSenha) {
  TReservaQuery reserva = ReservarQuery();
  // It answers whether user and password match, so it is a login attempt for the lock too.
  std::string bloqueado;
  SobBloqueio(pspUsuario, core::PegarToken(), bloqueado, [&](bool& contaFalha) {
    PrepararQuery(SelecaoUsuario({
        " WHERE Usuario.login = :plogin",
        "   AND Usuario.senha = :psenha",
    }));
    qySQL.ParamByName("pvirgula").SetAsString(", ");
    qySQL.ParamByName("pvazio").SetAsString("");
    qySQL.ParamByName("plogin").SetAsString(pspUsuario);
    qySQL.ParamByName("psenha").SetAsString(pspSenha);
    qySQL.Open();
    contaFalha = qySQL.IsEmpty();
    return !contaFalha;
  });
  if (!bloqueado.empty()) throw diagnostics::Exception(bloqueado);
  return EmpacotarDataSet(qySQL, std::move(reserva));
}

rest::TJSONDataSetsPtr TsmUsuario::ConsultarUsuarioPDV() {
  TReservaQuery reserva = ReservarQuery();
  PrepararQuery(SelecaoUsuario({" WHERE Usuario.usuario_pdv = :pusuario_pdv"}));
  qySQL.ParamByName("pvirgula").SetAsString(", ");
  qySQL.ParamByName("pvazio").SetAsString("");
  qySQL.ParamByName("pusuario_pdv").SetAsString("S");
  qySQL.Open();
  return EmpacotarDataSet(qySQL, std::move(reserva));
}

rest::TRestServerClass TsmUsuario::Tabela() {
  return rest::TTabelaClasse<TsmUsuario>("TsmUsuario")
      .Metodo("ConsultarDadosUsuario", &TsmUsuario::ConsultarDadosUsuario, "pspUsuario", "pspSenha")
      .Metodo("ConsultarUsuarioPDV", &TsmUsuario::ConsultarUsuarioPDV)
      .Metodo("Login", &TsmUsuario::Login, "pspUsuario", "pspSenha", "pspToken",
              rest::Out("pspMsg"))
      .Metodo("LoginPDV", &TsmUsuario::LoginPDV, "pspUsuario", "pspSenha", "pspToken",
              rest::Out("pspMsg"));
}

}  // namespace tamrix::endpoints
