#include "core/uBloqueioLogin.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace tamrix::core {

namespace {

// Enough to tell real names apart; a longer made-up name must not buy a larger key.
constexpr std::size_t kMaximoParteChave = 128;

// The user name as the database compares it (SQL Server's usual collation): letter case and
// trailing blanks do not count, so "maria" and "MARIA " share one count.
std::string NomeComparavel(std::string_view usuario) {
  while (!usuario.empty() && usuario.back() == ' ') usuario.remove_suffix(1);
  std::string n(usuario.substr(0, kMaximoParteChave));
  for (std::size_t i = 0; i < n.size(); ++i) {
    const auto c = static_cast<unsigned char>(n[i]);
    if (c >= 'a' && c <= 'z') {
      n[i] = static_cast<char>(c - 32);
    } else if (c == 0xC3 && i + 1 < n.size()) {
      // Latin-1 letters in UTF-8: à..þ (but ÷) to À..Þ.
      const auto d = static_cast<unsigned char>(n[i + 1]);
      if (d >= 0xA0 && d <= 0xBE && d != 0xB7) n[i + 1] = static_cast<char>(d - 0x20);
      ++i;
    }
  }
  return n;
}

std::string ChaveUsuario(std::string_view endereco, std::string_view token,
                         std::string_view usuario) {
  std::string chave = ChaveEnderecoLogin(endereco);
  chave += '\n';
  chave += token.substr(0, kMaximoParteChave);
  chave += '\n';
  chave += NomeComparavel(usuario);
  return chave;
}

}  // namespace

std::string ChaveEnderecoLogin(std::string_view endereco) {
  const std::string texto(endereco.substr(0, 64));
  in6_addr a{};
  if (inet_pton(AF_INET6, texto.c_str(), &a) != 1) return texto;
  if (IN6_IS_ADDR_V4MAPPED(&a)) return texto;
  std::memset(reinterpret_cast<unsigned char*>(&a) + 8, 0, 8);
  char buf[INET6_ADDRSTRLEN] = {};
  inet_ntop(AF_INET6, &a, buf, sizeof buf);
  return std::string(buf) + "/64";
}

std::string TextoBloqueioLogin(std::int64_t segundos) {
  return "Muitas tentativas de login sem sucesso. Tente novamente em " + std::to_string(segundos) +
         " segundos.";
}

TBloqueioLogin::TBloqueioLogin(TRegrasBloqueioLogin regras, TRelogio relogio)
    : regras_(regras), relogio_(std::move(relogio)) {}

void TBloqueioLogin::Configurar(const TRegrasBloqueioLogin& regras) {
  std::lock_guard<std::mutex> l(lock_);
  regras_ = regras;
}

TBloqueioLogin::TInstante TBloqueioLogin::Agora() const {
  return relogio_ ? relogio_() : std::chrono::steady_clock::now();
}

std::int64_t TBloqueioLogin::Restante(const TTabela& t, const std::string& chave,
                                      TInstante agora) const {
  const auto it = t.Contagens.find(chave);
  if (it == t.Contagens.end() || it->second.BloqueadoAte <= agora) return 0;
  const auto falta = it->second.BloqueadoAte - agora;
  return std::chrono::ceil<std::chrono::seconds>(falta).count();
}

std::int64_t TBloqueioLogin::SegundosBloqueado(std::string_view endereco, std::string_view token,
                                               std::string_view usuario) {
  const TInstante agora = Agora();
  std::lock_guard<std::mutex> l(lock_);
  if (regras_.Tentativas <= 0) return 0;
  return std::max(Restante(enderecos_, ChaveEnderecoLogin(endereco), agora),
                  Restante(usuarios_, ChaveUsuario(endereco, token, usuario), agora));
}

bool TBloqueioLogin::Falhar(TTabela& t, const std::string& chave, int limite, TInstante agora) {
  TContagem& c = Entrada(t, chave);
  if (c.Bloqueio.count() == 0) {
    // Not blocked yet: only the failures of the last window count.
    if (c.Falhas > 0 && agora - c.PrimeiraFalha > regras_.Janela) c.Falhas = 0;
  } else if (c.BloqueadoAte <= agora &&
             agora - std::max(c.UltimaFalha, c.BloqueadoAte) > regras_.Janela) {
    // Quiet for a whole window after its block: the key starts again, block length too.
    c.Falhas = 0;
    c.Bloqueio = std::chrono::seconds{0};
  }
  if (c.Falhas == 0) c.PrimeiraFalha = agora;
  ++c.Falhas;
  c.UltimaFalha = agora;
  if (c.Falhas < limite) return false;
  c.Bloqueio =
      c.Bloqueio.count() == 0 ? regras_.Bloqueio : std::min(c.Bloqueio * 2, regras_.BloqueioMaximo);
  c.BloqueadoAte = agora + c.Bloqueio;
  return true;
}

bool TBloqueioLogin::RegistrarFalha(std::string_view endereco, std::string_view token,
                                    std::string_view usuario) {
  const TInstante agora = Agora();
  std::lock_guard<std::mutex> l(lock_);
  if (regras_.Tentativas <= 0) return false;
  const bool porUsuario =
      Falhar(usuarios_, ChaveUsuario(endereco, token, usuario), regras_.Tentativas, agora);
  const bool porEndereco =
      Falhar(enderecos_, ChaveEnderecoLogin(endereco), regras_.TentativasEndereco, agora);
  return porUsuario || porEndereco;
}

TBloqueioLogin::TContagem& TBloqueioLogin::Entrada(TTabela& t, const std::string& chave) {
  auto it = t.Contagens.find(chave);
  if (it != t.Contagens.end()) {
    t.Ordem.splice(t.Ordem.end(), t.Ordem, it->second.Posicao);
    return it->second;
  }
  while (!t.Ordem.empty() && t.Contagens.size() >= std::max<std::size_t>(regras_.MaximoChaves, 1)) {
    t.Contagens.erase(t.Ordem.front());
    t.Ordem.pop_front();
  }
  t.Ordem.push_back(chave);
  it = t.Contagens.emplace(chave, TContagem{}).first;
  it->second.Posicao = std::prev(t.Ordem.end());
  return it->second;
}

bool TBloqueioLogin::Cheio(const TTabela& t, const std::string& chave, int limite,
                           TInstante agora) const {
  const auto it = t.Contagens.find(chave);
  if (it == t.Contagens.end()) return false;
  const TContagem& c = it->second;
  if (c.Falhas == 0) return false;
  if (c.Bloqueio.count() == 0) {
    if (agora - c.PrimeiraFalha > regras_.Janela) return false;  // forgotten by the next count
    return c.Falhas + c.EmAndamento >= limite;
  }
  if (agora - std::max(c.UltimaFalha, c.BloqueadoAte) > regras_.Janela) return false;
  // After a block, one attempt at a time: its failure starts the next block.
  return c.EmAndamento >= 1;
}

TBloqueioLogin::TTentativa TBloqueioLogin::Comecar(std::string_view endereco,
                                                   std::string_view token,
                                                   std::string_view usuario) {
  const TInstante agora = Agora();
  const std::string chaveUsuario = ChaveUsuario(endereco, token, usuario);
  const std::string chaveEndereco = ChaveEnderecoLogin(endereco);
  TTentativa t;
  std::lock_guard<std::mutex> l(lock_);
  if (regras_.Tentativas <= 0) return t;
  t.SegundosBloqueado = std::max(Restante(usuarios_, chaveUsuario, agora),
                                 Restante(enderecos_, chaveEndereco, agora));
  if (t.SegundosBloqueado > 0) return t;
  if (Cheio(usuarios_, chaveUsuario, regras_.Tentativas, agora) ||
      Cheio(enderecos_, chaveEndereco, regras_.TentativasEndereco, agora)) {
    // Not blocked yet: the guesses under way decide; a second is enough to know.
    t.SegundosBloqueado = 1;
    return t;
  }
  ++Entrada(usuarios_, chaveUsuario).EmAndamento;
  ++Entrada(enderecos_, chaveEndereco).EmAndamento;
  t.EmAndamento = true;
  return t;
}

bool TBloqueioLogin::Terminar(const TTentativa& tentativa, std::string_view endereco,
                              std::string_view token, std::string_view usuario,
                              TResultado resultado) {
  if (!tentativa.EmAndamento) return false;
  const TInstante agora = Agora();
  const std::string chaveUsuario = ChaveUsuario(endereco, token, usuario);
  const std::string chaveEndereco = ChaveEnderecoLogin(endereco);
  std::lock_guard<std::mutex> l(lock_);
  for (auto* par : {&usuarios_, &enderecos_}) {
    const auto it = par->Contagens.find(par == &usuarios_ ? chaveUsuario : chaveEndereco);
    if (it != par->Contagens.end() && it->second.EmAndamento > 0) --it->second.EmAndamento;
  }
  switch (resultado) {
    case TResultado::Falha: {
      const bool porUsuario = Falhar(usuarios_, chaveUsuario, regras_.Tentativas, agora);
      const bool porEndereco = Falhar(enderecos_, chaveEndereco, regras_.TentativasEndereco, agora);
      return porUsuario || porEndereco;
    }
    case TResultado::Sucesso: {
      const auto it = usuarios_.Contagens.find(chaveUsuario);
      // Others of this key still under way keep their entry.
      if (it != usuarios_.Contagens.end() && it->second.EmAndamento == 0) {
        usuarios_.Ordem.erase(it->second.Posicao);
        usuarios_.Contagens.erase(it);
      } else if (it != usuarios_.Contagens.end()) {
        it->second.Falhas = 0;
        it->second.Bloqueio = std::chrono::seconds{0};
      }
      return false;
    }
    case TResultado::NaoConta:
      return false;
  }
  return false;
}

void TBloqueioLogin::RegistrarSucesso(std::string_view endereco, std::string_view token,
                                      std::string_view usuario) {
  std::lock_guard<std::mutex> l(lock_);
  const auto it = usuarios_.Contagens.find(ChaveUsuario(endereco, token, usuario));
  if (it == usuarios_.Contagens.end()) return;
  usuarios_.Ordem.erase(it->second.Posicao);
  usuarios_.Contagens.erase(it);
}

std::size_t TBloqueioLogin::ChavesUsuario() const {
  std::lock_guard<std::mutex> l(lock_);
  return usuarios_.Contagens.size();
}

std::size_t TBloqueioLogin::ChavesEndereco() const {
  std::lock_guard<std::mutex> l(lock_);
  return enderecos_.Contagens.size();
}

}  // namespace tamrix::core
