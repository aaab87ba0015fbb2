// How a server class publishes its methods: one table per class, read by the REST server.
//
//   TRestServerClass TsmUsuario::Tabela() {
//     return TTabelaClasse<TsmUsuario>("TsmUsuario")
//         .Metodo("Login", &TsmUsuario::Login, "pspUsuario", "pspSenha", "pspToken",
//                 Out("pspMsg"))
//         .Metodo("ConsultarDadosUsuario", &TsmUsuario::ConsultarDadosUsuario, "pspUsuario",
//                 "pspSenha");
//   }
//
// Parameter and result types come from the member function; the table gives one name per
// parameter, in order, wrapping in Out(...) or Var(...) exactly the non-const reference
// parameters (checked at compile time). Input parameters are taken by value or const
// reference: std::string, 32/64-bit signed integers, bool, double, TDateTime and
// boost::json::value (a JSON parameter may receive an object, a string or null). Results may
// also be boost::json::object / array and TJSONDataSetsPtr, or void.
#ifndef TAMRIX_REST_URESTSERVERCLASS_H
#define TAMRIX_REST_URESTSERVERCLASS_H

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "rest/uRestConversao.h"
#include "rest/uRestTypes.h"

namespace tamrix::rest {

// When instances of a class are made: once per client session (the system's choice for every
// class), once per call, or once for the whole server.
enum class TLifeCycle { lcSession, lcInvocation, lcServer };

// "Session", "Invocation" or "Server" (any case); ERestException for anything else.
TLifeCycle LifeCycleDeTexto(std::string_view texto);

struct TParametroRest {
  std::string Nome;
  TTipoRest Tipo;
  TDirecaoParametro Direcao;
};

struct TMetodoRest {
  std::string Nome;
  std::vector<TParametroRest> Parametros;
  TTipoRest TipoResultado = TTipoRest::trVoid;
  // Runs the method on instancia (made by the class's Fabrica); args has one entry per
  // parameter (ignored for out parameters) and is consumed: a JSON argument moves into the
  // method. Answers the out/var values in declaration order, then the result. Conversion
  // failures raise EConvertError before the method runs.
  std::function<std::vector<TSaidaRest>(void* instancia, std::vector<TArgumentoRest> args)> Invocar;
};

struct TRestServerClass {
  std::string Nome;
  TLifeCycle LifeCycle = TLifeCycle::lcSession;
  std::function<std::shared_ptr<void>()> Fabrica;
  std::vector<TMetodoRest> Metodos;
};

// Markers of the table for out and var (in/out) parameters.
struct Out {
  constexpr explicit Out(const char* nome) : Nome(nome) {}
  const char* Nome;
};
struct Var {
  constexpr explicit Var(const char* nome) : Nome(nome) {}
  const char* Nome;
};

namespace detail {

template <class P>
constexpr bool kInteiro32 = std::is_integral_v<P>&& std::is_signed_v<P> && sizeof(P) == 4;
template <class P>
constexpr bool kInteiro64 = std::is_integral_v<P>&& std::is_signed_v<P> && sizeof(P) == 8;
template <class>
constexpr bool kSempreFalso = false;

template <class P>
constexpr TTipoRest TipoDe() {
  if constexpr (std::is_void_v<P>)
    return TTipoRest::trVoid;
  else if constexpr (std::is_same_v<P, std::string>)
    return TTipoRest::trString;
  else if constexpr (std::is_same_v<P, bool>)
    return TTipoRest::trBoolean;
  else if constexpr (kInteiro32<P>)
    return TTipoRest::trInt32;
  else if constexpr (kInteiro64<P>)
    return TTipoRest::trInt64;
  else if constexpr (std::is_same_v<P, double>)
    return TTipoRest::trDouble;
  else if constexpr (std::is_same_v<P, TDateTime>)
    return TTipoRest::trDateTime;
  else if constexpr (std::is_same_v<P, boost::json::value>)
    return TTipoRest::trJSONValue;
  else if constexpr (std::is_same_v<P, boost::json::object>)
    return TTipoRest::trJSONObject;
  else if constexpr (std::is_same_v<P, boost::json::array>)
    return TTipoRest::trJSONArray;
  else if constexpr (std::is_same_v<P, TJSONDataSetsPtr>)
    return TTipoRest::trDataSets;
  else if constexpr (std::is_same_v<P, TTextoJSON>)
    return TTipoRest::trString;
  else
    static_assert(kSempreFalso<P>, "tipo sem conversão no protocolo REST");
}

template <class P>
constexpr bool kEntradaValida =
    std::is_same_v<P, std::string> || std::is_same_v<P, bool> || kInteiro32<P> || kInteiro64<P> ||
    std::is_same_v<P, double> || std::is_same_v<P, TDateTime> ||
    std::is_same_v<P, boost::json::value>;

template <class P>
P Converter(TArgumentoRest& a) {
  if constexpr (std::is_same_v<P, std::string>)
    return ArgumentoParaString(a);
  else if constexpr (std::is_same_v<P, bool>)
    return ArgumentoParaBoolean(a);
  else if constexpr (kInteiro32<P>)
    return static_cast<P>(ArgumentoParaInt32(a));
  else if constexpr (kInteiro64<P>)
    return static_cast<P>(ArgumentoParaInt64(a));
  else if constexpr (std::is_same_v<P, double>)
    return ArgumentoParaDouble(a);
  else if constexpr (std::is_same_v<P, TDateTime>)
    return ArgumentoParaDateTime(a);
  else
    return ArgumentoParaJSON(std::move(a));
}

template <class P>
TValorRest ParaValor(P&& v) {
  using Q = std::decay_t<P>;
  if constexpr (kInteiro32<Q>)
    return static_cast<std::int32_t>(v);
  else if constexpr (kInteiro64<Q>)
    return static_cast<std::int64_t>(v);
  else if constexpr (std::is_same_v<Q, boost::json::object> ||
                     std::is_same_v<Q, boost::json::array>)
    return boost::json::value(std::forward<P>(v));
  else
    return Q(std::forward<P>(v));
}

template <class D>
constexpr TDirecaoParametro DirecaoDe() {
  if constexpr (std::is_same_v<D, Out>)
    return TDirecaoParametro::dpOut;
  else if constexpr (std::is_same_v<D, Var>)
    return TDirecaoParametro::dpInOut;
  else
    return TDirecaoParametro::dpIn;
}

// In parameters go to the method as rvalues (nothing reads them afterwards); out and var ones
// as the lvalues the results are collected from.
template <class D, class V>
decltype(auto) Passar(V& v) {
  if constexpr (DirecaoDe<D>() == TDirecaoParametro::dpIn)
    return std::move(v);
  else
    return (v);
}

inline std::string NomeDe(const char* n) {
  return n;
}
inline std::string NomeDe(std::string_view n) {
  return std::string(n);
}
inline std::string NomeDe(Out o) {
  return o.Nome;
}
inline std::string NomeDe(Var v) {
  return v.Nome;
}

template <class A>
constexpr bool kReferenciaMutavel =
    std::is_lvalue_reference_v<A> && !std::is_const_v<std::remove_reference_t<A>>;

template <class T, class R, class... A, class... D, class F, std::size_t... I>
TMetodoRest MontarMetodo(std::string nome, F f, [[maybe_unused]] std::tuple<D...> decl,
                         std::index_sequence<I...>) {
  static_assert(sizeof...(A) == sizeof...(D), "a tabela deve dar um nome por parâmetro");
  static_assert(((kReferenciaMutavel<A> == (DirecaoDe<D>() != TDirecaoParametro::dpIn)) && ...),
                "Out(...)/Var(...) marcam exatamente os parâmetros por referência não const");
  static_assert(((kEntradaValida<std::decay_t<A>>)&&...), "tipo de parâmetro sem conversão");
  TMetodoRest m;
  m.Nome = std::move(nome);
  (m.Parametros.push_back({NomeDe(std::get<I>(decl)), TipoDe<std::decay_t<A>>(), DirecaoDe<D>()}),
   ...);
  m.TipoResultado = TipoDe<std::decay_t<R>>();
  m.Invocar = [f](void* instancia, std::vector<TArgumentoRest> args) {
    [[maybe_unused]] TArgumentoRest nada;
    [[maybe_unused]] auto arg = [&](std::size_t i) -> TArgumentoRest& {
      return i < args.size() ? args[i] : nada;
    };
    // Braced initialisation converts in declaration order, so the first bad argument is named.
    std::tuple<std::decay_t<A>...> v{(DirecaoDe<D>() == TDirecaoParametro::dpOut
                                          ? std::decay_t<A>{}
                                          : Converter<std::decay_t<A>>(arg(I)))...};
    T& objeto = *static_cast<T*>(instancia);
    std::vector<TSaidaRest> saidas;
    auto coletarSaidas = [&] {
      (
          [&] {
            if constexpr (DirecaoDe<D>() != TDirecaoParametro::dpIn)
              saidas.push_back({TipoDe<std::decay_t<A>>(), ParaValor(std::move(std::get<I>(v)))});
          }(),
          ...);
    };
    if constexpr (std::is_void_v<R>) {
      std::invoke(f, objeto, Passar<D>(std::get<I>(v))...);
      coletarSaidas();
    } else {
      auto r = std::invoke(f, objeto, Passar<D>(std::get<I>(v))...);
      coletarSaidas();
      saidas.push_back({TipoDe<std::decay_t<R>>(), ParaValor(std::move(r))});
    }
    return saidas;
  };
  return m;
}

}  // namespace detail

// Builder of the table of one server class T.
template <class T>
class TTabelaClasse {
 public:
  // Instances made with T's default constructor.
  explicit TTabelaClasse(std::string nome, TLifeCycle ciclo = TLifeCycle::lcSession) requires
      std::is_default_constructible_v<T>
      : TTabelaClasse(
            std::move(nome), [] { return std::make_shared<T>(); }, ciclo) {}

  TTabelaClasse(std::string nome, std::function<std::shared_ptr<T>()> fabrica,
                TLifeCycle ciclo = TLifeCycle::lcSession) {
    classe_.Nome = std::move(nome);
    classe_.LifeCycle = ciclo;
    classe_.Fabrica = [fabrica = std::move(fabrica)]() -> std::shared_ptr<void> {
      return fabrica();
    };
  }

  // Publishes f under nome; one declaration (a name, Out(name) or Var(name)) per parameter.
  template <class R, class... A, class... D>
  TTabelaClasse& Metodo(std::string nome, R (T::*f)(A...), D... decl) {
    return Acrescentar<R, A...>(std::move(nome), f, decl...);
  }
  template <class R, class... A, class... D>
  TTabelaClasse& Metodo(std::string nome, R (T::*f)(A...) const, D... decl) {
    return Acrescentar<R, A...>(std::move(nome), f, decl...);
  }
  template <class R, class... A, class... D>
  TTabelaClasse& Metodo(std::string nome, R (T::*f)(A...) noexcept, D... decl) {
    return Acrescentar<R, A...>(std::move(nome), f, decl...);
  }

  operator TRestServerClass() const { return classe_; }

 private:
  template <class R, class... A, class F, class... D>
  TTabelaClasse& Acrescentar(std::string nome, F f, D... decl) {
    classe_.Metodos.push_back(detail::MontarMetodo<T, R, A...>(
        std::move(nome), f, std::tuple<D...>(decl...), std::index_sequence_for<D...>{}));
    return *this;
  }

  TRestServerClass classe_;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTSERVERCLASS_H
