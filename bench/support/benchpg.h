// The PostgreSQL of the TAMRIX_PG_* variables that scripts/pg prints, for the benchmark
// programs (header only; the benchmarks link tamrix_db).
#ifndef TAMRIX_BENCH_SUPPORT_BENCHPG_H
#define TAMRIX_BENCH_SUPPORT_BENCHPG_H

#include <cstdlib>
#include <string>

#include "db/uDBConnection.h"

namespace tamrix::bench {

inline std::string Var(const char* nome) {
  const char* v = std::getenv(nome);
  return v != nullptr ? v : "";
}

// Sets the parameters of `c` for `banco` as the login role; the caller opens it.
inline void ConfigurarPG(db::TDBConnection& c, const std::string& banco) {
  auto& p = c.Params();
  p.SetValue("DriverID", "PG");
  p.SetValue("Driver", "PostgreSQL");
  p.SetValue("SERVER", Var("TAMRIX_PG_HOST").empty() ? "127.0.0.1" : Var("TAMRIX_PG_HOST"));
  p.SetValue("Porta", Var("TAMRIX_PG_PORT"));
  p.SetValue("DATABASE", banco);
  p.SetValue("User_Name", Var("TAMRIX_PG_USER"));
  p.SetValue("Password", Var("TAMRIX_PG_PASSWORD"));
  p.SetValue("ApplicationName", "TamrixRestServer");
}

}  // namespace tamrix::bench

#endif  // TAMRIX_BENCH_SUPPORT_BENCHPG_H
