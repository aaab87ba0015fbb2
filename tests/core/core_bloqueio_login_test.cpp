// The lock on password guessing, on an injected clock: when a block starts, how long it
// lasts, what clears it, and that made-up names cannot grow the tables.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/uBloqueioLogin.h"

namespace tamrix::core {
namespace {

using namespace std::chrono_literals;

struct TRelogioTeste {
  std::chrono::steady_clock::time_point agora{std::chrono::hours(1000)};
};

class BloqueioLogin : public ::testing::Test {
 protected:
  TRelogioTeste relogio_;
  TBloqueioLogin bloqueio_{TRegrasBloqueioLogin{}, [this] { return relogio_.agora; }};

  void Falhas(int n, const std::string& endereco = "10.0.0.1", const std::string& usuario = "ana") {
    for (int i = 0; i < n; ++i) bloqueio_.RegistrarFalha(endereco, "Tk1", usuario);
  }
  std::int64_t Restante(const std::string& endereco = "10.0.0.1",
                        const std::string& usuario = "ana") {
    return bloqueio_.SegundosBloqueado(endereco, "Tk1", usuario);
  }
};

TEST_F(BloqueioLogin, QuintaFalhaBloqueiaEOBloqueioDobraAteQuinzeMinutos) {
  Falhas(4);
  EXPECT_EQ(Restante(), 0);
  EXPECT_TRUE(bloqueio_.RegistrarFalha("10.0.0.1", "Tk1", "ana"));
  EXPECT_EQ(Restante(), 30);
  relogio_.agora += 10500ms;
  EXPECT_EQ(Restante(), 20);  // rounded up
  // Each failure after a block ends doubles the next one, up to 15 minutes.
  for (const int esperado : {60, 120, 240, 480, 900, 900}) {
    relogio_.agora += std::chrono::seconds(Restante());
    ASSERT_EQ(Restante(), 0);
    EXPECT_TRUE(bloqueio_.RegistrarFalha("10.0.0.1", "Tk1", "ana"));
    EXPECT_EQ(Restante(), esperado);
  }
}

TEST_F(BloqueioLogin, OutrosUsuariosTokensEEnderecosNaoSaoAfetados) {
  Falhas(5);
  ASSERT_GT(Restante(), 0);
  EXPECT_EQ(Restante("10.0.0.1", "bia"), 0);
  EXPECT_EQ(bloqueio_.SegundosBloqueado("10.0.0.1", "Tk2", "ana"), 0);
  EXPECT_EQ(Restante("10.0.0.2", "ana"), 0);
}

TEST_F(BloqueioLogin, SucessoZeraAChaveEJanelaEsquecida) {
  Falhas(4);
  bloqueio_.RegistrarSucesso("10.0.0.1", "Tk1", "ana");
  Falhas(4);
  EXPECT_EQ(Restante(), 0);
  // Failures older than five minutes no longer count.
  relogio_.agora += 5min + 1s;
  Falhas(4);
  EXPECT_EQ(Restante(), 0);
  Falhas(1);
  EXPECT_EQ(Restante(), 30);
  // Quiet for five minutes after a block: the next block is the first one again.
  relogio_.agora += 30s + 5min + 1s;
  Falhas(5);
  EXPECT_EQ(Restante(), 30);
}

TEST_F(BloqueioLogin, EnderecoBloqueadoDepoisDeCinquentaNomes) {
  for (int i = 0; i < 49; ++i) Falhas(1, "10.0.0.9", "u" + std::to_string(i));
  EXPECT_EQ(Restante("10.0.0.9", "nova"), 0);
  Falhas(1, "10.0.0.9", "u49");
  EXPECT_EQ(Restante("10.0.0.9", "nova"), 30);
  // A success of one account does not lift the address's block.
  bloqueio_.RegistrarSucesso("10.0.0.9", "Tk1", "nova");
  EXPECT_EQ(Restante("10.0.0.9", "nova"), 30);
  EXPECT_EQ(Restante("10.0.0.8", "nova"), 0);
}

TEST_F(BloqueioLogin, Ipv6ContaPelaRede64) {
  EXPECT_EQ(ChaveEnderecoLogin("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
  EXPECT_EQ(ChaveEnderecoLogin("::ffff:10.0.0.1"), "::ffff:10.0.0.1");
  EXPECT_EQ(ChaveEnderecoLogin("10.0.0.1"), "10.0.0.1");
  Falhas(5, "2001:db8:1:2::5");
  EXPECT_EQ(Restante("2001:db8:1:2::77"), 30);
}

TEST_F(BloqueioLogin, NomeContaSemCaixaNemBrancosAoFim) {
  // The database compares names this way: each spelling must not buy five more guesses.
  for (const char* nome : {"ana", "ANA", "Ana ", "aNa  ", "ANA"})
    bloqueio_.RegistrarFalha("10.0.0.1", "Tk1", nome);
  EXPECT_EQ(Restante("10.0.0.1", "ana"), 30);
  Falhas(5, "10.0.0.1", "joão");
  EXPECT_EQ(Restante("10.0.0.1", "JOÃO"), 30);
}

TEST_F(BloqueioLogin, TentativasAoMesmoTempoNaoPassamDoLimite) {
  using R = TBloqueioLogin::TResultado;
  // Many good logins at once from one address (terminals behind one NAT) all go ahead.
  std::vector<TBloqueioLogin::TTentativa> boas;
  for (int i = 0; i < 20; ++i) boas.push_back(bloqueio_.Comecar("10.0.0.1", "Tk1", "ana"));
  for (const auto& t : boas) EXPECT_EQ(t.SegundosBloqueado, 0);
  for (const auto& t : boas) bloqueio_.Terminar(t, "10.0.0.1", "Tk1", "ana", R::Sucesso);

  // Once the key has failed, guesses under way count against the limit.
  Falhas(3);
  const auto quarta = bloqueio_.Comecar("10.0.0.1", "Tk1", "ana");
  const auto quinta = bloqueio_.Comecar("10.0.0.1", "Tk1", "ana");
  EXPECT_EQ(quarta.SegundosBloqueado, 0);
  EXPECT_EQ(quinta.SegundosBloqueado, 0);
  EXPECT_EQ(bloqueio_.Comecar("10.0.0.1", "Tk1", "ana").SegundosBloqueado, 1);
  // One was no guess (database unreachable), the other failed: four failures, no block.
  EXPECT_FALSE(bloqueio_.Terminar(quarta, "10.0.0.1", "Tk1", "ana", R::NaoConta));
  EXPECT_FALSE(bloqueio_.Terminar(quinta, "10.0.0.1", "Tk1", "ana", R::Falha));
  EXPECT_EQ(Restante(), 0);
  const auto ultima = bloqueio_.Comecar("10.0.0.1", "Tk1", "ana");
  EXPECT_TRUE(bloqueio_.Terminar(ultima, "10.0.0.1", "Tk1", "ana", R::Falha));
  EXPECT_EQ(Restante(), 30);
  // After the block, one attempt at a time.
  relogio_.agora += 30s;
  const auto depois = bloqueio_.Comecar("10.0.0.1", "Tk1", "ana");
  EXPECT_EQ(depois.SegundosBloqueado, 0);
  EXPECT_EQ(bloqueio_.Comecar("10.0.0.1", "Tk1", "ana").SegundosBloqueado, 1);
  EXPECT_TRUE(bloqueio_.Terminar(depois, "10.0.0.1", "Tk1", "ana", R::Falha));
  EXPECT_EQ(Restante(), 60);
}

TEST(BloqueioLoginLimites, TabelasLimitadasEDesligado) {
  TRegrasBloqueioLogin regras;
  regras.MaximoChaves = 1000;
  TBloqueioLogin b(regras);
  for (int i = 0; i < 100000; ++i)
    b.RegistrarFalha("10.1." + std::to_string(i % 400) + ".1", "Tk",
                     "inventado" + std::to_string(i));
  EXPECT_EQ(b.ChavesUsuario(), 1000u);
  EXPECT_EQ(b.ChavesEndereco(), 400u);

  regras.Tentativas = 0;
  b.Configurar(regras);
  for (int i = 0; i < 10; ++i) b.RegistrarFalha("10.0.0.1", "Tk", "ana");
  EXPECT_EQ(b.SegundosBloqueado("10.0.0.1", "Tk", "ana"), 0);
}

TEST(BloqueioLoginTexto, Mensagem) {
  EXPECT_EQ(TextoBloqueioLogin(30),
            "Muitas tentativas de login sem sucesso. Tente novamente em 30 segundos.");
}

}  // namespace
}  // namespace tamrix::core
