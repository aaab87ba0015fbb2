#include "web/uRestServerMetaDataProvider.h"

namespace tamrix::web {

namespace {

TProxyParamType Tipo(rest::TTipoRest t) {
  using rest::TTipoRest;
  switch (t) {
    case TTipoRest::trString:
      return TProxyParamType::ptString;
    case TTipoRest::trInt32:
      return TProxyParamType::ptInt32;
    case TTipoRest::trInt64:
      return TProxyParamType::ptInt64;
    case TTipoRest::trBoolean:
      return TProxyParamType::ptBoolean;
    case TTipoRest::trDouble:
      return TProxyParamType::ptDouble;
    case TTipoRest::trDateTime:
      return TProxyParamType::ptDateTime;
    case TTipoRest::trJSONValue:
    case TTipoRest::trJSONObject:
    case TTipoRest::trJSONArray:
      return TProxyParamType::ptJSONValue;
    case TTipoRest::trDataSets:
      return TProxyParamType::ptDataSet;
    case TTipoRest::trVoid:
      break;
  }
  return TProxyParamType::ptOther;
}

TProxyParamDirection Direcao(rest::TDirecaoParametro d) {
  switch (d) {
    case rest::TDirecaoParametro::dpIn:
      return TProxyParamDirection::pdIn;
    case rest::TDirecaoParametro::dpOut:
      return TProxyParamDirection::pdOut;
    case rest::TDirecaoParametro::dpInOut:
      break;
  }
  return TProxyParamDirection::pdInOut;
}

}  // namespace

std::vector<TProxyClass> DescreverClasses(const rest::TRegistroClasses& registro) {
  std::vector<TProxyClass> classes;
  for (const auto& c : registro.Classes()) {
    TProxyClass pc{c.Nome, {}};
    for (const auto& m : c.Metodos) {
      TProxyMethod pm{m.Nome, {}, std::nullopt};
      for (const auto& p : m.Parametros)
        pm.Parametros.push_back({p.Nome, Tipo(p.Tipo), Direcao(p.Direcao)});
      if (m.TipoResultado != rest::TTipoRest::trVoid) pm.Resultado = Tipo(m.TipoResultado);
      pc.Metodos.push_back(std::move(pm));
    }
    classes.push_back(std::move(pc));
  }
  return classes;
}

std::function<std::vector<TProxyClass>()> RestServerMetaDataProvider(
    const rest::TRestServer& servidor) {
  return [&servidor] {
    auto registro = servidor.Registro();
    return registro ? DescreverClasses(*registro) : std::vector<TProxyClass>{};
  };
}

}  // namespace tamrix::web
