// bench_lote DATABASE ROWS: applies ROWS cached rows of the sales-file shape (Pos_Arquivo)
// in one transaction, one INSERT per row (as before batching) and in multi-row INSERTs of
// several sizes, and reports rows per second and the memory the apply adds. For comparison it
// also sends the same rows with ODBC parameter arrays (SQL_ATTR_PARAMSET_SIZE). The
// connection comes from the TAMRIX_PG_* variables that scripts/pg prints.
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "db/uDBBatchInsert.h"
#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "support/benchpg.h"

namespace {

using Relogio = std::chrono::steady_clock;
namespace db = tamrix::db;

const char* const kSqlTabelaArquivo =
    "SELECT cnpj_cpf,\r\n       dt_movimento,\r\n       tp_arquivo,\r\n       nr_ordem,\r\n"
    "       linha,\r\n       processado,\r\n       dt_arquivo,\r\n       arquivo,\r\n"
    "       arquivo_xml\r\n  FROM Pos_Arquivo\r\n WHERE 1 = 2";

// A sales line of the usual width, different on every row.
std::string Linha(std::size_t i) {
  return "|V|" + std::to_string(i) +
         "|7891000100103|COCA COLA LATA 350ML|UN|2,000|4,50|9,00|0,00|" + "0,00|9,00|00|1|" +
         std::to_string(i % 97) + "|";
}

long KB(const char* campo) {
  std::ifstream f("/proc/self/status");
  std::string nome;
  long v = 0;
  while (f >> nome) {
    if (nome == campo) {
      f >> v;
      return v;
    }
    f.ignore(4096, '\n');
  }
  return 0;
}

void ZerarPico() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void Conectar(db::TDBConnection& c, const std::string& banco) {
  tamrix::bench::ConfigurarPG(c, banco);
  c.Open();
}

void Exec(db::TDBConnection& c, const std::string& sql) {
  db::TDBQuery q(&c);
  q.SetSQL(sql);
  q.ExecSQL();
}

std::size_t Contar(db::TDBConnection& c) {
  db::TDBQuery q(&c);
  q.SetSQL("SELECT COUNT(*) FROM Pos_Arquivo");
  q.Open();
  return static_cast<std::size_t>(q.Fields(0).AsLargeInt());
}

struct TMedida {
  double segundos = 0;
  long rssAntesKB = 0;  // with the rows in the cache
  long picoKB = 0;      // highest during the apply
};

// Fills the cache, then times ApplyUpdates and the commit.
TMedida Aplicar(db::TDBConnection& c, std::size_t linhas, std::size_t porComando) {
  Exec(c, "TRUNCATE Pos_Arquivo");
  db::TDBQuery q(&c);
  q.SetCachedUpdates(true);
  q.SetSQL(kSqlTabelaArquivo);
  q.Open();
  q.SetUpdateBatchRows(porComando);
  const db::TDBTimeStamp mov{2016, 10, 9};
  const db::TDBTimeStamp agora = db::TDBTimeStamp::Now();
  for (std::size_t i = 1; i <= linhas; ++i) {
    q.Append();
    q.FieldByName("cnpj_cpf").SetAsString("11222333000181");
    q.FieldByName("dt_movimento").SetAsDateTime(mov);
    q.FieldByName("tp_arquivo").SetAsString("V");
    q.FieldByName("nr_ordem").SetAsInteger(static_cast<std::int32_t>(i));
    q.FieldByName("linha").SetAsString(Linha(i));
    q.FieldByName("processado").SetAsString("N");
    q.FieldByName("dt_arquivo").SetAsDateTime(agora);
    q.FieldByName("arquivo").SetAsString("VENDAS.TXT");
    q.Post();
  }
  TMedida m;
  m.rssAntesKB = KB("VmRSS:");
  ZerarPico();
  const auto t0 = Relogio::now();
  c.StartTransaction();
  if (q.ApplyUpdates(0) != 0) throw std::runtime_error("ApplyUpdates falhou");
  c.Commit();
  m.segundos = std::chrono::duration<double>(Relogio::now() - t0).count();
  m.picoKB = KB("VmHWM:");
  if (Contar(c) != linhas) throw std::runtime_error("linhas faltando na tabela");
  return m;
}

void Checar(SQLRETURN rc, SQLHSTMT st, const char* onde) {
  if (SQL_SUCCEEDED(rc)) return;
  SQLCHAR estado[6] = {}, msg[1024] = {};
  SQLINTEGER nativo = 0;
  SQLSMALLINT n = 0;
  SQLGetDiagRec(SQL_HANDLE_STMT, st, 1, estado, &nativo, msg, sizeof msg, &n);
  throw std::runtime_error(std::string(onde) + ": " + reinterpret_cast<char*>(msg));
}

// The same rows through ODBC parameter arrays: one statement of one row of markers, executed
// with `porArray` rows bound column-wise.
double ArrayODBC(db::TDBConnection& c, std::size_t linhas, std::size_t porArray) {
  Exec(c, "TRUNCATE Pos_Arquivo");
  constexpr std::size_t kLinha = 256;
  std::vector<SQLINTEGER> ordem(porArray);
  std::vector<char> linha(porArray * kLinha);
  std::vector<SQLLEN> indLinha(porArray), indTexto(porArray, SQL_NTS), indFixo(porArray, 0);
  char cnpj[] = "11222333000181", tp[] = "V", proc[] = "N", arq[] = "VENDAS.TXT";
  std::vector<SQL_TIMESTAMP_STRUCT> mov(porArray, SQL_TIMESTAMP_STRUCT{2016, 10, 9, 0, 0, 0, 0});
  std::vector<SQL_TIMESTAMP_STRUCT> dtArq(porArray, SQL_TIMESTAMP_STRUCT{2016, 10, 10, 8, 0, 0, 0});
  // Constant texts repeat per row: a column-wise array needs one element per row.
  auto Repetir = [&](const char* s, std::size_t largura) {
    std::vector<char> v(porArray * largura);
    for (std::size_t r = 0; r < porArray; ++r) std::strcpy(&v[r * largura], s);
    return v;
  };
  std::vector<char> vCnpj = Repetir(cnpj, 21), vTp = Repetir(tp, 2), vProc = Repetir(proc, 2),
                    vArq = Repetir(arq, 101);

  const auto t0 = Relogio::now();
  c.StartTransaction();
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, c.Handle(), &st);
  Checar(SQLSetStmtAttr(st, SQL_ATTR_PARAM_BIND_TYPE, SQL_PARAM_BIND_BY_COLUMN, 0), st, "bind");
  SQLUSMALLINT n = 0;
  auto Texto = [&](std::vector<char>& v, SQLLEN largura, SQLULEN tamanho) {
    Checar(SQLBindParameter(st, ++n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, tamanho, 0, v.data(),
                            largura, indTexto.data()),
           st, "bind");
  };
  auto Data = [&](std::vector<SQL_TIMESTAMP_STRUCT>& v) {
    Checar(SQLBindParameter(st, ++n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23,
                            3, v.data(), sizeof(SQL_TIMESTAMP_STRUCT), indFixo.data()),
           st, "bind");
  };
  Texto(vCnpj, 21, 20);
  Data(mov);
  Texto(vTp, 2, 1);
  Checar(SQLBindParameter(st, ++n, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, ordem.data(),
                          0, indFixo.data()),
         st, "bind");
  Checar(SQLBindParameter(st, ++n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 4000, 0, linha.data(),
                          kLinha, indLinha.data()),
         st, "bind");
  Texto(vProc, 2, 1);
  Data(dtArq);
  Texto(vArq, 101, 100);
  SQLCHAR sql[] =
      "INSERT INTO Pos_Arquivo (cnpj_cpf, dt_movimento, tp_arquivo, nr_ordem, linha, processado, "
      "dt_arquivo, arquivo) VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
  Checar(SQLPrepare(st, sql, SQL_NTS), st, "prepare");
  for (std::size_t feitas = 0; feitas < linhas;) {
    const std::size_t k = std::min(porArray, linhas - feitas);
    for (std::size_t r = 0; r < k; ++r) {
      const std::size_t i = feitas + r + 1;
      ordem[r] = static_cast<SQLINTEGER>(i);
      const std::string s = Linha(i);
      std::memcpy(&linha[r * kLinha], s.data(), s.size());
      indLinha[r] = static_cast<SQLLEN>(s.size());
    }
    Checar(SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(k), 0), st,
           "paramset");
    Checar(SQLExecute(st), st, "execute");
    while (SQLMoreResults(st) == SQL_SUCCESS) {
    }
    feitas += k;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  c.Commit();
  const double s = std::chrono::duration<double>(Relogio::now() - t0).count();
  if (Contar(c) != linhas) throw std::runtime_error("linhas faltando na tabela (array)");
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "uso: bench_lote BANCO LINHAS\n");
    return 2;
  }
  const std::string banco = argv[1];
  const std::size_t linhas = std::stoul(argv[2]);
  try {
    db::TDBConnection c;
    Conectar(c, banco);
    const std::size_t padrao = db::BatchRows(db::BatchLimitsFor(c.Profile().Engine()), 8);
    std::printf("rows: %zu, columns bound: 8, rows per INSERT by default: %zu\n", linhas, padrao);
    double antes = 0, depois = 0;
    for (std::size_t porComando : {std::size_t{1}, std::size_t{10}, std::size_t{50}, padrao}) {
      const TMedida m = Aplicar(c, linhas, porComando);
      std::printf(
          "apply, %4zu rows per INSERT: %.3f s, %.0f rows/s, RSS with the cache %.1f MB, peak "
          "during the apply %.1f MB\n",
          porComando, m.segundos, linhas / m.segundos, m.rssAntesKB / 1024.0, m.picoKB / 1024.0);
      if (porComando == 1) antes = m.segundos;
      if (porComando == padrao) depois = m.segundos;
    }
    for (std::size_t porArray : {padrao, std::size_t{1000}}) {
      const double s = ArrayODBC(c, linhas, porArray);
      std::printf("ODBC parameter arrays, %4zu rows per execute: %.3f s, %.0f rows/s\n", porArray,
                  s, linhas / s);
    }
    Exec(c, "TRUNCATE Pos_Arquivo");
    std::printf("lote: before %.0f rows/s, after %.0f rows/s, ratio %.2f\n", linhas / antes,
                linhas / depois, antes / depois);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_lote: %s\n", e.what());
    return 1;
  }
  return 0;
}
