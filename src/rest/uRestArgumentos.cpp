#include "rest/uRestArgumentos.h"

#include <boost/json/parse.hpp>

#include "rest/uRestExcecoes.h"

namespace tamrix::rest {

std::optional<std::string> CorpoDaChamada(TComandoRest comando, const util::TWebRequest& req,
                                          const std::vector<TCampoRest>& camposQuery,
                                          std::string* conteudo) {
  if (comando != TComandoRest::crPost && comando != TComandoRest::crPut) return std::nullopt;
  const std::string& bruto = req.Content;
  if (comando == TComandoRest::crPost && bruto.size() > 1 && bruto.front() != '[' &&
      bruto.front() != '{') {
    std::vector<TCampoRest> parametros = camposQuery;
    if (req.ContentType() == "application/x-www-form-urlencoded")
      for (auto& campo : LerCampos(bruto))
        if (campo.Nome.rfind("dss", 0) == 0) parametros.push_back(std::move(campo));
    if (parametros.size() == 1 && !parametros.front().Nome.empty()) {
      if (parametros.front().Valor.empty()) return std::nullopt;
      return std::move(parametros.front().Valor);
    }
  }
  if (bruto.empty()) return std::nullopt;
  if (conteudo != nullptr && conteudo == &bruto) return std::move(*conteudo);
  return bruto;
}

std::vector<TArgumentoRest> VincularArgumentos(const TMetodoRest& metodo,
                                               const std::string& nomeCompleto,
                                               const std::vector<std::string>& textos,
                                               std::optional<std::string> corpo) {
  std::vector<TArgumentoRest> args(metodo.Parametros.size());
  std::size_t proximoTexto = 0;
  std::size_t servidos = 0;
  bool corpoUsado = false;
  boost::json::array* elementos = nullptr;  // "_parameters" being handed out
  boost::json::value corpoJSON;
  std::size_t proximoElemento = 0;

  for (std::size_t i = 0; i < metodo.Parametros.size(); ++i) {
    if (metodo.Parametros[i].Direcao == TDirecaoParametro::dpOut) continue;
    ++servidos;
    if (proximoTexto < textos.size()) {
      const std::string& t = textos[proximoTexto++];
      if (t != "null") args[i] = TArgumentoTexto{t};
    } else if (elementos) {
      if (proximoElemento < elementos->size()) args[i] = std::move((*elementos)[proximoElemento++]);
    } else if (corpo && !corpoUsado) {
      corpoUsado = true;
      boost::system::error_code ec;
      corpoJSON = boost::json::parse(*corpo, ec);
      corpo.reset();  // the parsed value is the body from here on
      if (ec) throw ERestException("Message content is not a valid JSON value.");
      auto* obj = corpoJSON.if_object();
      if (obj && obj->size() == 1 && obj->begin()->key() == "_parameters" &&
          obj->begin()->value().is_array()) {
        elementos = &obj->begin()->value().get_array();
        if (!elementos->empty()) args[i] = std::move((*elementos)[proximoElemento++]);
      } else {
        args[i] = std::move(corpoJSON);
      }
    }
  }
  if (proximoTexto < textos.size())
    throw ERestException("Server method " + nomeCompleto + " consumed only " +
                         std::to_string(servidos) + " input parameters out of " +
                         std::to_string(textos.size()) +
                         ". Either call with more parameters or change method definition.");
  return args;
}

}  // namespace tamrix::rest
