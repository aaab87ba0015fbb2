#include "web/uWebFileDispatcher.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "diagnostics/uExcecoes.h"
#include "util/uCaixaTexto.h"

namespace tamrix::web {

namespace fs = std::filesystem;
using util::TMethodType;

namespace {

std::vector<std::string_view> Dividir(std::string_view s, std::string_view separadores) {
  std::vector<std::string_view> partes;
  std::size_t pos = 0;
  while (pos < s.size()) {
    auto fim = s.find_first_of(separadores, pos);
    if (fim == std::string_view::npos) fim = s.size();
    if (fim > pos) partes.push_back(s.substr(pos, fim - pos));
    pos = fim + 1;
  }
  return partes;
}

std::optional<int> Numero(std::string_view s) {
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

std::optional<unsigned> Mes(std::string_view s) {
  static constexpr std::array<std::string_view, 12> kMeses = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  for (unsigned i = 0; i < kMeses.size(); ++i)
    if (util::TextoIgualSemCaixa(s, kMeses[i])) return i + 1;
  return std::nullopt;
}

bool EhLetra(std::string_view s) {
  return !s.empty() && std::isalpha(static_cast<unsigned char>(s[0]));
}

// Whether p lies strictly below raiz (both absolute and normal).
bool DentroDe(const fs::path& p, const fs::path& raiz) {
  auto [ir, ip] = std::mismatch(raiz.begin(), raiz.end(), p.begin(), p.end());
  if (ir != raiz.end()) {
    // A root ending in a separator leaves one empty element behind.
    if (!(std::next(ir) == raiz.end() && ir->empty())) return false;
  }
  return ip != p.end();
}

}  // namespace

std::optional<std::string_view> TipoPorExtensao(std::string_view ext) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kTabela = {{
      {"css", "text/css"},
      {"js", "text/javascript"},
      {"png", "image/x-png"},
      {"htm", "text/html"},
      {"html", "text/html"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"jpe", "image/jpeg"},
      {"gif", "image/gif"},
  }};
  for (auto [e, tipo] : kTabela)
    if (e == ext) return tipo;
  return std::nullopt;
}

std::optional<std::chrono::system_clock::time_point> LerDataHTTP(std::string_view texto) {
  texto = texto.substr(0, texto.find(';'));  // old clients add "; length=..."
  auto t = Dividir(texto, " ,-\t");
  if (!t.empty() && EhLetra(t[0]) && !Mes(t[0])) t.erase(t.begin());  // weekday
  if (!t.empty() &&
      (util::TextoIgualSemCaixa(t.back(), "GMT") || util::TextoIgualSemCaixa(t.back(), "UTC")))
    t.pop_back();
  if (t.size() != 4) return std::nullopt;
  std::optional<int> dia, ano;
  std::optional<unsigned> mes;
  std::string_view hora;
  if (EhLetra(t[0])) {  // asctime: Nov 6 08:49:37 1994
    mes = Mes(t[0]);
    dia = Numero(t[1]);
    hora = t[2];
    ano = Numero(t[3]);
  } else {  // 06 Nov 1994 08:49:37, or 06-Nov-94 08:49:37
    dia = Numero(t[0]);
    mes = Mes(t[1]);
    ano = Numero(t[2]);
    hora = t[3];
    if (ano && t[2].size() == 2) *ano += *ano < 70 ? 2000 : 1900;
  }
  auto hms = Dividir(hora, ":");
  if (!dia || !mes || !ano || hms.size() != 3) return std::nullopt;
  auto h = Numero(hms[0]), m = Numero(hms[1]), s = Numero(hms[2]);
  if (!h || !m || !s || *h > 23 || *m > 59 || *s > 60 || *h < 0 || *m < 0 || *s < 0)
    return std::nullopt;
  using namespace std::chrono;
  year_month_day ymd{year{*ano}, month{*mes}, day{static_cast<unsigned>(std::max(*dia, 0))}};
  if (!ymd.ok()) return std::nullopt;
  return sys_days{ymd} + hours{*h} + minutes{*m} + seconds{*s};
}

TWebFileDispatcher::TWebFileDispatcher(fs::path raiz, TBeforeDispatch antes)
    : raiz_(std::move(raiz)), antes_(std::move(antes)) {}

std::optional<fs::path> TWebFileDispatcher::ResolverCaminho(std::string_view caminho) const {
  if (caminho.empty() || caminho[0] != '/') return std::nullopt;
  fs::path arquivo = raiz_;
  std::size_t pos = 1;
  while (true) {
    auto fim = caminho.find('/', pos);
    auto segmento = caminho.substr(pos, fim == std::string_view::npos ? fim : fim - pos);
    if (segmento.empty() || segmento == "." || segmento == ".." ||
        segmento.find_first_of(std::string_view("\\\0", 2)) != std::string_view::npos)
      return std::nullopt;
    arquivo /= fs::path(std::string(segmento));
    if (fim == std::string_view::npos) break;
    pos = fim + 1;
  }
  std::error_code erro;
  auto raiz = fs::weakly_canonical(fs::absolute(raiz_, erro), erro);
  if (erro) return std::nullopt;
  auto real = fs::weakly_canonical(fs::absolute(arquivo, erro), erro);
  if (erro || !DentroDe(real, raiz)) return std::nullopt;
  return real;
}

bool TWebFileDispatcher::Dispatch(const util::TWebRequest& req, util::TWebResponse& resp) const {
  if (req.MethodType != TMethodType::mtGet && req.MethodType != TMethodType::mtHead) return false;
  std::string_view caminho = req.PathInfo;
  auto barra = caminho.rfind('/');
  if (barra == std::string_view::npos) return false;
  auto nome = caminho.substr(barra + 1);
  auto ponto = nome.rfind('.');
  if (ponto == std::string_view::npos) return false;
  auto tipo = TipoPorExtensao(util::MinusculasASCII(nome.substr(ponto + 1)));
  if (!tipo) return false;
  if (util::MinusculasASCII(caminho.substr(0, barra + 1)).starts_with("/templates/")) return false;
  auto arquivo = ResolverCaminho(caminho);
  if (!arquivo) return false;
  // A link inside the root that points into the templates folder is excluded as well.
  std::error_code erro;
  auto relativo = arquivo->lexically_relative(fs::weakly_canonical(fs::absolute(raiz_), erro));
  if (!relativo.empty() && util::TextoIgualSemCaixa(relativo.begin()->string(), "templates") &&
      std::next(relativo.begin()) != relativo.end())
    return false;
  if (antes_) antes_(*arquivo);
  ServirArquivo(*arquivo, *tipo, req, resp);
  return true;
}

void TWebFileDispatcher::ServirArquivo(const fs::path& arquivo, std::string_view tipo,
                                       const util::TWebRequest& req, util::TWebResponse& resp) {
  std::error_code erro;
  if (!fs::is_regular_file(arquivo, erro)) {
    resp.StatusCode = 404;
    resp.Content.clear();
    resp.ContentStream.reset();
    return;
  }
  auto hora = fs::last_write_time(arquivo, erro);
  if (erro)
    throw diagnostics::Exception("Não foi possível ler a data do arquivo \"" + arquivo.string() +
                                 "\": " + erro.message());
  auto modificado = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(hora));

  if (req.HasField("If-Modified-Since")) {
    auto desde = LerDataHTTP(req.GetFieldByName("If-Modified-Since"));
    if (desde) {
      auto diferenca = modificado > *desde ? modificado - *desde : *desde - modificado;
      if (diferenca < std::chrono::seconds(1)) {
        resp.StatusCode = 304;
        resp.ContentType = std::string(tipo);
        resp.Content.clear();
        resp.ContentStream.reset();
        return;
      }
    }
  }

  std::ifstream f(arquivo, std::ios::binary);
  std::string bytes;
  if (f) bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  if (!f && !f.eof())
    throw diagnostics::Exception("Não foi possível ler o arquivo \"" + arquivo.string() + "\".");

  std::string tipoFinal(tipo);
  if (tipoFinal.starts_with("text/") && bytes.starts_with("\xEF\xBB\xBF")) {
    if (util::MinusculasASCII(tipoFinal).find("charset") == std::string::npos)
      tipoFinal += "; charset=utf-8";
    bytes.erase(0, 3);
  }
  resp.ContentType = std::move(tipoFinal);
  resp.LastModified = modificado;
  resp.Content.clear();
  resp.ContentStream = std::move(bytes);
}

}  // namespace tamrix::web
