// Test server class with a method for every parameter and result type, and helpers that
// call the dispatcher the way the web module does.
#ifndef TAMRIX_TESTS_REST_RESTTESTE_H
#define TAMRIX_TESTS_REST_RESTTESTE_H

#include <atomic>
#include <boost/json.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/uExcecoes.h"
#include "rest/uJSONDataSets.h"
#include "rest/uRestHTTPWebDispatcher.h"
#include "rest/uRestServerClass.h"
#include "rest/uRestURL.h"

namespace tamrix::rest::teste {

// A data set of one text column whose rows (or failure) the test chooses.
class TFonteTeste : public TFonteDataSet {
 public:
  explicit TFonteTeste(bool falhar) : falhar_(falhar) {}
  std::string Nome() const override { return "qySQL"; }
  bool Ativo() const override { return ativo_; }
  void Abrir() override {
    if (falhar_) throw diagnostics::EDatabaseError("Tabela inexistente.");
    ativo_ = true;
    linhas_ = 0;
  }
  void Fechar() override { ativo_ = false; }
  std::vector<TColunaDataSet> Colunas() override {
    TColunaDataSet c;
    c.Nome = "nome";
    return {c};
  }
  bool ProximaLinha(TLinhaDataSet& linha) override {
    if (linhas_++ > 0) return false;
    linha.assign(1, std::optional<std::string>("x"));
    return true;
  }

 private:
  bool falhar_;
  bool ativo_ = false;
  int linhas_ = 0;
};

inline std::atomic<int> gInstanciasVivas{0};

class TsmTeste {
 public:
  TsmTeste() { ++gInstanciasVivas; }
  ~TsmTeste() { --gInstanciasVivas; }

  std::string InverterString(const std::string& s) { return {s.rbegin(), s.rend()}; }
  bool Login(const std::string& u, const std::string& s, const std::string& t, std::string& msg) {
    msg = "u=" + u + ";s=" + s + ";t=" + t;
    return !t.empty();
  }
  std::int64_t Somar(std::int32_t a, std::int64_t b) { return a + b; }
  bool Negar(bool b) { return !b; }
  double Metade(double d) { return d / 2; }
  TDateTime UmDiaDepois(TDateTime d) { return {d.Valor + 1}; }
  boost::json::value Eco(const boost::json::value& v) { return v; }
  boost::json::object acceptEnviarArquivoVendas(const std::string& token, const std::string& cnpj,
                                                const std::string& data, const std::string& nome,
                                                const boost::json::value& arquivo) {
    return {{"token", token}, {"cnpj", cnpj}, {"data", data}, {"nome", nome}, {"arquivo", arquivo}};
  }
  std::string UploadFile(const std::string& a, const std::string& b, const std::string& c,
                         const boost::json::value& arquivo) {
    return "get:" + a + b + c + ":" + boost::json::serialize(arquivo);
  }
  std::string updateUploadFile(const std::string& a, const std::string& b, const std::string& c,
                               const boost::json::value& arquivo) {
    return "post:" + a + b + c + ":" + boost::json::serialize(arquivo);
  }
  void Dobrar(std::int32_t& v, std::string& texto) {
    v *= 2;
    texto = std::to_string(v);
  }
  void Falhar() { throw diagnostics::Exception("Falhou de propósito."); }
  TJSONDataSetsPtr Dados(bool falhar) {
    auto c = std::make_shared<TJSONDataSets>();
    c->Adicionar("qySQL", std::make_unique<TFonteTeste>(falhar));
    return c;
  }
  int Contar() { return ++contador_; }
  void Guardar(const std::string& chave, const std::string& valor) {
    GravarDadoSessao(chave, valor);
  }
  std::string Ler(const std::string& chave) { return PegarDadoSessao(chave); }
  std::string cancelApagar(const std::string& id) { return "apagado " + id; }

 private:
  int contador_ = 0;
};

inline TRestServerClass TabelaTeste() {
  return TTabelaClasse<TsmTeste>("TsmTeste")
      .Metodo("InverterString", &TsmTeste::InverterString, "pspTexto")
      .Metodo("Login", &TsmTeste::Login, "pspUsuario", "pspSenha", "pspToken", Out("pspMsg"))
      .Metodo("Somar", &TsmTeste::Somar, "piA", "piB")
      .Metodo("Negar", &TsmTeste::Negar, "pbValor")
      .Metodo("Metade", &TsmTeste::Metade, "pValor")
      .Metodo("UmDiaDepois", &TsmTeste::UmDiaDepois, "pdData")
      .Metodo("Eco", &TsmTeste::Eco, "pjoValor")
      .Metodo("acceptEnviarArquivoVendas", &TsmTeste::acceptEnviarArquivoVendas, "psToken",
              "psCNPJ", "psDt_Movimento", "psNomeArquivo", "pjoArquivo")
      .Metodo("UploadFile", &TsmTeste::UploadFile, "psCNPJ", "psData", "psTipo", "pjoArquivo")
      .Metodo("updateUploadFile", &TsmTeste::updateUploadFile, "psCNPJ", "psData", "psTipo",
              "pjoArquivo")
      .Metodo("Dobrar", &TsmTeste::Dobrar, Var("piValor"), Out("psTexto"))
      .Metodo("Falhar", &TsmTeste::Falhar)
      .Metodo("Dados", &TsmTeste::Dados, "pbFalhar")
      .Metodo("Contar", &TsmTeste::Contar)
      .Metodo("Guardar", &TsmTeste::Guardar, "psChave", "psValor")
      .Metodo("Ler", &TsmTeste::Ler, "psChave")
      .Metodo("cancelApagar", &TsmTeste::cancelApagar, "psId");
}

// A clock the test moves by hand.
struct TRelogioManual {
  std::shared_ptr<std::atomic<std::int64_t>> Milis = std::make_shared<std::atomic<std::int64_t>>(0);
  TRelogioRest Relogio() const {
    auto m = Milis;
    return [m] { return TInstanteRest(std::chrono::milliseconds(m->load())); };
  }
  void Avancar(std::chrono::milliseconds d) const { *Milis += d.count(); }
};

struct TRequisicao {
  TRequisicao(std::string metodo, std::string caminho, std::optional<std::string> corpo = {})
      : Metodo(std::move(metodo)), Caminho(std::move(caminho)), Corpo(std::move(corpo)) {}
  std::string Metodo;
  std::string Caminho;  // raw, with an optional "?query"
  std::optional<std::string> Corpo;
  std::vector<util::THeaderField> Cabecalhos;
  std::string Usuario, Senha;  // what the listener decoded from Authorization
};

inline util::TWebRequest MontarRequisicao(const TRequisicao& r) {
  util::TWebRequest req;
  req.Method = r.Metodo;
  req.MethodType = util::ClassificarMetodo(r.Metodo);
  req.ProtocolVersion = "HTTP/1.1";
  const auto q = r.Caminho.find('?');
  req.RawPathInfo = r.Caminho.substr(0, q);
  req.Query = q == std::string::npos ? "" : r.Caminho.substr(q + 1);
  req.PathInfo = DecodificarSegmento(req.RawPathInfo);
  req.RemoteAddr = "127.0.0.1";
  req.Headers = r.Cabecalhos;
  req.AuthUser = r.Usuario;
  req.AuthPassword = r.Senha;
  req.DeclaredBody = r.Corpo.has_value();
  req.Content = r.Corpo ? *r.Corpo : req.Query;
  return req;
}

struct TResposta {
  bool Atendida;
  util::TWebResponse R;
  std::string Pragma() const {
    for (const auto& h : R.CustomHeaders)
      if (h.Name == "Pragma") return h.Value;
    return {};
  }
  std::string Sessao() const { return ValorItemLista(Pragma(), "dssession"); }
};

inline TResposta Chamar(TRestHTTPWebDispatcher& d, const TRequisicao& r) {
  TResposta resp;
  const auto req = MontarRequisicao(r);
  resp.Atendida = d.DispatchRequest(req, resp.R);
  return resp;
}

}  // namespace tamrix::rest::teste

#endif  // TAMRIX_TESTS_REST_RESTTESTE_H
