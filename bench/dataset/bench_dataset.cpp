// bench_dataset DATABASE ROWS: encodes the registry search (Cadastro joined with Cidade) of
// DATABASE into a data-set answer and compares it with the same query read by psql into
// /dev/null: rows per second and peak memory of both, and their ratio. The connection comes
// from the TAMRIX_PG_* variables that scripts/pg prints. Also times the encoder alone over
// rows generated in memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "rest/uDataSetReader.h"
#include "rest/uJSONDataSets.h"
#include "support/benchpg.h"

namespace {

using Relogio = std::chrono::steady_clock;
namespace rest = tamrix::rest;
namespace db = tamrix::db;

// The statement of the registry search with every filter switched off by its empty value.
const char* kSQL =
    "SELECT Cadastro.cd_cadastro,\r\n"
    "       Cadastro.razao,\r\n"
    "       Cadastro.fantasia,\r\n"
    "       Cadastro.cgc_cpf,\r\n"
    "       Cadastro.dt_cadastro,\r\n"
    "       Cadastro.endereco,\r\n"
    "       Cadastro.numero,\r\n"
    "       Cadastro.complemento,\r\n"
    "       Cadastro.bairro,\r\n"
    "       Cidade.nome AS cidade,\r\n"
    "       Cidade.cd_estado,\r\n"
    "       Cadastro.cep,\r\n"
    "       Cidade.ddd,\r\n"
    "       Cadastro.fone\r\n"
    "  FROM Cadastro\r\n"
    "  JOIN Cidade ON (Cidade.cd_cidade = Cadastro.cd_cidade)\r\n"
    "  WHERE ((:pcd_cadastro = 0) OR (Cadastro.cd_cadastro = :pcd_cadastro))\r\n"
    "    AND ((:prazao = '') OR (Cadastro.razao like :prazao))\r\n"
    "    AND ((:pfantasia = '') OR (Cadastro.fantasia like :pfantasia))\r\n"
    "    AND ((:pcgc_cpf = '') OR (Cadastro.cgc_cpf = :pcgc_cpf))";

// The same statement with the values written in, for psql.
std::string SQLLiteral() {
  std::string s = kSQL;
  auto Trocar = [&](const std::string& de, const std::string& para) {
    for (auto p = s.find(de); p != std::string::npos; p = s.find(de, p + para.size()))
      s.replace(p, de.size(), para);
  };
  Trocar(":pcd_cadastro", "0");
  Trocar(":prazao", "''");
  Trocar(":pfantasia", "''");
  Trocar(":pcgc_cpf", "''");
  return s;
}

double MB(long kb) {
  return kb / 1024.0;
}

long RSSAtualKB() {
  std::ifstream f("/proc/self/statm");
  long total = 0, residente = 0;
  f >> total >> residente;
  return residente * (sysconf(_SC_PAGESIZE) / 1024);
}

struct TMedida {
  double segundos = 0;
  long picoKB = 0;
  std::size_t bytes = 0;
};

TMedida Container(const std::string& banco, std::size_t& linhas, long& baseKB) {
  db::TDBConnection c;
  tamrix::bench::ConfigurarPG(c, banco);
  c.Open();
  db::TDBQuery q(&c);
  q.SetName("qySQL");
  q.SetSQL(kSQL);
  q.ParamByName("pcd_cadastro").SetAsInteger(0);
  q.ParamByName("prazao").SetAsString("");
  q.ParamByName("pfantasia").SetAsString("");
  q.ParamByName("pcgc_cpf").SetAsString("");
  baseKB = RSSAtualKB();

  TMedida m;
  const auto t0 = Relogio::now();
  auto lista = std::make_shared<rest::TJSONDataSets>();
  rest::TJSONDataSetsWriter::ListAdd(*lista, q);
  std::string resposta = "{\"result\":[";
  rest::EscreverJSONDataSets(*lista, resposta);
  resposta += "]}";
  m.segundos = std::chrono::duration<double>(Relogio::now() - t0).count();
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  m.picoKB = ru.ru_maxrss;
  m.bytes = resposta.size();
  linhas = rest::LerRespostaDataSets(resposta).at(0).Linhas.size();  // after the measure
  return m;
}

TMedida Psql(const std::string& banco) {
  const std::string sql = SQLLiteral();
  const auto t0 = Relogio::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string host = tamrix::bench::Var("TAMRIX_PG_HOST").empty()
                                 ? "127.0.0.1"
                                 : tamrix::bench::Var("TAMRIX_PG_HOST");
    const std::string porta = tamrix::bench::Var("TAMRIX_PG_PORT"),
                      usuario = tamrix::bench::Var("TAMRIX_PG_USER");
    setenv("PGPASSWORD", tamrix::bench::Var("TAMRIX_PG_PASSWORD").c_str(), 1);
    execlp("psql", "psql", "-X", "-q", "-A", "-t", "-h", host.c_str(), "-p", porta.c_str(), "-U",
           usuario.c_str(), "-d", banco.c_str(), "-c", sql.c_str(), "-o", "/dev/null",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  TMedida m;
  m.segundos = std::chrono::duration<double>(Relogio::now() - t0).count();
  m.picoKB = ru.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) m.segundos = -1;
  return m;
}

// Rows of the same shape made up on the fly, to time the encoder without a database.
class TLinhasGeradas : public rest::TFonteDataSet {
 public:
  explicit TLinhasGeradas(std::size_t n) : n_(n) {}
  std::string Nome() const override { return "qySQL"; }
  bool Ativo() const override { return true; }
  void Abrir() override {}
  void Fechar() override {}
  std::vector<rest::TColunaDataSet> Colunas() override {
    std::vector<rest::TColunaDataSet> r;
    for (const char* nome :
         {"cd_cadastro", "razao", "fantasia", "cgc_cpf", "dt_cadastro", "endereco", "numero",
          "complemento", "bairro", "cidade", "cd_estado", "cep", "ddd", "fone"}) {
      rest::TColunaDataSet c;
      c.Nome = nome;
      r.push_back(c);
    }
    r[0].Tipo = rest::TTipoColuna::tcInteiro32;
    r[4].Tipo = rest::TTipoColuna::tcDataHora;
    return r;
  }
  bool ProximaLinha(rest::TLinhaDataSet& l) override {
    if (i_ >= n_) return false;
    const std::string n = std::to_string(++i_);
    l = {n,
         "RAZAO SOCIAL " + n + " LTDA",
         "FANTASIA " + n,
         "00.000.000/0001-" + n.substr(0, 2),
         "2020-01-01 10:20:30.123",
         "RUA " + std::to_string(i_ % 500),
         std::to_string(i_ % 9999),
         std::nullopt,
         "BAIRRO " + std::to_string(i_ % 300),
         "SAO PAULO",
         "SP",
         "01001-000",
         "11",
         "(11) 3333-" + n.substr(0, 4)};
    return true;
  }

 private:
  std::size_t n_;
  std::size_t i_ = 0;
};

// The encoder alone, in a child process so that its peak memory is its own.
TMedida SoCodificador(std::size_t n) {
  int canal[2];
  if (pipe(canal) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    close(canal[0]);
    rest::TJSONDataSets lista;
    rest::TJSONDataSetsWriter::ListAdd(lista, std::make_unique<TLinhasGeradas>(n));
    std::string out;
    const auto t0 = Relogio::now();
    rest::EscreverJSONDataSets(lista, out);
    const double s = std::chrono::duration<double>(Relogio::now() - t0).count();
    const std::size_t bytes = out.size();
    if (write(canal[1], &s, sizeof s) != sizeof s ||
        write(canal[1], &bytes, sizeof bytes) != sizeof bytes)
      _exit(1);
    _exit(0);
  }
  close(canal[1]);
  TMedida m;
  if (read(canal[0], &m.segundos, sizeof m.segundos) != sizeof m.segundos ||
      read(canal[0], &m.bytes, sizeof m.bytes) != sizeof m.bytes)
    m.segundos = -1;
  close(canal[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  m.picoKB = ru.ru_maxrss;
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "uso: bench_dataset BANCO LINHAS\n");
    return 2;
  }
  const std::string banco = argv[1];
  const std::size_t esperadas = std::stoul(argv[2]);
  try {
    std::size_t linhas = 0;
    long baseKB = 0;
    // The encoder alone first, while this process is still small (its child shares the
    // parent's pages); then psql, so that both queries find the table in the cache.
    const TMedida so = SoCodificador(esperadas);
    const TMedida psql = Psql(banco);
    const TMedida nosso = Container(banco, linhas, baseKB);
    if (linhas != esperadas) {
      std::fprintf(stderr, "esperadas %zu linhas, lidas %zu\n", esperadas, linhas);
      return 1;
    }
    if (psql.segundos < 0) {
      std::fprintf(stderr, "psql falhou\n");
      return 1;
    }
    std::printf("rows: %zu\n", linhas);
    std::printf(
        "container: %.3f s, %.0f rows/s, peak RSS %.1f MB (%.1f MB before the query), "
        "answer %.1f MB\n",
        nosso.segundos, linhas / nosso.segundos, MB(nosso.picoKB), MB(baseKB),
        nosso.bytes / 1048576.0);
    std::printf("psql > /dev/null: %.3f s, %.0f rows/s, peak RSS %.1f MB\n", psql.segundos,
                linhas / psql.segundos, MB(psql.picoKB));
    std::printf("ratio container/psql: rows/s %.2f, peak memory %.2f\n",
                psql.segundos / nosso.segundos,
                static_cast<double>(nosso.picoKB) / static_cast<double>(psql.picoKB));
    std::printf(
        "encoder alone (rows made in memory): %.0f rows/s, peak RSS %.1f MB, answer %.1f MB\n",
        linhas / so.segundos, MB(so.picoKB), so.bytes / 1048576.0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_dataset: %s\n", e.what());
    return 1;
  }
  return 0;
}
