// The floor of a PDV login: its two statements run over and over on one open connection, as
// the server runs them, without HTTP, sessions or connection set-up. For bench/login/run.
//   bench_login DATABASE SECONDS
// Reads the database server and login role from TAMRIX_PG_*; prints "floor N/s".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "support/benchpg.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "uso: bench_login BANCO SEGUNDOS\n");
    return 2;
  }
  try {
    tamrix::db::TDBConnection c;
    tamrix::bench::ConfigurarPG(c, argv[1]);
    c.Open();

    // The statements of Login and LoginPDV, in the same order and with the same parameters.
    tamrix::db::TDBQuery login(&c), pdv(&c);
    login.SetSQL(
        "SELECT cd_usuario\r\n  FROM Usuario\r\n WHERE login = :plogin\r\n   AND senha = :psenha");
    pdv.SetSQL(
        "SELECT 1\r\n  FROM Usuario\r\n WHERE cd_usuario = :pcd_usuario\r\n   AND usuario_pdv = "
        ":pusuario_pdv");
    const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
    long chamadas = 0;
    const auto inicio = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < fim) {
      login.Close();
      login.ParamByName("plogin").SetAsString("JOAO");
      login.ParamByName("psenha").SetAsString("pdv4464");
      login.Open();
      if (login.IsEmpty()) throw std::runtime_error("login JOAO não encontrado");
      pdv.Close();
      pdv.ParamByName("pcd_usuario").SetAsSmallInt(login.Fields(0).AsInteger());
      pdv.ParamByName("pusuario_pdv").SetAsString("S");
      pdv.Open();
      if (pdv.IsEmpty()) throw std::runtime_error("JOAO não é usuário de PDV");
      ++chamadas;
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
    std::printf("floor %.0f/s\n", chamadas / s);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_login: %s\n", e.what());
    return 1;
  }
}
