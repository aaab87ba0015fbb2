#include "config/uArquivoIni.h"

#include <ini.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "util/uAparar.h"

namespace tamrix::config {

namespace {

// Feeds the parser one line at a time with the line's leading blanks removed, so that an
// indented key is a key and not the continuation of the previous value, and with an
// over-long line cut at the buffer and its rest skipped rather than read as a new line.
struct TLeitorLinhas {
  const std::string* texto;
  std::size_t pos = 0;
};

char* LerLinha(char* destino, int capacidade, void* fluxo) {
  auto* l = static_cast<TLeitorLinhas*>(fluxo);
  const std::string& s = *l->texto;
  if (l->pos >= s.size() || capacidade < 2) return nullptr;
  std::size_t fim = s.find('\n', l->pos);
  fim = fim == std::string::npos ? s.size() : fim + 1;
  std::size_t ini = l->pos;
  while (ini < fim && (s[ini] == ' ' || s[ini] == '\t')) ++ini;
  std::size_t n = fim - ini;
  if (n > static_cast<std::size_t>(capacidade - 1)) n = static_cast<std::size_t>(capacidade - 1);
  std::memcpy(destino, s.data() + ini, n);
  destino[n] = '\0';
  l->pos = fim;
  return destino;
}

int GuardarValor(void* usuario, const char* secao, const char* chave, const char* valor) {
  auto* m = static_cast<std::map<std::pair<std::string, std::string>, std::string>*>(usuario);
  std::string v = valor != nullptr ? valor : "";
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  m->emplace(std::make_pair(util::MinusculasASCII(secao), util::MinusculasASCII(chave)),
             std::move(v));  // emplace keeps the first occurrence
  return 1;
}

std::string LerTudo(const std::string& arquivo, bool& ok) {
  std::ifstream in(arquivo, std::ios::binary);
  ok = static_cast<bool>(in);
  return ok ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())
            : std::string();
}

std::string SemQuebras(std::string_view v) {
  std::string r;
  for (char c : v) {
    if (c != '\r' && c != '\n') r += c;
  }
  return r;
}

// "[name]" (blanks allowed around) gives name, anything else nothing.
std::optional<std::string> NomeSecao(std::string_view linha) {
  const std::string_view l = util::ApararVisao(linha);
  if (l.size() < 2 || l.front() != '[') return std::nullopt;
  const auto fecha = l.find(']');
  if (fecha == std::string_view::npos) return std::nullopt;
  return std::string(util::ApararVisao(l.substr(1, fecha - 1)));
}

std::optional<std::string> NomeChave(std::string_view linha) {
  const std::string_view l = util::ApararVisao(linha);
  if (l.empty() || l.front() == ';' || l.front() == '#') return std::nullopt;
  const auto igual = l.find('=');
  if (igual == std::string_view::npos) return std::nullopt;
  return std::string(util::ApararVisao(l.substr(0, igual)));
}

}  // namespace

TArquivoIni TArquivoIni::LerTexto(const std::string& texto) {
  TArquivoIni ini;
  TLeitorLinhas leitor{&texto};
  ini_parse_stream(LerLinha, &leitor, GuardarValor, &ini.valores_);  // bad lines are skipped
  return ini;
}

TArquivoIni TArquivoIni::Ler(const std::string& arquivo) {
  bool ok = false;
  const std::string texto = LerTudo(arquivo, ok);
  return LerTexto(texto);
}

std::optional<std::string> TArquivoIni::Valor(std::string_view secao,
                                              std::string_view chave) const {
  const auto it = valores_.find({util::MinusculasASCII(secao), util::MinusculasASCII(chave)});
  if (it == valores_.end()) return std::nullopt;
  return it->second;
}

void GravarSecaoIni(const std::string& arquivo, std::string_view secao,
                    const std::vector<std::pair<std::string, std::string>>& chaves) {
  bool existe = false;
  const std::string antigo = LerTudo(arquivo, existe);

  std::vector<std::string> linhas;
  for (std::size_t pos = 0; pos < antigo.size();) {
    std::size_t fim = antigo.find('\n', pos);
    fim = fim == std::string::npos ? antigo.size() : fim + 1;
    std::string l = antigo.substr(pos, fim - pos);
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    linhas.push_back(std::move(l));
    pos = fim;
  }

  std::vector<bool> gravada(chaves.size(), false);
  std::vector<std::string> saida;
  bool naSecao = false;
  bool secaoVista = false;
  auto fecharSecao = [&] {
    // Missing keys go after the section's last non-blank line.
    std::size_t onde = saida.size();
    while (onde > 0 && util::EstaVazio(saida[onde - 1])) --onde;
    std::vector<std::string> novas;
    for (std::size_t i = 0; i < chaves.size(); ++i) {
      if (!gravada[i]) novas.push_back(chaves[i].first + "=" + SemQuebras(chaves[i].second));
      gravada[i] = true;
    }
    saida.insert(saida.begin() + static_cast<long>(onde), novas.begin(), novas.end());
  };
  for (const std::string& l : linhas) {
    if (const auto s = NomeSecao(l)) {
      if (naSecao) fecharSecao();
      naSecao = !secaoVista && util::TextoIgualSemCaixa(*s, secao);
      secaoVista = secaoVista || naSecao;
      saida.push_back(l);
      continue;
    }
    if (naSecao) {
      if (const auto k = NomeChave(l)) {
        bool trocada = false;
        for (std::size_t i = 0; i < chaves.size(); ++i) {
          if (util::TextoIgualSemCaixa(*k, chaves[i].first)) {
            if (!gravada[i]) saida.push_back(chaves[i].first + "=" + SemQuebras(chaves[i].second));
            gravada[i] = true;
            trocada = true;
            break;
          }
        }
        if (trocada) continue;
      }
    }
    saida.push_back(l);
  }
  if (naSecao) {
    fecharSecao();
  } else if (!secaoVista) {
    if (!saida.empty() && !util::EstaVazio(saida.back())) saida.emplace_back();
    saida.push_back("[" + std::string(secao) + "]");
    fecharSecao();
  }

  std::string texto;
  for (const std::string& l : saida) texto += l + "\r\n";
  const std::string temp = arquivo + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << texto;
    out.flush();
    if (!out) {
      std::remove(temp.c_str());
      throw std::runtime_error("Não foi possível gravar o arquivo " + arquivo + ".");
    }
  }
  if (std::rename(temp.c_str(), arquivo.c_str()) != 0) {
    std::remove(temp.c_str());
    throw std::runtime_error("Não foi possível gravar o arquivo " + arquivo + ".");
  }
}

}  // namespace tamrix::config
