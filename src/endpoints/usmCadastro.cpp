#include "endpoints/usmCadastro.h"

#include <cstdio>

#include "util/uConversaoNumero.h"

namespace tamrix::endpoints {

namespace {

std::string SqlPesquisa(bool comFantasia) {
  std::string sql = TextoSQL({
      "SELECT Cadastro.cd_cadastro,",
      "       Cadastro.razao,",
      "       Cadastro.fantasia,",
      "       Cadastro.cgc_cpf,",
      "       Cadastro.dt_cadastro,",
      "       Cadastro.endereco,",
      "       Cadastro.numero,",
      "       Cadastro.complemento,",
      "       Cadastro.bairro,",
      "       Cidade.nome AS cidade,",
      "       Cidade.cd_estado,",
      "       Cadastro.cep,",
      "       Cidade.ddd,",
      "       Cadastro.fone",
      "  FROM Cadastro",
      "  JOIN Cidade ON (Cidade.cd_cidade = Cadastro.cd_cidade)",
      "  WHERE ((:pcd_cadastro = 0) OR (Cadastro.cd_cadastro = :pcd_cadastro))",
      "    AND ((:prazao = %s) OR (Cadastro.razao like :prazao))",
  });
  if (comFantasia) sql += "\r\n    AND ((:pfantasia = %s) OR (Cadastro.fantasia like :pfantasia))";
  sql += "\r\n    AND ((:pcgc_cpf = %s) OR (Cadastro.cgc_cpf = :pcgc_cpf))";
  // Each condition compares its parameter with an empty literal; caller text never gets here.
  for (std::size_t p = sql.find("%s"); p != std::string::npos; p = sql.find("%s", p + 2))
    sql.replace(p, 2, "''");
  return sql;
}

std::string Contem(const std::string& texto) {
  return texto.empty() ? std::string() : "%" + texto + "%";
}

}  // namespace

std::string EscaparTextoCadastroJSON(std::string_view texto) {
  std::string r;
  r.reserve(texto.size());
  for (char c : texto) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      r += '\\';
      r += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", u);
      r += buf;
    } else {
      r += c;
    }
  }
  return r;
}

void TsmCadastro::AbrirPesquisa(bool comFantasia, const std::string& pspCd_Cadastro,
                                const std::string& pspRazao, const std::string& pspFantasia,
                                const std::string& pspCpfCnpj) {
  PrepararQuery(SqlPesquisa(comFantasia));
  qySQL.ParamByName("pcd_cadastro").SetAsInteger(util::TextoParaInteiro(pspCd_Cadastro));
  qySQL.ParamByName("prazao").SetAsString(Contem(pspRazao));
  if (comFantasia) qySQL.ParamByName("pfantasia").SetAsString(Contem(pspFantasia));
  qySQL.ParamByName("pcgc_cpf").SetAsString(pspCpfCnpj);
  qySQL.Open();
}

rest::TJSONDataSetsPtr TsmCadastro::ConsultarCadastro(const std::string& pspCd_Cadastro,
                                                      const std::string& pspRazao,
                                                      const std::string& pspFantasia,
                                                      const std::string& pspCpfCnpj) {
  TReservaQuery reserva = ReservarQuery();
  AbrirPesquisa(true, pspCd_Cadastro, pspRazao, pspFantasia, pspCpfCnpj);
  return EmpacotarDataSet(qySQL, std::move(reserva));
}

std::string TsmCadastro::ConsultarCadastroJSON(const std::string& pspCd_Cadastro,
                                               const std::string& pspRazao,
                                               const std::string& pspCNPJ) {
  TReservaQuery reserva = ReservarQuery();
  AbrirPesquisa(false, pspCd_Cadastro, pspRazao, {}, pspCNPJ);
  std::string json = "{\"Sucesso\":[";
  for (bool primeira = true; !qySQL.Eof(); qySQL.Next(), primeira = false) {
    if (!primeira) json += ',';
    json += '{';
    for (int i = 0; i < qySQL.FieldCount(); ++i) {
      const db::TDBField& campo = qySQL.Fields(i);
      if (i > 0) json += ',';
      json += '"';
      json += EscaparTextoCadastroJSON(campo.FieldName());
      json += "\":\"";
      json += EscaparTextoCadastroJSON(campo.AsString());
      json += '"';
    }
    json += '}';
  }
  json += "]}";
  qySQL.Close();
  return json;
}

rest::TJSONDataSetsPtr TsmCadastro::ConsultarEmpresUsuarioPDV(std::int32_t piCd_Empresa,
                                                              std::int32_t piCd_Usuario) {
  auto sp = CriarStoredProc("spcPDVEmpresaUsuario");
  sp->ParamByName("@cd_empresa").SetAsInteger(piCd_Empresa);
  sp->ParamByName("@cd_usuario").SetAsSmallInt(piCd_Usuario);
  return AbrirEmpacotar(std::move(sp));
}

rest::TRestServerClass TsmCadastro::Tabela() {
  return rest::TTabelaClasse<TsmCadastro>("TsmCadastro")
      .Metodo("ConsultarCadastro", &TsmCadastro::ConsultarCadastro, "pspCd_Cadastro", "pspRazao",
              "pspFantasia", "pspCpfCnpj")
      .Metodo("ConsultarCadastroJSON", &TsmCadastro::ConsultarCadastroJSON, "pspCd_Cadastro",
              "pspRazao", "pspCNPJ")
      .Metodo("ConsultarEmpresUsuarioPDV", &TsmCadastro::ConsultarEmpresUsuarioPDV, "piCd_Empresa",
              "piCd_Usuario");
}

}  // namespace tamrix::endpoints
