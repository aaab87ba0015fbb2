// The sales-file logic on one tenant connection: validation of a request, storage of the
// decoded lines with their import and registration in one transaction, and the
// integration log.
//
// The object and its connection belong to the thread of one request; nothing is shared.
#ifndef TAMRIX_INTEGRATION_UINTEGRACAOARQUIVO_H
#define TAMRIX_INTEGRATION_UINTEGRACAOARQUIVO_H

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/uClasses.h"
#include "db/uDBQuery.h"
#include "db/uDBTypes.h"
#include "integration/uLinhasArquivo.h"
#include "integration/uTipoArquivo.h"

namespace tamrix::integration {

class TIntegracaoArquivo : public core::TClasses {
 public:
  TIntegracaoArquivo() = default;

  // Runs the checks in order (token, CNPJ, movement date, file name, extension, not yet
  // imported, file object); the first that fails adds its message (codes 2 to 8) to
  // pjoMsg and gives false. True, with nothing added, when all pass. The token check uses
  // the tenant directory's single instance; the duplicate check this object's connection.
  // Database errors of those two checks propagate.
  bool TestarDadosIntegracao(const std::string& psToken, const std::string& psCNPJ,
                             const std::string& psDt_Movimento, const std::string& psNomeArquivo,
                             const boost::json::value& pjoArquivo, boost::json::object& pjoMsg);

  // True when the kind is taVendas, the list is given and psCNPJ, exactly as received,
  // occurs in its lines joined by CR LF (each line followed by one). No copy of the file
  // is made unless psCNPJ itself holds CR or LF.
  static bool TestarCnpjArquivo(TTipoArquivo pTipoArquivo, const std::string& psCNPJ,
                                const TLinhasArquivo* poLstArquivo);

  // Whether the text (trimmed; year from characters 1-4, month 6-7, day 9-10, counted in
  // UTF-16 units, each 0 when not an integer) is a calendar date in the years 1-9999.
  static bool TestarDataMovimento(const std::string& psDt_Movimento);
  // The date of TestarDataMovimento at midnight; the day zero (30/12/1899) when it is not a date.
  static db::TDBTimeStamp DataMovimento(const std::string& psDt_Movimento);

  // Whether POS_Controle already registers this file name for this CNPJ (both as received).
  bool ArquivoJaImportado(const std::string& psCNPJ, const std::string& psNomeArquivo);

  // Stores the non-blank lines of poLstArquivo as Pos_Arquivo rows (pipes added where
  // missing, nr_ordem counting blank lines too), runs POS_spcImportaArquivo and inserts the
  // POS_Controle row, all in one transaction on ConexaoBD (an open one is used and ended).
  // Each row's text is made from its line as it is stored. True when committed; false
  // with the reason in psMsg otherwise (nothing of the file then remains). A kind other
  // than taVendas gives false with psMsg empty, touching nothing; a date that is not one,
  // or no line to store, gives false with the matching message text, touching nothing.
  // A row the database refuses gives false with that row's own error in psMsg (also in
  // UpdateError). Failures to set up or fill the rows propagate, after rolling back.
  bool GravarArquivo(TTipoArquivo pTipoArquivo, const TLinhasArquivo& poLstArquivo,
                     const std::string& psCNPJ, const std::string& psDt_Movimento,
                     const std::string& psNomeArquivo, std::string& psMsg);

  // Writes one LogIntegracaoArquivo row with the code (first pair) and the text (second
  // pair) of the message; nothing when pjoLog is missing. Database errors propagate.
  void Log(const std::string& psToken, const std::string& psCNPJ,
           const boost::json::object* pjoLog);
  void Log(const std::string& psToken, const std::string& psCNPJ, int piCd_Mensagem,
           const std::string& psLog);

  // How many rows are held in memory before they are sent (within the one transaction);
  // keeps a large file from being held as rows all at once. As arrays, also the rows of one
  // statement (and never more than 1 MiB of text).
  void SetLinhasPorEnvio(std::size_t piLinhas) { FiLinhasPorEnvio = piLinhas == 0 ? 1 : piLinhas; }
  // Whether the lines go as arrays, thousands to a statement, where the engine takes them
  // (PostgreSQL; on by default). Off, or on SQL Server, they go as cached rows in multi-row
  // INSERTs.
  void SetLinhasEmArrays(bool pbArrays) { FbLinhasEmArrays = pbArrays; }

  static std::string SiglaTipoArquivo(TTipoArquivo pTipoArquivo);

 private:
  void PrepararTabelaArquivo(db::TDBQuery& poQuery);
  // The transaction: sends the rows (pEnviarLinhas, false once a row is refused, with
  // UpdateError set), imports, registers, commits; false with psMsg set, rolled back, on any
  // failure.
  bool AplicarArquivo(TTipoArquivo pTipoArquivo, const std::function<bool()>& pEnviarLinhas,
                      const std::string& psCNPJ, const db::TDBTimeStamp& pdDt_Movimento,
                      const std::string& psNomeArquivo, std::string& psMsg);
  // Appends and posts the rows of the lines from piProxima on, until FiLinhasPorEnvio rows
  // are cached or the list ends; piProxima moves past the lines used.
  void PreencherLinhas(db::TDBQuery& poQuery, const TLinhasArquivo& poLstArquivo,
                       TLinhasArquivo::TIterador& piProxima, const std::string& psSigla,
                       const std::string& psCNPJ, const db::TDBTimeStamp& pdDt_Movimento,
                       const db::TDBTimeStamp& pdDt_Arquivo, const std::string& psNomeArquivo);
  bool ImportarArquivo(const std::string& psCNPJ, TTipoArquivo pTipoArquivo,
                       const db::TDBTimeStamp& pdDt_Movimento, const std::string& psNomeArquivo);
  bool InserirControle(const std::string& psCNPJ, TTipoArquivo pTipoArquivo, bool pbControle,
                       const std::string& psNomeArquivo, const db::TDBTimeStamp& pdDt_Movimento,
                       std::string& psMsg);
  void InserirLog(const std::string& psToken, const std::string& psCNPJ, int piCd_Mensagem,
                  const std::string& psLog);

  std::size_t FiLinhasPorEnvio = 5000;
  bool FbLinhasEmArrays = true;
};

}  // namespace tamrix::integration

#endif  // TAMRIX_INTEGRATION_UINTEGRACAOARQUIVO_H
