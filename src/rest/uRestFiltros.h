// The request filters a client sets in the query string of a REST call: "ss" crops string
// results, "t" crops the rows of data-set results, "json" asks for streams as JSON.
//
//   ?t.c=10            first ten rows of every data set of the answer
//   ?t[1].r=20,10      rows 20 to 29 of the data set at index 1 of the "result" array
//   ?ss.o=2&ss.c=3     three characters from the third on, of every string result
//
// A setting is `{filter}[{positions}].{field}={value}`: positions are the indexes of the
// "result" array it applies to (all when absent), fields "o" offset, "c" count,
// "r" "{offset},{count}". Names that are not a known filter and field are ignored.
#ifndef TAMRIX_REST_URESTFILTROS_H
#define TAMRIX_REST_URESTFILTROS_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "rest/uJSONDataSets.h"
#include "rest/uRestExcecoes.h"
#include "rest/uRestTypes.h"
#include "rest/uRestURL.h"

namespace tamrix::rest {

enum class TTipoFiltro { tfTexto /* "ss" */, tfTabela /* "t" */ };

// A query string the call must not run with: status 409 with Motivo as reason text (a
// setting rejected, or two settings on one output), or 500 without a body (a value or a
// position list that does not convert).
class EFiltroRest : public ERestException {
 public:
  EFiltroRest(int status, std::string motivo);
  std::string ClassName() const override { return "EFiltroRest"; }
  int Status() const { return status_; }
  const std::string& Motivo() const { return motivo_; }

 private:
  int status_;
  std::string motivo_;
};

class TFiltrosRest {
 public:
  // Reads every field of the query in order (the session-id fields "SESSIONID" and "SID"
  // are skipped); the first faulty field raises EFiltroRest.
  static TFiltrosRest Ler(const std::vector<TCampoRest>& campos);

  bool StreamComoJSON() const { return streamComoJSON_; }
  bool Vazio() const { return instancias_.empty(); }

  // The window filter `tipo` sets for the result element at `indice`; null when none.
  // Offsets and counts of "ss" are characters (code points), of "t" rows.
  const TJanelaLinhas* Janela(TTipoFiltro tipo, std::size_t indice) const;

  // Crops every string element of saidas by its "ss" window (a TTextoJSON one becomes a
  // plain string then).
  void CortarTextos(std::vector<TSaidaRest>& saidas) const;

 private:
  // The settings of one filter over one set of positions: "t.o" and "t.c" share one.
  struct TInstancia {
    TTipoFiltro Tipo;
    std::optional<std::vector<std::size_t>> Posicoes;  // sorted, unique; none: every element
    std::optional<std::uint64_t> Inicio;
    std::optional<std::uint64_t> Quantidade;
    TJanelaLinhas Janela;
  };

  void Acrescentar(const TCampoRest& campo);

  std::vector<TInstancia> instancias_;
  bool streamComoJSON_ = false;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTFILTROS_H
