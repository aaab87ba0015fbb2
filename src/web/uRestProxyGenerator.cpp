#include "web/uRestProxyGenerator.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <fstream>
#include <system_error>

#include "diagnostics/uExcecoes.h"
#include "rest/uJSONWriter.h"

namespace tamrix::web {

namespace {

constexpr std::array<std::string_view, 47> kPalavrasReservadas = {
    "arguments", "await",      "break",   "case",    "catch",      "class",     "const",
    "continue",  "debugger",   "default", "delete",  "do",         "else",      "enum",
    "eval",      "export",     "extends", "false",   "finally",    "for",       "function",
    "if",        "implements", "import",  "in",      "instanceof", "interface", "let",
    "new",       "null",       "package", "private", "protected",  "public",    "return",
    "static",    "super",      "switch",  "this",    "throw",      "true",      "try",
    "typeof",    "var",        "void",    "while",   "with"};

bool EhIdentificadorJS(std::string_view s) {
  if (s.empty()) return false;
  auto inicio = [](unsigned char c) { return std::isalpha(c) || c == '_' || c == '$'; };
  if (!inicio(static_cast<unsigned char>(s[0]))) return false;
  for (unsigned char c : s)
    if (!(inicio(c) || std::isdigit(c))) return false;
  return std::find(kPalavrasReservadas.begin(), kPalavrasReservadas.end(), s) ==
         kPalavrasReservadas.end();
}

std::string Texto(std::string_view s) {
  std::string out;
  rest::EscreverTextoJSON(out, s);
  return out;
}

const char* NomeTipo(TProxyParamType t) {
  switch (t) {
    case TProxyParamType::ptString:
      return "string";
    case TProxyParamType::ptInt32:
      return "int32";
    case TProxyParamType::ptInt64:
      return "int64";
    case TProxyParamType::ptBoolean:
      return "boolean";
    case TProxyParamType::ptDouble:
      return "double";
    case TProxyParamType::ptDateTime:
      return "datetime";
    case TProxyParamType::ptJSONValue:
      return "json";
    case TProxyParamType::ptDataSet:
      return "dataset";
    case TProxyParamType::ptOther:
      break;
  }
  return "other";
}

const char* NomeDirecao(TProxyParamDirection d) {
  switch (d) {
    case TProxyParamDirection::pdIn:
      return "in";
    case TProxyParamDirection::pdOut:
      return "out";
    case TProxyParamDirection::pdInOut:
      break;
  }
  return "inout";
}

bool EhEntrada(const TProxyParam& p) {
  return p.Direcao != TProxyParamDirection::pdOut;
}

constexpr std::string_view kNomeRetorno = "onResult";

// JavaScript names of the input parameters; names that cannot stand as identifiers (or
// clash with the callback) become argN.
std::vector<std::string> NomesEntradas(const TProxyMethod& m) {
  std::vector<std::string> nomes;
  for (const auto& p : m.Parametros) {
    if (!EhEntrada(p)) continue;
    bool usavel = EhIdentificadorJS(p.Nome) && p.Nome != kNomeRetorno &&
                  std::find(nomes.begin(), nomes.end(), p.Nome) == nomes.end();
    nomes.push_back(usavel ? p.Nome : "arg" + std::to_string(nomes.size() + 1));
  }
  return nomes;
}

std::string Juntar(const std::vector<std::string>& v) {
  std::string out;
  for (const auto& s : v) {
    if (!out.empty()) out += ", ";
    out += s;
  }
  return out;
}

std::string Membro(std::string_view nome) {
  return EhIdentificadorJS(nome) ? "." + std::string(nome) : "[" + Texto(nome) + "]";
}

void EscreverInformacaoMetodo(std::string& out, const TProxyMethod& m) {
  auto vm = VerboDoMetodo(m.Nome);
  out += "    " + Texto(m.Nome) + ": {\"verb\": " + Texto(vm.Verbo) +
         ", \"url\": " + Texto(vm.NomeURL) + ", \"params\": [";
  bool primeiro = true;
  for (const auto& p : m.Parametros) {
    if (!primeiro) out += ", ";
    primeiro = false;
    out += "{\"name\": " + Texto(p.Nome) + ", \"type\": \"" + NomeTipo(p.Tipo) +
           "\", \"direction\": \"" + NomeDirecao(p.Direcao) + "\"}";
  }
  out += "], \"result\": ";
  out += m.Resultado ? "\"" + std::string(NomeTipo(*m.Resultado)) + "\"" : "null";
  out += "}";
}

void EscreverConstrutor(std::string& out, const TProxyClass& c) {
  out += "function " + c.Nome + "(connectionInfo) {\n";
  out += "  var executor = new ServerFunctionExecutor(" + Texto(c.Nome) + ", connectionInfo);\n";
  out += "  this.executor = executor;\n";
  for (const auto& m : c.Metodos) {
    auto vm = VerboDoMetodo(m.Nome);
    auto nomes = NomesEntradas(m);
    std::string flags;
    for (const auto& p : m.Parametros) {
      if (!EhEntrada(p)) continue;
      if (!flags.empty()) flags += ", ";
      flags += p.Tipo == TProxyParamType::ptJSONValue ? "true" : "false";
    }
    std::string chamada =
        Texto(vm.NomeURL) + ", " + Texto(vm.Verbo) + ", [" + Juntar(nomes) + "], [" + flags + "]";
    auto comRetorno = nomes;
    comRetorno.emplace_back(kNomeRetorno);
    out += "\n  this" + Membro(m.Nome) + " = function(" + Juntar(comRetorno) + ") {\n";
    out += "    return executor.executeMethod(" + chamada + ", " + std::string(kNomeRetorno) +
           ");\n  };\n";
    out += "  this" + Membro(m.Nome + "_URL") + " = function(" + Juntar(nomes) + ") {\n";
    out += "    return executor.getMethodURL(" + chamada + ");\n  };\n";
  }
  out += "}\n\n";
}

}  // namespace

TVerboMetodo VerboDoMetodo(std::string_view nome) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kPrefixos = {
      {{"update", "POST"}, {"accept", "PUT"}, {"cancel", "DELETE"}}};
  for (auto [prefixo, verbo] : kPrefixos)
    if (nome.size() > prefixo.size() && nome.starts_with(prefixo))
      return {std::string(verbo), std::string(nome.substr(prefixo.size()))};
  return {"GET", std::string(nome)};
}

TRestProxyGenerator::TRestProxyGenerator(std::vector<std::string> classesExcluidas)
    : classesExcluidas_(std::move(classesExcluidas)) {}

std::string TRestProxyGenerator::Gerar(const std::vector<TProxyClass>& todas) const {
  std::vector<const TProxyClass*> classes;
  std::vector<std::string> deixadas;
  for (const auto& c : todas) {
    if (std::find(classesExcluidas_.begin(), classesExcluidas_.end(), c.Nome) !=
        classesExcluidas_.end())
      continue;
    if (EhIdentificadorJS(c.Nome))
      classes.push_back(&c);
    else
      deixadas.push_back(c.Nome);
  }

  std::string out =
      "// TAMRIX Rest Server: client library of the server methods.\n"
      "// Written by the server when missing or older than its executable; edits are lost.\n"
      "// Needs js/tamrixrest.js (ServerFunctionExecutor) loaded before it.\n";
  for (const auto& n : deixadas)
    out += "// Class " + Texto(n) + " left out: its name is not a JavaScript identifier.\n";

  out += "\nvar JSProxyClassList = {\n";
  for (std::size_t i = 0; i < classes.size(); ++i) {
    out += "  " + Texto(classes[i]->Nome) + ": [";
    for (std::size_t j = 0; j < classes[i]->Metodos.size(); ++j)
      out += (j ? ", " : "") + Texto(classes[i]->Metodos[j].Nome);
    out += i + 1 < classes.size() ? "],\n" : "]\n";
  }
  out += "};\n\nvar JSProxyMethodInfo = {\n";
  for (std::size_t i = 0; i < classes.size(); ++i) {
    out += "  " + Texto(classes[i]->Nome) + ": {\n";
    const auto& metodos = classes[i]->Metodos;
    for (std::size_t j = 0; j < metodos.size(); ++j) {
      EscreverInformacaoMetodo(out, metodos[j]);
      out += j + 1 < metodos.size() ? ",\n" : "\n";
    }
    out += i + 1 < classes.size() ? "  },\n" : "  }\n";
  }
  out += "};\n\n";
  for (const auto* c : classes) EscreverConstrutor(out, *c);
  return out;
}

void TRestProxyGenerator::GravarArquivo(const std::filesystem::path& arquivo,
                                        const std::vector<TProxyClass>& classes) const {
  static std::atomic<unsigned> contador{0};
  const std::string texto = Gerar(classes);
  auto temporario = arquivo;
  temporario += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++contador);
  auto falhar = [&](const std::string& motivo) {
    std::error_code ignorado;
    std::filesystem::remove(temporario, ignorado);
    throw diagnostics::Exception("Não foi possível gravar o arquivo \"" + arquivo.string() +
                                 "\": " + motivo);
  };
  {
    std::ofstream f(temporario, std::ios::binary | std::ios::trunc);
    if (!f) falhar("o arquivo temporário não pôde ser criado");
    f.write(texto.data(), static_cast<std::streamsize>(texto.size()));
    f.close();
    if (!f) falhar("erro de escrita");
  }
  std::error_code erro;
  std::filesystem::rename(temporario, arquivo, erro);
  if (erro) falhar(erro.message());
}

}  // namespace tamrix::web
