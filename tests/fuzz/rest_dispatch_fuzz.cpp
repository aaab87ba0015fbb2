// Feeds arbitrary paths, queries and bodies to the REST dispatcher: percent-decoding, path
// splitting, method lookup, argument binding and every type conversion. Checks that nothing
// crashes and that every JSON answer is pure ASCII.
#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rest/uRestHTTPWebDispatcher.h"
#include "rest/uRestServerClass.h"
#include "rest/uRestURL.h"

namespace {

using namespace tamrix::rest;

struct TsmFuzz {
  std::string Texto(const std::string& a, std::int32_t b, std::int64_t c, bool d, double e,
                    TDateTime f, const boost::json::value& g, std::string& saida) {
    saida = a;
    return a + std::to_string(b + c) + (d ? "1" : "0") + std::to_string(e) +
           std::to_string(f.Valor) + (g.is_null() ? "" : "j");
  }
  TDateTime Data(TDateTime d) { return d; }
  boost::json::value Eco(const boost::json::value& v) { return v; }
  void Var(std::int32_t& v) { v = v / 2; }
};

TRestServer& Servidor() {
  static TRestServer s;
  static const bool pronto = [] {
    s.RegistrarClasse(
        TTabelaClasse<TsmFuzz>("F")
            .Metodo("Texto", &TsmFuzz::Texto, "a", "b", "c", "d", "e", "f", "g", Out("s"))
            .Metodo("Data", &TsmFuzz::Data, "d")
            .Metodo("Eco", &TsmFuzz::Eco, "v")
            .Metodo("Var", &TsmFuzz::Var, tamrix::rest::Var("v")));
    s.Iniciar();
    return true;
  }();
  (void)pronto;
  return s;
}

std::string_view Cortar(std::string_view& dados) {
  const std::size_t fim = dados.find('\n');
  const std::string_view parte = dados.substr(0, fim);
  dados = fim == std::string_view::npos ? std::string_view{} : dados.substr(fim + 1);
  return parte;
}

}  // namespace

// Input: first byte picks the verb; then lines "path", "query", and the rest is the body.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kVerbos[] = {"GET", "POST", "PUT", "DELETE", "HEAD", "PATCH"};
  std::string_view dados(reinterpret_cast<const char*>(data) + 1, size - 1);
  tamrix::util::TWebRequest req;
  req.Method = kVerbos[data[0] % 6];
  req.MethodType = tamrix::util::ClassificarMetodo(req.Method);
  req.RawPathInfo = "/tamrix/rest/F/" + std::string(Cortar(dados));
  req.PathInfo = DecodificarSegmento(req.RawPathInfo);
  req.Query = std::string(Cortar(dados));
  req.Content = dados.empty() ? req.Query : std::string(dados);
  req.DeclaredBody = !dados.empty();
  tamrix::util::TWebResponse resp;
  TRestHTTPWebDispatcher d(Servidor());
  if (!d.DispatchRequest(req, resp)) std::abort();
  if (!resp.Content.empty() && resp.Content.front() == '{')
    for (unsigned char c : resp.Content)
      if (c < 0x20 || c > 0x7E) std::abort();
  Servidor().Sessoes().TerminarTodasSessoes();
  return 0;
}
