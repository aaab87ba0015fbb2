// The lock on password guessing: failed logins counted per client address together with
// token and user name, and per client address alone, each blocked for a while after too many
// failures. Blocked attempts are answered without touching the database.
//
// Threads: every call takes the object's lock for a few map operations; no I/O under it.
#ifndef TAMRIX_CORE_UBLOQUEIOLOGIN_H
#define TAMRIX_CORE_UBLOQUEIOLOGIN_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "util/uSingleton.h"

namespace tamrix::core {

struct TRegrasBloqueioLogin {
  int Tentativas = 5;                            // failures of one key before a block; 0: off
  std::chrono::seconds Bloqueio{30};             // the first block; doubles with each failure
  std::chrono::seconds BloqueioMaximo{15 * 60};  // the longest block
  std::chrono::seconds Janela{5 * 60};           // failures older than this are forgotten
  int TentativasEndereco = 50;                   // failures of one address, whatever names
  std::size_t MaximoChaves = 20000;              // per table; the oldest keys are dropped
};

class TBloqueioLogin {
 public:
  using TRelogio = std::function<std::chrono::steady_clock::time_point()>;

  explicit TBloqueioLogin(TRegrasBloqueioLogin regras = {}, TRelogio relogio = {});

  // Replaces the rules (at start, from config.ini); the counters are kept.
  void Configurar(const TRegrasBloqueioLogin& regras);

  // Seconds (rounded up) left of a block on the address or on the address, token and user
  // name together; 0 when an attempt may go ahead.
  std::int64_t SegundosBloqueado(std::string_view endereco, std::string_view token,
                                 std::string_view usuario);

  // Counts a failed attempt on both keys. True when it started a block on either (the caller
  // logs that once).
  bool RegistrarFalha(std::string_view endereco, std::string_view token, std::string_view usuario);

  // A successful login: the address, token and user key starts again from zero. The
  // address's own count stays, so one good account does not hide a spray.
  void RegistrarSucesso(std::string_view endereco, std::string_view token,
                        std::string_view usuario);

  // An attempt under way. Attempts still waiting for the database count against the limit
  // once a key has failed, so guesses sent at the same time cannot all slip in under one
  // count, while many good logins at once (terminals behind one address) are never refused.
  struct TTentativa {
    std::int64_t SegundosBloqueado = 0;  // > 0: refused at once, nothing counted
    bool EmAndamento = false;            // Terminar must follow
  };
  enum class TResultado { Falha, Sucesso, NaoConta };

  // Refuses the attempt while a block lasts, or while the key's failures and its attempts
  // under way reach the limit (SegundosBloqueado); otherwise marks it under way.
  TTentativa Comecar(std::string_view endereco, std::string_view token, std::string_view usuario);
  // The attempt's outcome: a failure is counted on both keys (true when it started a block,
  // which the caller logs once); a success clears the user key; an attempt that was no guess
  // (a blank field, a database that could not be reached) counts nothing.
  bool Terminar(const TTentativa& tentativa, std::string_view endereco, std::string_view token,
                std::string_view usuario, TResultado resultado);

  // Keys held in each table (tests: the tables stay bounded).
  std::size_t ChavesUsuario() const;
  std::size_t ChavesEndereco() const;

 private:
  using TInstante = std::chrono::steady_clock::time_point;
  struct TContagem {
    int Falhas = 0;
    TInstante PrimeiraFalha{};  // of the count in progress
    TInstante UltimaFalha{};
    TInstante BloqueadoAte{};
    std::chrono::seconds Bloqueio{0};  // the last block's length; 0 before any
    int EmAndamento = 0;               // attempts waiting for the database
    std::list<std::string>::iterator Posicao;
  };
  // One table with its keys in order of last use, oldest first.
  struct TTabela {
    std::unordered_map<std::string, TContagem> Contagens;
    std::list<std::string> Ordem;
  };

  TInstante Agora() const;
  std::int64_t Restante(const TTabela& t, const std::string& chave, TInstante agora) const;
  bool Falhar(TTabela& t, const std::string& chave, int limite, TInstante agora);
  TContagem& Entrada(TTabela& t, const std::string& chave);
  bool Cheio(const TTabela& t, const std::string& chave, int limite, TInstante agora) const;

  mutable std::mutex lock_;
  TRegrasBloqueioLogin regras_;
  TRelogio relogio_;
  TTabela usuarios_;
  TTabela enderecos_;
};

// What the address counts by: the address for IPv4, its /64 network for IPv6 (one IPv6 client
// may pick any source address in its /64).
std::string ChaveEnderecoLogin(std::string_view endereco);

// The text of a refused attempt.
std::string TextoBloqueioLogin(std::int64_t segundos);

// The process-wide lock, configured at start.
class TBloqueioLoginSingleton : public util::TSingleton<TBloqueioLogin> {};

}  // namespace tamrix::core

#endif  // TAMRIX_CORE_UBLOQUEIOLOGIN_H
