// Reading data-set containers back: a whole REST answer, one container value, a data text
// or a binary storage stream, down to columns and rows of text. Strict: any departure from
// what the server writes (nesting, ids, "FLength", line breaks, zlib stream, binary format)
// throws diagnostics::Exception with the reason, so tests that decode answers check them too.
#ifndef TAMRIX_REST_UDATASETREADER_H
#define TAMRIX_REST_UDATASETREADER_H

#include <boost/json/value.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "rest/uDataSetFormat.h"

namespace tamrix::rest {

struct TDataSetLido {
  std::string Nome;
  std::vector<TColunaDataSet> Colunas;
  std::vector<TLinhaDataSet> Linhas;  // text forms of uDataSetFormat.h; binary as raw bytes
};

// Every data set of every container in the "result" array of an answer body, in order.
// An {"error":"..."} body throws an Exception carrying the server's message.
std::vector<TDataSetLido> LerRespostaDataSets(std::string_view corpo);

// The data sets of one container, given as JSON text or as a parsed value.
std::vector<TDataSetLido> LerContainerDataSets(std::string_view json);
std::vector<TDataSetLido> LerContainerDataSets(const boost::json::value& container);

// True when v has the container's outer shape (its "type" is the collection's).
bool EhContainerDataSets(const boost::json::value& v);

// The binary storage stream inside a data text (JSON escapes already undone): checks the
// line rule, decodes the Base64 and inflates the zlib stream.
std::string DecodificarTextoDados(std::string_view texto);

// Columns and rows of one binary storage stream (Nome left empty).
TDataSetLido LerArmazenamentoDataSet(std::string_view binario);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_UDATASETREADER_H
