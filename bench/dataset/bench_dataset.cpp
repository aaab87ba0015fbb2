// bench_dataset MODE DATABASE ROWS: the registry search (Cadastro joined with Cidade) of
// DATABASE encoded into a data-set answer, next to the same query read by psql into /dev/null,
// in the same run. Each side runs in a child process of its own, so its peak memory is its own.
//   um      one answer: rows/s and peak memory against one psql
//   oito    eight answers at once, one connection and thread each: aggregate rows/s against
//           eight psql at once, peak memory against eight answers' encoded size plus 64 MB
//   grande  one answer of a large table: peak memory against its encoded size plus 64 MB
// The last line is the summary bench/run reads, with the goal's verdict. The connection comes
// from the TAMRIX_PG_* variables that scripts/pg prints.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
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

double MB(double kb) {
  return kb / 1024.0;
}

const char* Veredito(bool cumprido) {
  return cumprido ? "met" : "not met";
}

// What a child reports: wall time, its peak resident memory, and for ours the answer's bytes
// (of one answer) and the rows read back from every answer.
struct TMedida {
  double segundos = -1;
  long picoKB = 0;
  std::uint64_t bytes = 0;
  std::uint64_t linhas = 0;
};

long PicoProprioKB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Runs corpo in a child process and returns the measure it wrote into the pipe.
template <typename F>
TMedida EmFilho(F corpo) {
  int canal[2];
  if (pipe(canal) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    close(canal[0]);
    TMedida m;
    try {
      m = corpo();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "bench_dataset: %s\n", e.what());
      _exit(1);
    }
    _exit(write(canal[1], &m, sizeof m) == sizeof m ? 0 : 1);
  }
  close(canal[1]);
  TMedida m;
  if (read(canal[0], &m, sizeof m) != sizeof m) m.segundos = -1;
  close(canal[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) m.segundos = -1;
  return m;
}

// Ours: `n` answers at once, each on its own connection and thread, as the server makes them
// for `n` terminals. The clock starts once every connection is open and stops when the last
// answer is complete; the peak is taken while every answer is still held. The rows are counted
// by decoding the answers afterwards.
TMedida Nosso(const std::string& banco, int n) {
  return EmFilho([&] {
    std::vector<std::string> respostas(n);
    std::vector<std::string> erros(n);
    std::mutex mx;
    std::condition_variable cv;
    int prontas = 0;
    bool largar = false;
    std::vector<std::thread> fios;
    for (int i = 0; i < n; ++i) {
      fios.emplace_back([&, i] {
        try {
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
          {
            std::unique_lock l(mx);
            ++prontas;
            cv.notify_all();
            cv.wait(l, [&] { return largar; });
          }
          rest::TJSONDataSets lista;
          rest::TJSONDataSetsWriter::ListAdd(lista, q);
          std::string resposta = "{\"result\":[";
          rest::EscreverJSONDataSets(lista, resposta);
          resposta += "]}";
          respostas[i] = std::move(resposta);
        } catch (const std::exception& e) {
          erros[i] = e.what();
          std::lock_guard l(mx);
          ++prontas;  // never leaves the others waiting
          cv.notify_all();
        }
      });
    }
    Relogio::time_point t0;
    {
      std::unique_lock l(mx);
      cv.wait(l, [&] { return prontas == n; });
      largar = true;
      t0 = Relogio::now();
    }
    cv.notify_all();
    for (auto& f : fios) f.join();
    TMedida m;
    m.segundos = std::chrono::duration<double>(Relogio::now() - t0).count();
    m.picoKB = PicoProprioKB();
    for (const auto& e : erros)
      if (!e.empty()) throw std::runtime_error(e);
    m.bytes = respostas[0].size();
    for (auto& r : respostas) {
      m.linhas += rest::LerRespostaDataSets(r).at(0).Linhas.size();
      std::string().swap(r);
    }
    return m;
  });
}

// psql reading the same statement into /dev/null, `n` processes at once: the wall time from
// the first start to the last exit, and the largest peak among them.
TMedida Psql(const std::string& banco, int n) {
  const std::string sql = SQLLiteral();
  const std::string host = tamrix::bench::Var("TAMRIX_PG_HOST").empty()
                               ? "127.0.0.1"
                               : tamrix::bench::Var("TAMRIX_PG_HOST");
  const std::string porta = tamrix::bench::Var("TAMRIX_PG_PORT"),
                    usuario = tamrix::bench::Var("TAMRIX_PG_USER");
  const auto t0 = Relogio::now();
  std::vector<pid_t> filhos;
  for (int i = 0; i < n; ++i) {
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
      setenv("PGPASSWORD", tamrix::bench::Var("TAMRIX_PG_PASSWORD").c_str(), 1);
      execlp("psql", "psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", host.c_str(),
             "-p", porta.c_str(), "-U", usuario.c_str(), "-d", banco.c_str(), "-c", sql.c_str(),
             "-o", "/dev/null", static_cast<char*>(nullptr));
      _exit(127);
    }
    filhos.push_back(pid);
  }
  TMedida m;
  bool ok = true;
  for (pid_t pid : filhos) {
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    m.picoKB = std::max<long>(m.picoKB, ru.ru_maxrss);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  m.segundos = ok ? std::chrono::duration<double>(Relogio::now() - t0).count() : -1;
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
  return EmFilho([n] {
    rest::TJSONDataSets lista;
    rest::TJSONDataSetsWriter::ListAdd(lista, std::make_unique<TLinhasGeradas>(n));
    std::string out;
    const auto t0 = Relogio::now();
    rest::EscreverJSONDataSets(lista, out);
    TMedida m;
    m.segundos = std::chrono::duration<double>(Relogio::now() - t0).count();
    m.picoKB = PicoProprioKB();
    m.bytes = out.size();
    return m;
  });
}

}  // namespace

int main(int argc, char** argv) {
  const std::string modo = argc == 4 ? argv[1] : "";
  if (modo != "um" && modo != "oito" && modo != "grande") {
    std::fprintf(stderr, "uso: bench_dataset um|oito|grande BANCO LINHAS\n");
    return 2;
  }
  const std::string banco = argv[2];
  const std::uint64_t linhas = std::stoull(argv[3]);
  const int n = modo == "oito" ? 8 : 1;
  const double limiteFolgaKB = 64 * 1024;  // the 64 MB beside the answers themselves
  try {
    // The encoder alone first, while this process is still small (its child shares the
    // parent's pages); psql before ours, so that both find the table in the cache.
    TMedida so;
    if (modo == "um") so = SoCodificador(linhas);
    const TMedida psql = Psql(banco, n);
    const TMedida nosso = Nosso(banco, n);
    if (psql.segundos < 0 || nosso.segundos < 0) {
      std::fprintf(stderr, "bench_dataset: %s falhou\n", psql.segundos < 0 ? "psql" : "o nosso");
      return 1;
    }
    if (nosso.linhas != linhas * n) {
      std::fprintf(stderr, "bench_dataset: esperadas %llu linhas, lidas %llu\n",
                   static_cast<unsigned long long>(linhas * n),
                   static_cast<unsigned long long>(nosso.linhas));
      return 1;
    }
    const double total = static_cast<double>(linhas) * n;
    const double ourRate = total / nosso.segundos, psqlRate = total / psql.segundos;
    const double velocidade = ourRate / psqlRate;
    const double respostaMB = nosso.bytes / 1048576.0;
    std::printf(
        "%d x %llu rows: ours %.3f s, peak RSS %.1f MB, answer %.1f MB; psql %.3f s, "
        "peak RSS %.1f MB (largest)\n",
        n, static_cast<unsigned long long>(linhas), nosso.segundos, MB(nosso.picoKB), respostaMB,
        psql.segundos, MB(psql.picoKB));
    if (modo == "um") {
      std::printf(
          "encoder alone (rows made in memory): %.0f rows/s, peak RSS %.1f MB, answer %.1f MB\n",
          linhas / so.segundos, MB(so.picoKB), so.bytes / 1048576.0);
      const double memoria = static_cast<double>(nosso.picoKB) / psql.picoKB;
      std::printf(
          "dataset one: ours %.0f rows/s, peak %.1f MB; psql %.0f rows/s, peak %.1f MB; "
          "speed %.2f (goal >= 0.5: %s); memory %.2f (goal <= 1: %s)\n",
          ourRate, MB(nosso.picoKB), psqlRate, MB(psql.picoKB), velocidade,
          Veredito(velocidade >= 0.5), memoria, Veredito(memoria <= 1));
    } else if (modo == "oito") {
      const double limiteKB = 8 * nosso.bytes / 1024.0 + limiteFolgaKB;
      std::printf(
          "dataset eight: ours %.0f rows/s, peak %.1f MB; 8 psql %.0f rows/s, limit %.1f MB "
          "(8 x %.1f MB + 64); speed %.2f (goal >= 0.5: %s); memory %.2f (goal <= 1: %s)\n",
          ourRate, MB(nosso.picoKB), psqlRate, MB(limiteKB), respostaMB, velocidade,
          Veredito(velocidade >= 0.5), nosso.picoKB / limiteKB, Veredito(nosso.picoKB <= limiteKB));
    } else {
      const double limiteKB = nosso.bytes / 1024.0 + limiteFolgaKB;
      std::printf(
          "dataset large: ours %.0f rows/s, peak %.1f MB; psql %.0f rows/s, limit %.1f MB "
          "(%.1f MB + 64); speed %.2f; memory %.2f (goal < 1: %s)\n",
          ourRate, MB(nosso.picoKB), psqlRate, MB(limiteKB), respostaMB, velocidade,
          nosso.picoKB / limiteKB, Veredito(nosso.picoKB < limiteKB));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_dataset: %s\n", e.what());
    return 1;
  }
  return 0;
}
