// The binary data-set storage format (docs/dataset-format.md): column descriptions and rows
// in one byte stream, written row by row and read back row by row. Values travel as text in
// both directions; each type has one text form, so writing and reading round-trip.
#ifndef TAMRIX_REST_UDATASETFORMAT_H
#define TAMRIX_REST_UDATASETFORMAT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrix::rest {

inline constexpr std::string_view kMarcaDataSet = "TXDS";
inline constexpr std::uint16_t kVersaoDataSet = 1;

// How a column's values are stored. The codes are the bytes of the format: never renumber.
enum class TTipoColuna : std::uint8_t {
  tcLogico = 1,     // "true" / "false"
  tcInteiro16 = 2,  // decimal text
  tcInteiro32 = 3,
  tcInteiro64 = 4,
  tcDecimal = 5,        // exact decimal text: numeric, decimal, money
  tcReal = 6,           // approximate number, kept as the database's decimal text
  tcData = 7,           // "YYYY-MM-DD"
  tcHora = 8,           // "hh:mm:ss[.fffffffff]"
  tcDataHora = 9,       // "YYYY-MM-DD hh:mm:ss[.fffffffff]"
  tcDataHoraFuso = 10,  // "YYYY-MM-DD hh:mm:ss[.fffffffff]+hh:mm"
  tcTexto = 11,         // UTF-8
  tcBinario = 12,       // raw bytes
  tcGuid = 13,          // the database's text form
};

enum class TNulidade : std::uint8_t { nuNaoAceita = 0, nuAceita = 1, nuDesconhecida = 2 };

// One column as the database described it.
struct TColunaDataSet {
  std::string Nome;
  TTipoColuna Tipo = TTipoColuna::tcTexto;
  std::int16_t TipoSQL = 0;    // the driver's SQL type code, kept for clients that want it
  std::uint32_t Tamanho = 0;   // characters or bytes; 0 when unlimited or not reported
  std::uint16_t Precisao = 0;  // digits (numbers) or fraction digits (times)
  std::uint16_t Escala = 0;
  TNulidade Nulidade = TNulidade::nuDesconhecida;

  bool operator==(const TColunaDataSet&) const = default;
};

// One value per column, in column order; nullopt is NULL, "" an empty value.
using TLinhaDataSet = std::vector<std::optional<std::string>>;

// A date and time split into the fields the format stores.
struct TMomentoDataSet {
  int Ano = 1, Mes = 1, Dia = 1;
  int Hora = 0, Minuto = 0, Segundo = 0;
  std::uint32_t Nanos = 0;
  int FusoMinutos = 0;  // offset from UTC (tcDataHoraFuso)
};

// The text form of m for a date or time column type (the fields the type has).
std::string TextoMomento(TTipoColuna tipo, const TMomentoDataSet& m);

// Name of a type code for messages and tools ("Inteiro32"...); "?" for an unknown code.
std::string_view NomeTipoColuna(TTipoColuna tipo);

// Appends the stream's header and column descriptions to buf.
void EscreverCabecalhoDataSet(std::string& buf, const std::vector<TColunaDataSet>& colunas);

// Appends one row. Throws diagnostics::EDatabaseError naming the column when a value's text
// is not a valid text form of its column type; buf may then hold part of the row.
void EscreverLinhaDataSet(std::string& buf, const std::vector<TColunaDataSet>& colunas,
                          const TLinhaDataSet& linha);

// Appends the end mark with the number of rows written.
void EscreverFimDataSet(std::string& buf, std::uint64_t linhas);

// Reads one whole stream. Every fault (bad mark or version, truncation, unknown type, a row
// count that disagrees, bytes after the end) throws diagnostics::Exception.
class TLeitorDataSet {
 public:
  // `dados` must stay alive while the reader is used.
  explicit TLeitorDataSet(std::string_view dados);

  const std::vector<TColunaDataSet>& Colunas() const { return colunas_; }

  // Fills linha with the next row; false after the last one (the end mark is checked then).
  bool ProximaLinha(TLinhaDataSet& linha);

 private:
  std::uint8_t LerByte();
  template <class Inteiro>
  Inteiro LerLE();  // little-endian, sizeof(Inteiro) bytes
  std::uint16_t LerU16();
  std::uint32_t LerU32();
  std::string_view LerBytes(std::size_t n);
  void LerValor(const TColunaDataSet& coluna, std::string& valor);

  std::string_view dados_;
  std::size_t pos_ = 0;
  std::vector<TColunaDataSet> colunas_;
  std::uint64_t linhasLidas_ = 0;
  bool fim_ = false;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_UDATASETFORMAT_H
