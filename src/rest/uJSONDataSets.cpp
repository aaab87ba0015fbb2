#include "rest/uJSONDataSets.h"

#include <isa-l/igzip_lib.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

#include "db/uDBDataSet.h"
#include "diagnostics/uExcecoes.h"
#include "rest/uJSONWriter.h"
#include "rest/uUTF8.h"

namespace tamrix::rest {

namespace {

// The binary image goes to zlib in pieces of this size, so it is never held whole.
constexpr std::size_t kLoteBinario = 64 * 1024;
constexpr std::size_t kLoteZlib = 32 * 1024;
constexpr std::size_t kCaracteresPorLinha = 76;

// Base64 with CR LF after every 76th character (also after a full last line), written as the
// inside of a JSON string: '/' as "\/" and the breaks as "\r\n". Whole lines of 57 bytes
// are encoded at once into a local buffer, which is appended in one piece.
class TBase64JSON {
 public:
  explicit TBase64JSON(std::string& out) : out_(out) {}

  void Acrescentar(const unsigned char* p, std::size_t n) {
    // Complete the line started by the previous piece first.
    while (n > 0 && nResto_ > 0) {
      resto_[nResto_++] = *p++;
      --n;
      if (nResto_ == kBytesPorLinha) {
        Linha(resto_, kBytesPorLinha);
        nResto_ = 0;
      }
    }
    for (; n >= kBytesPorLinha; p += kBytesPorLinha, n -= kBytesPorLinha) Linha(p, kBytesPorLinha);
    for (; n > 0; --n) resto_[nResto_++] = *p++;
  }

  void Terminar() {
    if (nResto_ > 0) Linha(resto_, nResto_);
    nResto_ = 0;
  }

  // Length of the text in UTF-16 units, each break counting two.
  std::uint64_t Unidades() const { return unidades_; }

 private:
  static constexpr std::size_t kBytesPorLinha = 57;  // 76 characters

  // One line: a full one ends with the break, a short (last) one is padded and has none.
  void Linha(const unsigned char* p, std::size_t n) {
    static constexpr char kAlfabeto[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    char texto[kCaracteresPorLinha * 2 + 4];  // every character may be an escaped '/'
    char* t = texto;
    std::size_t caracteres = 0;
    auto Caractere = [&](char c) {
      if (c == '/') *t++ = '\\';
      *t++ = c;
      ++caracteres;
    };
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
      const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
      Caractere(kAlfabeto[(v >> 18) & 63]);
      Caractere(kAlfabeto[(v >> 12) & 63]);
      Caractere(kAlfabeto[(v >> 6) & 63]);
      Caractere(kAlfabeto[v & 63]);
    }
    if (i < n) {
      const std::uint32_t v = (p[i] << 16) | (i + 1 < n ? p[i + 1] << 8 : 0);
      Caractere(kAlfabeto[(v >> 18) & 63]);
      Caractere(kAlfabeto[(v >> 12) & 63]);
      Caractere(i + 1 < n ? kAlfabeto[(v >> 6) & 63] : '=');
      Caractere('=');
    }
    if (caracteres == kCaracteresPorLinha) {
      std::memcpy(t, "\\r\\n", 4);
      t += 4;
      unidades_ += 2;
    }
    unidades_ += caracteres;
    Reservar(static_cast<std::size_t>(t - texto));
    out_.append(texto, static_cast<std::size_t>(t - texto));
  }

  // Room for n more bytes. Past 1 MB the text grows to 64 MB at once: glibc maps blocks that
  // large on their own and unmaps them when freed, so the buffers each growth leaves behind
  // do not stay resident (smaller ones linger in the thread's arena), and only the pages
  // written count.
  void Reservar(std::size_t n) {
    if (out_.capacity() - out_.size() >= n) return;
    std::size_t nova = std::max(out_.capacity() * 2, out_.size() + n);
    if (nova > kLimiarMapeado) nova = std::max(nova, kPassoMapeado);
    out_.reserve(nova);
  }

  static constexpr std::size_t kLimiarMapeado = std::size_t{1} << 20;
  static constexpr std::size_t kPassoMapeado = std::size_t{64} << 20;

  std::string& out_;
  unsigned char resto_[kBytesPorLinha] = {};
  std::size_t nResto_ = 0;  // bytes waiting for a full line
  std::uint64_t unidades_ = 0;
};

// One zlib stream (RFC 1950, 32 KB window) fed piece by piece into a TBase64JSON, deflated
// by ISA-L at its level 1: on registry rows some 7 times as fast as zlib's level 4 and 15
// times its default level, for 4% more bytes than the default level (zlib's levels 1 to 3
// cost 10% or more). Any zlib reader inflates it.
class TCompressorZlib {
 public:
  explicit TCompressorZlib(TBase64JSON& saida)
      : saida_(saida), z_(std::make_unique<isal_zstream>()), nivel_(ISAL_DEF_LVL1_DEFAULT) {
    isal_deflate_init(z_.get());
    z_->gzip_flag = IGZIP_ZLIB;
    z_->level = 1;
    z_->level_buf = nivel_.data();
    z_->level_buf_size = static_cast<std::uint32_t>(nivel_.size());
  }
  TCompressorZlib(const TCompressorZlib&) = delete;
  TCompressorZlib& operator=(const TCompressorZlib&) = delete;

  void Acrescentar(std::string_view dados) {
    z_->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(dados.data()));
    z_->avail_in = static_cast<std::uint32_t>(dados.size());
    Executar(false);
  }

  void Terminar() {
    z_->next_in = nullptr;
    z_->avail_in = 0;
    Executar(true);
  }

 private:
  void Executar(bool fim) {
    z_->end_of_stream = fim ? 1 : 0;
    z_->flush = NO_FLUSH;
    for (;;) {
      z_->next_out = bloco_;
      z_->avail_out = sizeof bloco_;
      if (isal_deflate(z_.get()) != COMP_OK)
        throw diagnostics::Exception("Falha na compressão do conjunto de dados.");
      saida_.Acrescentar(bloco_, sizeof bloco_ - z_->avail_out);
      if (fim ? z_->internal_state.state == ZSTATE_END : (z_->avail_in == 0 && z_->avail_out != 0))
        return;
    }
  }

  TBase64JSON& saida_;
  std::unique_ptr<isal_zstream> z_;  // some 100 KB of state: not on the stack
  std::vector<std::uint8_t> nivel_;  // the level's hash tables
  unsigned char bloco_[kLoteZlib];
};

// Closes a data set the writer opened, also when the writing fails.
class TFechamento {
 public:
  TFechamento(TFonteDataSet& fonte, bool fechar) : fonte_(fonte), fechar_(fechar) {}
  ~TFechamento() {
    if (!fechar_) return;
    try {
      fonte_.Fechar();
    } catch (...) {
      // The failure that is unwinding is the one to report.
    }
  }
  TFechamento(const TFechamento&) = delete;
  TFechamento& operator=(const TFechamento&) = delete;

  void Fechar() {
    if (!fechar_) return;
    fechar_ = false;
    fonte_.Fechar();
  }

 private:
  TFonteDataSet& fonte_;
  bool fechar_;
};

// Writes the data text of one data set into out (JSON-escaped) and returns its length.
std::uint64_t EscreverTextoDados(TFonteDataSet& fonte, std::string& out,
                                 const TJanelaLinhas& janela) {
  const bool estavaAtivo = fonte.Ativo();
  if (!estavaAtivo) fonte.Abrir();
  TFechamento fechamento(fonte, !estavaAtivo);

  TBase64JSON base64(out);
  TCompressorZlib zlib(base64);
  std::string buf;
  buf.reserve(kLoteBinario * 2);
  const std::vector<TColunaDataSet> colunas = fonte.Colunas();
  EscreverCabecalhoDataSet(buf, colunas);

  TLinhaDataSet linha;
  std::uint64_t lidas = 0;
  std::uint64_t escritas = 0;
  while ((!janela.Quantidade || escritas < *janela.Quantidade) && fonte.ProximaLinha(linha)) {
    if (lidas++ < janela.Inicio) continue;
    EscreverLinhaDataSet(buf, colunas, linha);
    ++escritas;
    if (buf.size() >= kLoteBinario) {
      zlib.Acrescentar(buf);
      buf.clear();
    }
  }
  EscreverFimDataSet(buf, escritas);
  zlib.Acrescentar(buf);
  zlib.Terminar();
  base64.Terminar();
  fechamento.Fechar();
  return base64.Unidades();
}

void EscreverInicio(std::string& out, std::string_view tipo, int& id) {
  out += "{\"type\":\"";
  out += tipo;
  out += "\",\"id\":";
  out += std::to_string(id++);
  out += ",\"fields\":{";
}

// Level 4 and 5 of the nesting: a text object with its buffer; `dados` writes FData's
// string (quotes included) and returns its length in UTF-16 units.
template <class Dados>
void EscreverTexto(std::string& out, int& id, Dados&& dados) {
  EscreverInicio(out, "System.JSON.TJSONString", id);
  out += "\"FStrBuffer\":";
  EscreverInicio(out, "System.SysUtils.TStringBuilder", id);
  out += "\"FData\":";
  const std::uint64_t unidades = dados();
  out += ",\"FLength\":";
  out += std::to_string(unidades);
  out += ",\"FMaxCapacity\":2147483647}},\"FOwned\":true}}";
}

template <class T, class V>
T Limitado(V v) {
  return v < 0                               ? T{0}
         : v > std::numeric_limits<T>::max() ? std::numeric_limits<T>::max()
                                             : static_cast<T>(v);
}

TTipoColuna TipoDaColuna(const db::TDBColumn& c) {
  switch (c.sqlType) {
    case SQL_GUID:
      return TTipoColuna::tcGuid;
    case -155:
      return TTipoColuna::tcDataHoraFuso;  // SQL Server datetimeoffset
    default:
      break;
  }
  switch (c.fieldType) {
    case db::TDBFieldType::ftSmallint:
      return TTipoColuna::tcInteiro16;
    case db::TDBFieldType::ftInteger:
      return TTipoColuna::tcInteiro32;
    case db::TDBFieldType::ftLargeint:
      return TTipoColuna::tcInteiro64;
    case db::TDBFieldType::ftBoolean:
      return TTipoColuna::tcLogico;
    case db::TDBFieldType::ftFloat:
      return TTipoColuna::tcReal;
    case db::TDBFieldType::ftBCD:
      return TTipoColuna::tcDecimal;
    case db::TDBFieldType::ftDateTime:
      return TTipoColuna::tcDataHora;
    case db::TDBFieldType::ftDate:
      return TTipoColuna::tcData;
    case db::TDBFieldType::ftTime:
      return TTipoColuna::tcHora;
    case db::TDBFieldType::ftBytes:
      return TTipoColuna::tcBinario;
    default:
      return TTipoColuna::tcTexto;
  }
}

// A query or stored procedure of the db layer seen as a row source.
class TFonteDBDataSet : public TFonteDataSet {
 public:
  TFonteDBDataSet(db::TDBDataSet& dataSet, std::shared_ptr<db::TDBDataSet> dono)
      : dataSet_(dataSet), dono_(std::move(dono)) {}

  std::string Nome() const override { return dataSet_.Name(); }
  bool Ativo() const override { return dataSet_.Active(); }
  void Abrir() override { dataSet_.Open(); }
  void Fechar() override { dataSet_.Close(); }

  std::vector<TColunaDataSet> Colunas() override {
    tipos_.clear();
    std::vector<TColunaDataSet> r;
    for (const db::TDBColumn& c : dataSet_.Columns()) {
      TColunaDataSet d;
      d.Nome = c.name;
      d.Tipo = TipoDaColuna(c);
      d.TipoSQL = c.sqlType;
      d.Tamanho = Limitado<std::uint32_t>(c.size);
      d.Precisao = Limitado<std::uint16_t>(c.precision);
      d.Escala = Limitado<std::uint16_t>(c.scale);
      d.Nulidade = c.nullable == SQL_NO_NULLS   ? TNulidade::nuNaoAceita
                   : c.nullable == SQL_NULLABLE ? TNulidade::nuAceita
                                                : TNulidade::nuDesconhecida;
      tipos_.push_back(d.Tipo);
      r.push_back(std::move(d));
    }
    primeira_ = true;
    return r;
  }

  bool ProximaLinha(TLinhaDataSet& linha) override {
    if (primeira_) {
      // A method may hand the data set over open: the rows start at the first one.
      primeira_ = false;
      dataSet_.First();
    } else {
      dataSet_.Next();
    }
    if (dataSet_.Eof()) return false;
    const int n = dataSet_.FieldCount();
    linha.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      db::TDBField& campo = dataSet_.Fields(i);
      const db::TDBValue& v = campo.Value();
      auto& saida = linha[static_cast<std::size_t>(i)];
      if (db::IsNullValue(v)) {
        saida.reset();
        continue;
      }
      if (!saida) saida.emplace();
      Texto(v, campo.DataType(), tipos_[static_cast<std::size_t>(i)], *saida);
    }
    return true;
  }

 private:
  static void Texto(const db::TDBValue& v, db::TDBFieldType tipoCampo, TTipoColuna tipo,
                    std::string& s) {
    if (const auto* t = std::get_if<std::string>(&v)) {
      s = *t;
    } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
      char tmp[24];
      s.assign(tmp, std::to_chars(tmp, tmp + sizeof tmp, *i).ptr);
    } else if (const auto* d = std::get_if<double>(&v)) {
      char tmp[32];
      s.assign(tmp, std::to_chars(tmp, tmp + sizeof tmp, *d).ptr);
    } else if (const auto* b = std::get_if<bool>(&v)) {
      s = *b ? "true" : "false";
    } else if (const auto* m = std::get_if<db::TDBTimeStamp>(&v)) {
      if (tipo == TTipoColuna::tcData || tipo == TTipoColuna::tcHora ||
          tipo == TTipoColuna::tcDataHora)
        s = TextoMomento(tipo,
                         {m->year, m->month, m->day, m->hour, m->minute, m->second, m->nanos, 0});
      else
        s = db::ValueToText(v, tipoCampo);
    }
  }

  db::TDBDataSet& dataSet_;
  std::shared_ptr<db::TDBDataSet> dono_;  // empty when the caller keeps the data set alive
  std::vector<TTipoColuna> tipos_;
  bool primeira_ = true;
};

}  // namespace

void TJSONDataSets::Adicionar(std::string nome, std::unique_ptr<TFonteDataSet> fonte) {
  if (!fonte) throw diagnostics::Exception("Conjunto de dados nulo na coleção.");
  pares_.push_back({std::move(nome), std::move(fonte)});
}

void TJSONDataSetsWriter::ListAdd(TJSONDataSets& lista, std::unique_ptr<TFonteDataSet> fonte) {
  if (!fonte) throw diagnostics::Exception("Conjunto de dados nulo na coleção.");
  std::string nome = fonte->Nome();
  lista.Adicionar(std::move(nome), std::move(fonte));
}

void TJSONDataSetsWriter::ListAdd(TJSONDataSets& lista, db::TDBDataSet& dataSet) {
  ListAdd(lista, std::make_unique<TFonteDBDataSet>(dataSet, nullptr));
}

void TJSONDataSetsWriter::ListAdd(TJSONDataSets& lista, std::shared_ptr<db::TDBDataSet> dataSet) {
  if (!dataSet) throw diagnostics::Exception("Conjunto de dados nulo na coleção.");
  db::TDBDataSet& ref = *dataSet;
  ListAdd(lista, std::make_unique<TFonteDBDataSet>(ref, std::move(dataSet)));
}

void EscreverJSONDataSets(TJSONDataSets& colecao, std::string& out) {
  EscreverJSONDataSets(colecao, out, TJanelaLinhas{});
}

void EscreverJSONDataSets(TJSONDataSets& colecao, std::string& out, const TJanelaLinhas& janela) {
  const std::size_t tamanhoInicial = out.size();
  try {
    int id = 1;
    EscreverInicio(out, "Data.JSONReflect.TJSONDataSets", id);
    out += "\"FDataSets\":";
    EscreverInicio(out, "System.JSON.TJSONObject", id);
    out += "\"FMembers\":[";
    bool primeiro = true;
    for (auto& par : colecao.Pares()) {
      if (!primeiro) out += ',';
      primeiro = false;
      EscreverInicio(out, "System.JSON.TJSONPair", id);
      out += "\"FJsonString\":";
      EscreverTexto(out, id, [&] {
        EscreverTextoJSON(out, par.Nome);
        return static_cast<std::uint64_t>(ContarUnidadesUTF16(par.Nome));
      });
      out += ",\"FJsonValue\":";
      EscreverTexto(out, id, [&] {
        out += '"';
        const std::uint64_t unidades = EscreverTextoDados(*par.Fonte, out, janela);
        out += '"';
        return unidades;
      });
      out += ",\"FOwned\":true}}";
    }
    out += "],\"FOwned\":true}}}}";
  } catch (...) {
    out.resize(tamanhoInicial);
    throw;
  }
}

}  // namespace tamrix::rest
