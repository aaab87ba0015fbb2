#include "rest/uRestSession.h"

#include <algorithm>

#include "diagnostics/uExcecoes.h"
#include "util/uAparar.h"
#include "util/uCaixaTexto.h"

namespace tamrix::rest {

namespace {

thread_local std::shared_ptr<TRestSession> tSessaoAtual;

}  // namespace

TRestSession::TRestSession(std::string id, std::string userName, TInstanteRest agora,
                           std::chrono::milliseconds tempoLimite)
    : id_(std::move(id)),
      userName_(std::move(userName)),
      tempoLimite_(tempoLimite),
      ultimaAtividade_(agora) {}

std::string TRestSession::GetData(std::string_view chave) const {
  std::lock_guard lock(mutex_);
  auto it = dados_.find(util::MinusculasASCII(chave));
  return it == dados_.end() ? std::string{} : it->second;
}

void TRestSession::PutData(std::string_view chave, std::string valor) {
  if (valor.size() > kMaximoDadoSessao)
    valor.resize(util::CortarUTF8(valor, kMaximoDadoSessao).size());
  std::lock_guard lock(mutex_);
  if (encerrada_) return;
  dados_[util::MinusculasASCII(chave)] = std::move(valor);
  uso_ = std::max(uso_, TUsoSessao::usDados);
}

void TRestSession::PutDataProtocolo(std::string_view chave, std::string_view valor) {
  valor = util::CortarUTF8(valor, kMaximoDadoProtocolo);
  std::lock_guard lock(mutex_);
  if (!encerrada_) dados_[util::MinusculasASCII(chave)] = std::string(valor);
}

bool TRestSession::HasData(std::string_view chave) const {
  std::lock_guard lock(mutex_);
  return dados_.count(util::MinusculasASCII(chave)) != 0;
}

void TRestSession::MarcarAtividade(TInstanteRest agora) {
  std::lock_guard lock(mutex_);
  ultimaAtividade_ = std::max(ultimaAtividade_, agora);
}

TInstanteRest TRestSession::UltimaAtividade() const {
  std::lock_guard lock(mutex_);
  return ultimaAtividade_;
}

bool TRestSession::SemDados() const {
  std::lock_guard lock(mutex_);
  return uso_ == TUsoSessao::usNenhum;
}

void TRestSession::MarcarAutenticada() {
  std::lock_guard lock(mutex_);
  uso_ = TUsoSessao::usAutenticada;
}

TUsoSessao TRestSession::Uso() const {
  std::lock_guard lock(mutex_);
  return uso_;
}

bool TRestSession::Expirou(TInstanteRest agora) const {
  return MilissegundosRestantes(agora) <= 0;
}

std::int64_t TRestSession::MilissegundosRestantes(TInstanteRest agora) const {
  std::lock_guard lock(mutex_);
  const auto passado =
      std::chrono::duration_cast<std::chrono::milliseconds>(agora - ultimaAtividade_);
  return std::max<std::int64_t>(0, (tempoLimite_ - passado).count());
}

std::shared_ptr<void> TRestSession::PegarInstancia(const TRestServerClass& classe) {
  const std::string chave = util::MinusculasASCII(classe.Nome);
  // Made under the lock so that two first calls of one session share one instance; a
  // lock of its own, so a constructor may read the session's data.
  std::lock_guard lock(mutexInstancias_);
  if (Encerrada()) return classe.Fabrica();
  auto& instancia = instancias_[chave];
  if (!instancia) {
    auto nova = classe.Fabrica();
    instancia = std::move(nova);
  }
  return instancia;
}

void TRestSession::Encerrar() {
  std::map<std::string, std::shared_ptr<void>> instancias;
  std::map<std::string, std::string> dados;
  {
    std::lock_guard lockInstancias(mutexInstancias_);
    std::lock_guard lock(mutex_);
    encerrada_ = true;
    instancias.swap(instancias_);
    dados.swap(dados_);
  }
  cache_.Encerrar();
  // Destroyed here, outside the lock.
}

bool TRestSession::Encerrada() const {
  std::lock_guard lock(mutex_);
  return encerrada_;
}

std::shared_ptr<TRestSession> SessaoDaThread() {
  return tSessaoAtual;
}

std::string PegarDadoSessao(std::string_view chave) {
  return tSessaoAtual ? tSessaoAtual->GetData(chave) : std::string{};
}

void GravarDadoSessao(std::string_view chave, std::string valor) {
  if (!tSessaoAtual)
    throw diagnostics::Exception("Não há sessão REST ativa para gravar \"" + std::string(chave) +
                                 "\".");
  tSessaoAtual->PutData(chave, std::move(valor));
}

TSessaoDaThread::TSessaoDaThread(std::shared_ptr<TRestSession> sessao)
    : anterior_(std::exchange(tSessaoAtual, std::move(sessao))) {}

TSessaoDaThread::~TSessaoDaThread() {
  tSessaoAtual = std::move(anterior_);
}

}  // namespace tamrix::rest
