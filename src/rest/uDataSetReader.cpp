#include "rest/uDataSetReader.h"

#include <zlib.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "diagnostics/uExcecoes.h"
#include "rest/uUTF8.h"
#include "util/uBase64.h"

namespace tamrix::rest {

namespace {

namespace json = boost::json;
using diagnostics::Exception;

constexpr std::string_view kTipoColecao = "Data.JSONReflect.TJSONDataSets";

// Pieces appended one by one (a chain of + on temporaries trips GCC's -Wrestrict).
template <class... Partes>
[[noreturn]] void Invalido(const Partes&... partes) {
  std::string msg = "Contêiner de conjuntos de dados inválido: ";
  (msg.append(std::string_view(partes)), ...);
  msg += '.';
  throw Exception(msg);
}

json::value Analisar(std::string_view texto) {
  boost::system::error_code ec;
  json::value v = json::parse(texto, ec);
  if (ec) {
    std::string msg = "Resposta que não é JSON válido: ";
    msg += ec.message();
    msg += '.';
    throw Exception(msg);
  }
  return v;
}

// Walks the nesting, checking every level's pairs, their order and the running ids.
class TLeitorContainer {
 public:
  std::vector<TDataSetLido> Ler(const json::value& v) {
    const json::object& campos = Nivel(v, kTipoColecao, {"FDataSets"});
    const json::object& nomeValor =
        Nivel(campos.at("FDataSets"), "System.JSON.TJSONObject", {"FMembers", "FOwned"});
    Verdadeiro(nomeValor, "FOwned");
    const json::array* membros = nomeValor.at("FMembers").if_array();
    if (!membros) Invalido("\"FMembers\" não é uma lista");
    std::vector<TDataSetLido> r;
    for (const json::value& m : *membros) {
      const json::object& par =
          Nivel(m, "System.JSON.TJSONPair", {"FJsonString", "FJsonValue", "FOwned"});
      TDataSetLido ds = {};
      ds.Nome = Texto(par.at("FJsonString"));
      const std::string dados = Texto(par.at("FJsonValue"));
      Verdadeiro(par, "FOwned");
      TDataSetLido conteudo = LerArmazenamentoDataSet(DecodificarTextoDados(dados));
      ds.Colunas = std::move(conteudo.Colunas);
      ds.Linhas = std::move(conteudo.Linhas);
      r.push_back(std::move(ds));
    }
    return r;
  }

 private:
  const json::object& Nivel(const json::value& v, std::string_view tipo,
                            std::initializer_list<std::string_view> nomes) {
    const json::object* o = v.if_object();
    if (!o || o->size() != 3) Invalido("nível sem os pares \"type\", \"id\" e \"fields\"");
    auto it = o->begin();
    if (it->key() != "type" || !it->value().is_string() || it->value().get_string() != tipo)
      Invalido("esperado o tipo \"", tipo, "\"");
    ++it;
    if (it->key() != "id" || !it->value().is_int64() || it->value().get_int64() != proximoId_)
      Invalido("esperado o id ", std::to_string(proximoId_));
    ++proximoId_;
    ++it;
    const json::object* campos = it->key() == "fields" ? it->value().if_object() : nullptr;
    if (!campos || campos->size() != nomes.size()) Invalido("campos de \"", tipo, "\"");
    auto c = campos->begin();
    for (std::string_view n : nomes) {
      if (c->key() != n) Invalido("esperado o campo \"", n, "\"");
      ++c;
    }
    return *campos;
  }

  std::string Texto(const json::value& v) {
    const json::object& texto = Nivel(v, "System.JSON.TJSONString", {"FStrBuffer", "FOwned"});
    const json::object& buffer = Nivel(texto.at("FStrBuffer"), "System.SysUtils.TStringBuilder",
                                       {"FData", "FLength", "FMaxCapacity"});
    Verdadeiro(texto, "FOwned");
    const json::string* dados = buffer.at("FData").if_string();
    if (!dados) Invalido("\"FData\" não é texto");
    const std::string_view s(dados->data(), dados->size());
    const json::value& tamanho = buffer.at("FLength");
    if (!tamanho.is_int64() ||
        static_cast<std::uint64_t>(tamanho.get_int64()) != ContarUnidadesUTF16(s))
      Invalido("\"FLength\" não confere com o texto");
    const json::value& capacidade = buffer.at("FMaxCapacity");
    if (!capacidade.is_int64() || capacidade.get_int64() != 2147483647)
      Invalido("\"FMaxCapacity\"");
    return std::string(s);
  }

  static void Verdadeiro(const json::object& o, std::string_view nome) {
    const json::value& v = o.at(nome);
    if (!v.is_bool() || !v.get_bool()) Invalido("\"", nome, "\" não é true");
  }

  std::int64_t proximoId_ = 1;
};

// Strict Base64 with the container's line rule: CR LF after every 76th character and
// nowhere else.
std::string DecodificarBase64Linhas(std::string_view t) {
  std::string limpo;
  limpo.reserve(t.size());
  std::size_t coluna = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (coluna == 76) {
      if (t.substr(i, 2) != "\r\n")
        Invalido("linha do texto de dados sem CR LF após 76 caracteres");
      ++i;
      coluna = 0;
      continue;
    }
    limpo += t[i];
    ++coluna;
  }
  if (coluna == 76) Invalido("falta CR LF após a última linha cheia");
  if (limpo.empty() || limpo.size() % 4 != 0) Invalido("tamanho do texto Base64");
  std::string r;
  r.reserve(limpo.size() / 4 * 3);
  for (std::size_t i = 0; i < limpo.size(); i += 4) {
    const bool ultimo = i + 4 == limpo.size();
    int v[4];
    int preenchimento = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = limpo[i + k];
      if (c == '=' && ultimo && k >= 2) {
        v[k] = 0;
        ++preenchimento;
        continue;
      }
      if (preenchimento > 0 || (v[k] = util::ValorBase64(c)) < 0)
        Invalido("caractere Base64 inválido");
    }
    const std::uint32_t g = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    r += static_cast<char>(g >> 16);
    if (preenchimento < 2) r += static_cast<char>((g >> 8) & 0xFF);
    if (preenchimento < 1) r += static_cast<char>(g & 0xFF);
  }
  return r;
}

std::string Descomprimir(std::string_view comprimido) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw Exception("Falha ao iniciar a descompressão.");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(comprimido.data()));
  z.avail_in = static_cast<uInt>(comprimido.size());
  std::string r;
  unsigned char bloco[32 * 1024];
  int rc;
  do {
    z.next_out = bloco;
    z.avail_out = sizeof bloco;
    rc = inflate(&z, Z_NO_FLUSH);
    r.append(reinterpret_cast<char*>(bloco), sizeof bloco - z.avail_out);
  } while (rc == Z_OK);
  const bool sobra = z.avail_in != 0;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) Invalido("fluxo zlib inválido ou incompleto");
  if (sobra) Invalido("bytes depois do fluxo zlib");
  return r;
}

}  // namespace

bool EhContainerDataSets(const json::value& v) {
  const json::object* o = v.if_object();
  if (!o) return false;
  const json::value* t = o->if_contains("type");
  return t && t->is_string() && t->get_string() == kTipoColecao;
}

std::vector<TDataSetLido> LerContainerDataSets(const json::value& container) {
  return TLeitorContainer().Ler(container);
}

std::vector<TDataSetLido> LerContainerDataSets(std::string_view texto) {
  return LerContainerDataSets(Analisar(texto));
}

std::vector<TDataSetLido> LerRespostaDataSets(std::string_view corpo) {
  const json::value v = Analisar(corpo);
  const json::object* o = v.if_object();
  if (o && o->size() == 1 && o->contains("error")) {
    const json::value& e = o->at("error");
    throw Exception(e.is_string() ? std::string(e.get_string()) : json::serialize(e));
  }
  const json::array* resultado = nullptr;
  if (o && o->contains("result")) resultado = o->at("result").if_array();
  if (!resultado) throw Exception("Resposta sem a lista \"result\".");
  std::vector<TDataSetLido> r;
  for (const json::value& e : *resultado) {
    if (!EhContainerDataSets(e)) continue;
    for (auto& ds : LerContainerDataSets(e)) r.push_back(std::move(ds));
  }
  return r;
}

std::string DecodificarTextoDados(std::string_view texto) {
  return Descomprimir(DecodificarBase64Linhas(texto));
}

TDataSetLido LerArmazenamentoDataSet(std::string_view binario) {
  TLeitorDataSet leitor(binario);
  TDataSetLido r;
  r.Colunas = leitor.Colunas();
  TLinhaDataSet linha;
  while (leitor.ProximaLinha(linha)) r.Linhas.push_back(linha);
  return r;
}

}  // namespace tamrix::rest
