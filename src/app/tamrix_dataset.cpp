// tamrix-dataset [FILE]: prints every data set of a REST answer, of a value read back from the
// result cache ({"result":{...}}) or of a bare container as CSV, RFC 4180, on standard output.
// NULL is an empty field, an empty value is "".
// Exit status: 0 done, 1 the answer is an error envelope, 2 unreadable input or usage.
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/uExcecoes.h"
#include "rest/uDataSetReader.h"

namespace tamrix::app {
namespace {

using rest::TDataSetLido;

void EscreverCampo(std::string& out, std::string_view v) {
  if (v.empty() || v.find_first_of(",\"\r\n") != std::string_view::npos) {
    out += '"';
    for (char c : v) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  } else {
    out += v;
  }
}

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string r = "0x";
  for (unsigned char b : bytes) {
    r += kHex[b >> 4];
    r += kHex[b & 15];
  }
  return r;
}

void EscreverCSV(std::string& out, const TDataSetLido& ds) {
  for (std::size_t i = 0; i < ds.Colunas.size(); ++i) {
    if (i) out += ',';
    EscreverCampo(out, ds.Colunas[i].Nome);
  }
  out += "\r\n";
  for (const auto& linha : ds.Linhas) {
    for (std::size_t i = 0; i < linha.size(); ++i) {
      if (i) out += ',';
      if (!linha[i]) continue;
      if (ds.Colunas[i].Tipo == rest::TTipoColuna::tcBinario)
        EscreverCampo(out, Hex(*linha[i]));
      else
        EscreverCampo(out, *linha[i]);
    }
    out += "\r\n";
  }
}

std::string LerEntrada(int argc, char** argv) {
  if (argc > 2) throw std::invalid_argument("uso: tamrix-dataset [ARQUIVO]");
  if (argc == 2 && std::string_view(argv[1]) != "-") {
    std::ifstream f(argv[1], std::ios::binary);
    if (!f) throw std::runtime_error(std::string("não foi possível abrir ") + argv[1]);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  return std::string(std::istreambuf_iterator<char>(std::cin), {});
}

// The data sets of a parsed input: a bare container, a cache answer whose "result" is one
// value instead of a list (a value that is no container holds none), or a plain answer.
std::vector<TDataSetLido> DataSetsDe(const boost::json::value& v, std::string_view texto) {
  if (rest::EhContainerDataSets(v)) return rest::LerContainerDataSets(v);
  if (const auto* o = v.if_object()) {
    if (const auto* r = o->if_contains("result"); r && !r->is_array())
      return rest::EhContainerDataSets(*r) ? rest::LerContainerDataSets(*r)
                                           : std::vector<TDataSetLido>{};
  }
  return rest::LerRespostaDataSets(texto);
}

int Executar(int argc, char** argv) {
  std::vector<TDataSetLido> dataSets;
  try {
    const std::string entrada = LerEntrada(argc, argv);
    boost::system::error_code ec;
    const boost::json::value v = boost::json::parse(entrada, ec);
    if (ec) throw std::runtime_error("a entrada não é JSON válido");
    if (const auto* o = v.if_object(); o && o->contains("error") && !o->contains("result")) {
      const auto& e = o->at("error");
      std::cerr << "tamrix-dataset: erro do servidor: "
                << (e.is_string() ? std::string(e.get_string()) : boost::json::serialize(e))
                << "\n";
      return 1;
    }
    dataSets = DataSetsDe(v, entrada);
  } catch (const std::exception& e) {
    std::cerr << "tamrix-dataset: " << e.what() << "\n";
    return 2;
  }
  std::string out;
  for (std::size_t i = 0; i < dataSets.size(); ++i) {
    if (i) out += "\r\n";
    EscreverCSV(out, dataSets[i]);
  }
  std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
  std::cout.flush();
  return std::cout ? 0 : 2;
}

}  // namespace
}  // namespace tamrix::app

int main(int argc, char** argv) {
  return tamrix::app::Executar(argc, argv);
}
