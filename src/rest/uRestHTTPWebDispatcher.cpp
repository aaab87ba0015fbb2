#include "rest/uRestHTTPWebDispatcher.h"

#include "util/uAparar.h"

#include <chrono>
#include <string>
#include <vector>

#include "diagnostics/uMetricas.h"

#include "rest/uRestArgumentos.h"
#include "rest/uRestCacheRequisicao.h"
#include "rest/uRestEnvelope.h"
#include "rest/uRestExcecoes.h"
#include "rest/uRestFiltros.h"
#include "rest/uRestNomeMetodo.h"
#include "rest/uRestURL.h"
#include "util/uCaixaTexto.h"

namespace tamrix::rest {

namespace {

using util::TMethodType;
using util::TWebRequest;
using util::TWebResponse;
namespace metricas = diagnostics::metricas;

constexpr std::string_view kRotuloDesconhecido = "desconhecido";

constexpr std::string_view kFormatoInvalido =
    "Invalid request format. /className/methodName and eventual parameters expected.";

void RespostaSemCorpo(TWebResponse& r, int status) {
  r.StatusCode = status;
  r.ReasonString.clear();
  r.ContentType.clear();
  r.Content.clear();
  r.ContentStream.reset();
}

// The status line cannot carry control characters.
std::string TextoDeStatus(std::string texto) {
  for (char& c : texto)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return texto;
}

// Cuts one segment off the front of caminho (which starts after a '/'): up to the next '/'
// or '?'. caminho keeps the rest, starting at that '/'.
std::string_view CortarSegmento(std::string_view& caminho) {
  if (!caminho.empty() && caminho.front() == '/') caminho.remove_prefix(1);
  const std::size_t fim = caminho.find_first_of("/?");
  const std::string_view seg = caminho.substr(0, fim);
  caminho = fim == std::string_view::npos ? std::string_view{} : caminho.substr(fim);
  return seg;
}

// Class, method and argument segments of the REST path, still percent-encoded.
std::vector<std::string_view> DividirCaminho(std::string_view r) {
  if (r.find('/') == std::string_view::npos) throw ERestException(std::string(kFormatoInvalido));
  r.remove_prefix(1);
  if (!r.empty() && r.back() == '/') r.remove_suffix(1);
  std::vector<std::string_view> segs;
  for (;;) {
    const std::size_t barra = r.find('/');
    segs.push_back(r.substr(0, barra));
    if (barra == std::string_view::npos) break;
    r.remove_prefix(barra + 1);
  }
  if (segs.size() < 2 || segs[0].empty() || segs[1].empty())
    throw ERestException(std::string(kFormatoInvalido));
  return segs;
}

// Runs the disconnect hook when the call is over, whatever happened.
class TFimDaChamada {
 public:
  explicit TFimDaChamada(const TRestServer::TEstado& estado) : estado_(estado) {}
  ~TFimDaChamada() {
    if (!estado_.OnDisconnect) return;
    try {
      estado_.OnDisconnect();
    } catch (...) {
      // The answer is already made; a failing release must not spoil it.
    }
  }
  TFimDaChamada(const TFimDaChamada&) = delete;
  TFimDaChamada& operator=(const TFimDaChamada&) = delete;

 private:
  const TRestServer::TEstado& estado_;
};

void NotificarErro(const TRestServer::TEstado& estado, const std::exception& e,
                   const std::string& metodo) {
  if (!estado.OnError) return;
  try {
    estado.OnError(TRestErrorEvent{e, metodo, SessaoDaThread()});
  } catch (...) {
    // Logging the error must not change what the client receives.
  }
}

// The id of the query field "SESSIONID" or "SID" (the last one), else of the Pragma header.
std::string IdDaSessao(const TWebRequest& req, const std::vector<TCampoRest>& camposQuery) {
  std::string id;
  for (const auto& c : camposQuery)
    if (util::TextoIgualSemCaixa(c.Nome, "SESSIONID") || util::TextoIgualSemCaixa(c.Nome, "SID"))
      id = c.Valor;
  if (id.empty()) id = ValorItemLista(req.GetFieldByName("Pragma"), "dssession");
  return id;
}

void RespostaSessaoExpirada(TWebResponse& r) {
  RespostaSemCorpo(r, 403);
  r.ReasonString = "Session has expired";
  r.Content =
      R"({"SessionExpired":"The specified session has expired due to inactivity or was an invalid Session ID"})";
}

void DefinirPragma(TWebResponse& r, const TRestSession& sessao, TInstanteRest agora) {
  r.SetCustomHeader("Pragma", "dssession=" + sessao.Id() + ",dssessionexpires=" +
                                  std::to_string(sessao.MilissegundosRestantes(agora)));
}

}  // namespace

TRestHTTPWebDispatcher::TRestHTTPWebDispatcher(TRestServer& servidor,
                                               const TRestAuthenticationManager* autenticacao)
    : servidor_(servidor), autenticacao_(autenticacao) {}

bool TRestHTTPWebDispatcher::DispatchRequest(const TWebRequest& req, TWebResponse& resposta) {
  return Despachar(req, resposta, nullptr);
}

bool TRestHTTPWebDispatcher::DispatchRequest(TWebRequest& req, TWebResponse& resposta) {
  return Despachar(req, resposta, &req.Content);
}

bool TRestHTTPWebDispatcher::Despachar(const TWebRequest& req, TWebResponse& resposta,
                                       std::string* conteudo) {
  std::string_view caminho = req.PathInfo;
  if (!caminho.empty() && caminho.front() == '/') caminho.remove_prefix(1);
  if (!ComecaSemCaixa(caminho, "tamrix")) return false;
  const auto inicio = std::chrono::steady_clock::now();
  metricas::ChamadaRestIniciada();
  // A name the client asked for and the server does not know is not a label of its own.
  TRotulosChamada rotulos{std::string(kRotuloDesconhecido), std::string(kRotuloDesconhecido)};
  try {
    Atender(req, resposta, conteudo, rotulos);
  } catch (...) {
    RespostaSemCorpo(resposta, 500);
  }
  metricas::ChamadaRestTerminada(
      rotulos.Classe, rotulos.Metodo, resposta.StatusCode,
      std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count());
  return true;
}

void TRestHTTPWebDispatcher::Atender(const TWebRequest& req, TWebResponse& resposta,
                                     std::string* conteudo, TRotulosChamada& rotulos) {
  std::string_view caminho = req.RawPathInfo;
  if (!util::TextoIgualSemCaixa(CortarSegmento(caminho), "tamrix")) {
    RespostaSemCorpo(resposta, 404);
    resposta.ReasonString = TextoDeStatus("Expected tamrix context in request " + req.RawPathInfo);
    return;
  }
  const std::string_view depoisDoContexto = caminho;
  const std::string_view protocolo = CortarSegmento(caminho);
  if (util::TextoIgualSemCaixa(protocolo, "rest") || util::TextoIgualSemCaixa(protocolo, "cache")) {
    const auto estado = servidor_.Estado();
    if (!estado) {
      RespostaSemCorpo(resposta, 503);
      resposta.Content = MontarEnvelopeErro("O servidor REST está parado.");
      return;
    }
    std::optional<TSessaoDaThread> vinculo;  // outlives the disconnect hook below
    TFimDaChamada fim(*estado);
    if (util::TextoIgualSemCaixa(protocolo, "rest")) {
      AtenderRest(*estado, caminho, req, resposta, vinculo, conteudo, rotulos);
    } else {
      rotulos = {"cache", "cache"};
      AtenderCache(caminho, req, resposta);
    }
    return;
  }
  RespostaSemCorpo(resposta, 501);
  if (util::TextoIgualSemCaixa(protocolo, "tunnel")) {
    resposta.Content = "O túnel HTTP não é oferecido por este servidor.";
    return;
  }
  resposta.Content = "Specified protocol in request " + std::string(depoisDoContexto) +
                     " is not supported. Current supported protocols are: rest, json, tunnel";
}

void TRestHTTPWebDispatcher::AtenderRest(const TRestServer::TEstado& estado,
                                         std::string_view caminhoRest, const TWebRequest& req,
                                         TWebResponse& resposta,
                                         std::optional<TSessaoDaThread>& vinculo,
                                         std::string* conteudo, TRotulosChamada& rotulos) {
  TComandoRest comando = TComandoRest::crUnknown;
  if (req.Method == "DELETE") {
    comando = TComandoRest::crDelete;
  } else {
    switch (req.MethodType) {
      case TMethodType::mtGet:
        comando = TComandoRest::crGet;
        break;
      case TMethodType::mtPut:
        comando = TComandoRest::crPut;
        break;
      case TMethodType::mtPost:
        comando = TComandoRest::crPost;
        break;
      case TMethodType::mtDelete:
        comando = TComandoRest::crDelete;
        break;
      case TMethodType::mtHead:
        comando = TComandoRest::crOther;
        break;
      case TMethodType::mtPatch:
        RespostaSemCorpo(resposta, 500);
        return;
      case TMethodType::mtAny:
        comando = TComandoRest::crUnknown;
        break;
    }
  }

  // Session.
  const auto camposQuery = LerCampos(req.Query);
  const std::string id = IdDaSessao(req, camposQuery);
  const bool fechar = ComecaSemCaixa(caminhoRest, "/CloseSession/");
  auto& sessoes = servidor_.Sessoes();
  std::shared_ptr<TRestSession> sessao;
  if (!id.empty()) {
    sessao = sessoes.ProcurarSessao(id);
    if (!sessao) return RespostaSessaoExpirada(resposta);
    if (fechar) {
      sessoes.FecharSessao(id);
      RespostaSemCorpo(resposta, 200);
      resposta.ReasonString = R"({"result":[true]})";
      return;
    }
  } else {
    if (fechar) {
      RespostaSemCorpo(resposta, 400);
      return;
    }
    const bool basic = req.GetFieldByName("Authorization").rfind("Basic", 0) == 0;
    const std::string usuario = basic ? req.AuthUser : std::string{};
    const std::string senha = basic ? req.AuthPassword : std::string{};
    // The user name comes from a header: kept as the protocol's other items are.
    sessao = sessoes.CriarSessao(std::string(util::CortarUTF8(usuario, kMaximoDadoProtocolo)));
    if (!req.RemoteAddr.empty()) sessao->PutDataProtocolo("RemoteIP", req.RemoteAddr);
    sessao->PutDataProtocolo("RemoteAppName", req.GetFieldByName("User-Agent"));
    sessao->PutDataProtocolo("CommunicationProtocol", req.ProtocolVersion);
    sessao->PutDataProtocolo("ProtocolSubType", "rest");
    if (autenticacao_ && !autenticacao_->Autenticar("tamrix", "rest/", usuario, senha)) {
      sessoes.FecharSessao(sessao->Id());
      RespostaSemCorpo(resposta, 401);
      resposta.Content = MontarEnvelopeErro("Usuário ou senha inválidos.");
      return;
    }
  }
  vinculo.emplace(sessao);
  DefinirPragma(resposta, *sessao, sessoes.Agora());

  // Request filters: a setting the call must not run with ends it here.
  TFiltrosRest filtros;
  try {
    filtros = TFiltrosRest::Ler(camposQuery);
  } catch (const EFiltroRest& e) {
    RespostaSemCorpo(resposta, e.Status());
    resposta.ReasonString = TextoDeStatus(e.Motivo());
    return;
  }
  const bool modoCache = req.Accept().find("application/rest") != std::string::npos;

  if (comando == TComandoRest::crOther || comando == TComandoRest::crUnknown) {
    RespostaSemCorpo(resposta, 500);
    return;
  }

  std::string nomeMetodo;
  try {
    const auto segs = DividirCaminho(caminhoRest);
    const std::string classe = DecodificarSegmento(segs[0]);
    const std::string metodo = DecodificarSegmento(segs[1]);
    std::vector<std::string> textos;
    textos.reserve(segs.size() - 2);
    for (std::size_t i = 2; i < segs.size(); ++i) textos.push_back(DecodificarSegmento(segs[i]));

    const std::string nomePedido = MontarNomeMetodo(comando, classe, metodo);
    const auto achado = estado.Registro->Procurar(nomePedido);
    if (!achado)
      throw ERestException(RemoverAspasIdentificadores(nomePedido) +
                           " method not found in the server method list");
    const TRestServerClass& classeRest = *achado->Classe;
    nomeMetodo = classeRest.Nome + "." + achado->Metodo->Nome;
    rotulos = {classeRest.Nome, achado->Metodo->Nome};
    if (autenticacao_ &&
        !autenticacao_->Autorizar({classeRest.Nome, nomeMetodo, sessao->UserName(), sessao}))
      throw ERestException("Acesso não autorizado ao método " + nomeMetodo + ".");

    auto args = VincularArgumentos(*achado->Metodo, nomeMetodo, textos,
                                   CorpoDaChamada(comando, req, camposQuery, conteudo));
    std::shared_ptr<void> instancia;
    switch (classeRest.LifeCycle) {
      case TLifeCycle::lcSession:
        instancia = sessao->PegarInstancia(classeRest);
        break;
      case TLifeCycle::lcInvocation:
        instancia = classeRest.Fabrica();
        break;
      case TLifeCycle::lcServer:
        instancia = servidor_.InstanciaServidor(classeRest);
        break;
    }
    auto saidas = achado->Metodo->Invocar(instancia.get(), std::move(args));
    TModoResposta modo;
    modo.Filtros = &filtros;
    if (modoCache) {
      modo.Cache = &sessao->Cache();
      modo.Limites = servidor_.LimitesCache();
    }
    resposta.Content = MontarEnvelopeResultado(saidas, modo);
    resposta.StatusCode = comando == TComandoRest::crPut ? 201 : 200;
  } catch (const std::exception& e) {
    resposta.StatusCode = 500;
    resposta.Content = MontarEnvelopeErro(e.what());
    NotificarErro(estado, e, nomeMetodo);
  } catch (...) {
    const diagnostics::Exception e("Exceção não identificada no método " + nomeMetodo + ".");
    resposta.StatusCode = 500;
    resposta.Content = MontarEnvelopeErro(e.what());
    NotificarErro(estado, e, nomeMetodo);
  }
  if (modoCache) resposta.ContentType = "application/rest";
}

void TRestHTTPWebDispatcher::AtenderCache(std::string_view caminhoCache, const TWebRequest& req,
                                          TWebResponse& resposta) {
  const std::string id = IdDaSessao(req, LerCampos(req.Query));
  auto& sessoes = servidor_.Sessoes();
  const auto sessao = id.empty() ? nullptr : sessoes.ProcurarSessao(id);
  if (!sessao) return RespostaSessaoExpirada(resposta);
  AtenderPedidoCache(sessao->Cache(), req, caminhoCache, resposta);
  resposta.ReasonString = TextoDeStatus(resposta.ReasonString);
  DefinirPragma(resposta, *sessao, sessoes.Agora());
}

}  // namespace tamrix::rest
