#include "web/uHTTPRequestReader.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

#include "rest/uRestURL.h"
#include "util/uAparar.h"
#include "util/uBase64.h"
#include "util/uCaixaTexto.h"
#include "web/uHTTPCodec.h"

namespace tamrix::web {

namespace {

using TStep = THTTPRequestReader::TStep;

// Leading decimal digits of a text (at most nine), 0 when there are none.
int NumeroInicial(std::string_view t) {
  int v = 0;
  for (std::size_t i = 0; i < t.size() && i < 9 && t[i] >= '0' && t[i] <= '9'; ++i)
    v = v * 10 + (t[i] - '0');
  return v;
}

// A Content-Length value: only decimal digits, at most 19 of them.
bool LerTamanho(std::string_view t, std::uint64_t& valor) {
  t = util::ApararVisao(t);
  if (t.empty() || t.size() > 19) return false;
  valor = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    valor = valor * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

// A chunk size line: hex digits, anything after a ";" ignored. -1 when not a size; -2 when
// larger than limite.
std::int64_t LerTamanhoBloco(std::string_view linha, std::uint64_t limite) {
  linha = util::ApararVisao(linha.substr(0, linha.find(';')));
  if (linha.empty()) return -1;
  std::uint64_t v = 0;
  for (char c : linha) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return -1;
    v = v * 16 + static_cast<std::uint64_t>(d);
    if (v > limite) return -2;
  }
  return static_cast<std::int64_t>(v);
}

bool ContemSemCaixa(std::string_view t, std::string_view parte) {
  return util::MinusculasASCII(t).find(parte) != std::string::npos;
}

}  // namespace

THTTPRequestReader::THTTPRequestReader(THTTPLimits limites) : limites_(limites) {}

void THTTPRequestReader::Feed(std::string_view bytes) {
  // Drop what was consumed once it is most of the buffer, so a long body never piles up.
  if (pos_ > 4096 && pos_ * 2 >= buffer_.size()) {
    buffer_.erase(0, pos_);
    procura_ -= pos_;
    pos_ = 0;
  }
  buffer_.append(bytes);
}

std::string THTTPRequestReader::ContinueLine() const {
  return versao_ + " 100 Continue\r\n\r\n";
}

bool THTTPRequestReader::LendoCabecalho() const {
  return estado_ == TEstado::eLinhaPedido || estado_ == TEstado::eCabecalho ||
         estado_ == TEstado::eTrailer;
}

std::size_t THTTPRequestReader::FeedLimit() const {
  if (!LendoCabecalho()) return std::numeric_limits<std::size_t>::max();
  const std::size_t retido = cabecalho_ + (buffer_.size() - pos_);
  return retido >= limites_.TamanhoMaximoCabecalho ? 1
                                                   : limites_.TamanhoMaximoCabecalho - retido + 1;
}

THTTPRequestReader::TLinha THTTPRequestReader::ProximaLinha(std::string_view& linha,
                                                            bool cabecalho) {
  // Bytes the header may still take; whichever limit a growing line would cross first
  // decides, so that where the bytes were cut makes no difference.
  std::size_t resta = std::numeric_limits<std::size_t>::max();
  if (cabecalho)
    resta = limites_.TamanhoMaximoCabecalho - std::min(cabecalho_, limites_.TamanhoMaximoCabecalho);
  const std::size_t lf = buffer_.find('\n', std::max(procura_, pos_));
  if (lf == std::string::npos) {
    procura_ = buffer_.size();
    const std::size_t parcial = buffer_.size() - pos_;
    if (parcial > limites_.MaximoTamanhoLinha && limites_.MaximoTamanhoLinha < resta)
      return TLinha::lLonga;
    return parcial > resta ? TLinha::lCabecalhoGrande : TLinha::lFalta;
  }
  const std::size_t tamanho = lf - pos_;
  if (tamanho > limites_.MaximoTamanhoLinha && limites_.MaximoTamanhoLinha < resta)
    return TLinha::lLonga;
  if (tamanho + 1 > resta) return TLinha::lCabecalhoGrande;
  if (cabecalho) cabecalho_ += tamanho + 1;
  linha = std::string_view(buffer_).substr(pos_, tamanho);
  if (!linha.empty() && linha.back() == '\r') linha.remove_suffix(1);
  pos_ = lf + 1;
  procura_ = pos_;
  return TLinha::lPronta;
}

std::optional<THTTPRequestReader::TStep> THTTPRequestReader::FaltaLinha(std::string_view& linha,
                                                                        bool cabecalho) {
  switch (ProximaLinha(linha, cabecalho)) {
    case TLinha::lFalta:
      return TStep::NeedMore;
    case TLinha::lLonga:
      return Terminar(TStep::Close);
    case TLinha::lCabecalhoGrande:
      return Terminar(TStep::Answer, 431);
    case TLinha::lPronta:
      break;
  }
  return std::nullopt;
}

bool THTTPRequestReader::LerLinhaPedido(std::string_view linha) {
  const std::size_t primeiro = linha.find(' ');
  if (primeiro == std::string_view::npos) return false;
  const std::size_t ultimo = linha.rfind(' ');
  metodoLinha_ = util::MaiusculasASCII(linha.substr(0, primeiro));
  versao_ = std::string(linha.substr(ultimo + 1));
  if (ultimo > primeiro)
    alvo_ = std::string(util::ApararVisao(linha.substr(primeiro + 1, ultimo - primeiro - 1)));
  const std::size_t barra = versao_.find('/');
  if (barra != std::string::npos) {
    const std::size_t ponto = versao_.find('.', barra + 1);
    maior_ = NumeroInicial(std::string_view(versao_).substr(barra + 1));
    if (ponto != std::string::npos)
      menor_ = NumeroInicial(std::string_view(versao_).substr(ponto + 1));
  }
  return true;
}

void THTTPRequestReader::LerLinhaCabecalho(std::string_view linha) {
  if ((linha.front() == ' ' || linha.front() == '\t')) {
    // A folded line continues the value of the header before it.
    if (!campos_.empty()) {
      const std::string_view mais = util::ApararVisao(linha);
      if (!mais.empty()) {
        if (!campos_.back().Value.empty()) campos_.back().Value += ' ';
        campos_.back().Value += mais;
      }
    }
    return;
  }
  const std::size_t dois = linha.find(':');
  if (dois == std::string_view::npos) return;  // not a header: ignored
  campos_.push_back({std::string(util::ApararVisao(linha.substr(0, dois))),
                     std::string(util::ApararVisao(linha.substr(dois + 1)))});
}

std::string_view THTTPRequestReader::Campo(std::string_view nome) const {
  for (const auto& c : campos_)
    if (util::TextoIgualSemCaixa(c.Name, nome)) return c.Value;
  return {};
}

bool THTTPRequestReader::TemCampo(std::string_view nome) const {
  return std::any_of(campos_.begin(), campos_.end(), [&](const util::THeaderField& c) {
    return util::TextoIgualSemCaixa(c.Name, nome);
  });
}

void THTTPRequestReader::FimCabecalho() {
  metodo_ = metodoLinha_;
  if (metodo_ == "POST") {
    for (std::string_view nome : {"X-HTTP-Method-Override", "X-HTTP-Method", "X-METHOD-OVERRIDE"}) {
      const std::string_view valor = Campo(nome);
      if (!valor.empty()) {
        metodo_ = util::MaiusculasASCII(valor);
        break;
      }
    }
  }
  caminhoAlvo_ = alvo_;
  for (std::string_view esquema : {"http://", "https://"}) {
    if (!rest::ComecaSemCaixa(alvo_, esquema)) continue;
    const std::string_view resto = std::string_view(alvo_).substr(esquema.size());
    const std::size_t fim = std::min(resto.find('/'), resto.find('?'));
    hostAlvo_ = std::string(resto.substr(0, fim));
    caminhoAlvo_ = fim == std::string_view::npos ? "/" : std::string(resto.substr(fim));
    if (caminhoAlvo_.front() == '?') caminhoAlvo_.insert(0, "/");
    break;
  }
}

THTTPRequestReader::TStep THTTPRequestReader::Terminar(TStep passo, int status) {
  final_ = passo;
  status_ = status;
  estado_ = TEstado::eFim;
  return passo;
}

THTTPRequestReader::TStep THTTPRequestReader::Advance(const std::function<bool()>& corpoChegando) {
  std::string_view linha;
  for (;;) {
    switch (estado_) {
      case TEstado::eLinhaPedido:
        if (const auto passo = FaltaLinha(linha, true)) return *passo;
        if (!LerLinhaPedido(linha)) return Terminar(TStep::Close);
        estado_ = TEstado::eCabecalho;
        break;

      case TEstado::eCabecalho:
        if (const auto passo = FaltaLinha(linha, true)) return *passo;
        if (linha.empty()) {
          FimCabecalho();
          estado_ = TEstado::eVerificacoes;
          break;
        }
        if (++linhas_ > limites_.MaximoLinhasCabecalho) return Terminar(TStep::Close);
        LerLinhaCabecalho(linha);
        break;

      case TEstado::eVerificacoes: {
        estado_ = TEstado::eEnquadramento;
        if (maior_ < 1 || (maior_ == 1 && menor_ < 1)) break;
        if (!TemCampo("Host") && hostAlvo_.empty()) return Terminar(TStep::Answer, 400);
        if (continueDecidido_ || !TemCampo("Expect") || HasUnreadInput()) break;
        continueDecidido_ = true;
        if (!util::TextoIgualSemCaixa(Campo("Expect"), "100-continue"))
          return Terminar(TStep::Answer, 417);
        // Refuse an oversized body before the client starts sending it.
        std::uint64_t tamanho = 0;
        if (LerTamanho(Campo("Content-Length"), tamanho) && tamanho > limites_.TamanhoMaximoCorpo)
          return Terminar(TStep::Answer, 413);
        return TStep::SendContinue;
      }

      case TEstado::eEnquadramento: {
        const std::string_view te = Campo("Transfer-Encoding");
        if (te.empty() || util::TextoIgualSemCaixa(te, "identity")) {
          if (TemCampo("Content-Length")) {
            std::uint64_t tamanho = 0;
            for (const auto& c : campos_) {
              std::uint64_t v = 0;
              if (!util::TextoIgualSemCaixa(c.Name, "Content-Length")) continue;
              // Two different lengths would leave the end of the body in doubt.
              if (!LerTamanho(c.Value, v) || (corpoDeclarado_ && v != tamanho))
                return Terminar(TStep::Answer, 400);
              tamanho = v;
              corpoDeclarado_ = true;
            }
            if (tamanho > limites_.TamanhoMaximoCorpo) return Terminar(TStep::Answer, 413);
            restante_ = tamanho;
            buffer_.erase(0, pos_);
            procura_ = 0;
            pos_ = 0;
            estado_ = TEstado::eCorpo;
            break;
          }
          if ((metodo_ == "POST" || metodo_ == "PUT") && (HasUnreadInput() || corpoChegando()))
            return Terminar(TStep::Answer, 411);
          estado_ = TEstado::eAutorizacao;
          break;
        }
        if (!ContemSemCaixa(te, "chunked")) return Terminar(TStep::Answer, 400);
        corpoDeclarado_ = true;
        linhas_ = 0;
        estado_ = TEstado::eTamanhoBloco;
        break;
      }

      case TEstado::eCorpo:
        if (buffer_.size() - pos_ < restante_) return TStep::NeedMore;
        if (pos_ == 0) {
          // The body keeps the buffer it arrived in; only bytes sent after it are copied, so
          // a large body is never held twice.
          std::string depois = buffer_.substr(static_cast<std::size_t>(restante_));
          corpo_ = std::move(buffer_);
          corpo_.resize(static_cast<std::size_t>(restante_));
          buffer_ = std::move(depois);
        } else {
          corpo_ = buffer_.substr(pos_, restante_);
          pos_ += restante_;
        }
        procura_ = pos_;
        estado_ = TEstado::eAutorizacao;
        break;

      case TEstado::eTamanhoBloco: {
        if (const auto passo = FaltaLinha(linha)) return *passo;
        const std::int64_t tamanho =
            LerTamanhoBloco(linha, limites_.TamanhoMaximoCorpo - corpo_.size());
        if (tamanho == -1) return Terminar(TStep::Answer, 400);
        if (tamanho == -2) return Terminar(TStep::Answer, 413);
        restante_ = static_cast<std::uint64_t>(tamanho);
        estado_ = tamanho == 0 ? TEstado::eTrailer : TEstado::eDadosBloco;
        break;
      }

      case TEstado::eDadosBloco: {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(restante_, buffer_.size() - pos_));
        corpo_.append(buffer_, pos_, n);
        pos_ += n;
        procura_ = pos_;
        restante_ -= n;
        if (restante_ > 0) return TStep::NeedMore;
        estado_ = TEstado::eFimBloco;
        break;
      }

      case TEstado::eFimBloco:
        if (const auto passo = FaltaLinha(linha)) return *passo;
        if (!linha.empty()) return Terminar(TStep::Answer, 400);
        estado_ = TEstado::eTamanhoBloco;
        break;

      case TEstado::eTrailer:
        if (const auto passo = FaltaLinha(linha, true)) return *passo;
        if (linha.empty()) {
          estado_ = TEstado::eAutorizacao;
        } else if (++linhas_ > limites_.MaximoLinhasCabecalho) {
          return Terminar(TStep::Close);
        }
        break;

      case TEstado::eAutorizacao: {
        if (TemCampo("Authorization")) {
          const std::string_view valor = Campo("Authorization");
          const std::size_t branco = valor.find_first_of(" \t");
          if (!util::TextoIgualSemCaixa(valor.substr(0, branco), "Basic"))
            return Terminar(TStep::Close);
          const std::string par = util::DecodificarBase64(
              branco == std::string_view::npos ? std::string_view() : valor.substr(branco + 1));
          const std::size_t dois = par.find(':');
          usuario_ = par.substr(0, dois);
          if (dois != std::string::npos) senha_ = par.substr(dois + 1);
        }
        return Terminar(TStep::Ready);
      }

      case TEstado::eFim:
        return final_;
    }
  }
}

void THTTPRequestReader::TakeRequest(util::TWebRequest& r, std::string_view remoteAddr,
                                     std::string_view localPort) {
  r.Method = metodo_;
  r.MethodType = util::ClassificarMetodo(metodo_);
  r.ProtocolVersion = versao_;
  const std::size_t interrogacao = caminhoAlvo_.find('?');
  r.RawPathInfo = caminhoAlvo_.substr(0, interrogacao);
  r.Query =
      interrogacao == std::string::npos ? std::string() : caminhoAlvo_.substr(interrogacao + 1);
  r.PathInfo = DecodificarCaminho(r.RawPathInfo);

  std::string_view host = TemCampo("Host") ? Campo("Host") : std::string_view(hostAlvo_);
  // A bracketed IPv6 literal keeps its colons: "[::1]:8080" is host "[::1]", port 8080.
  std::size_t dois = host.find(':');
  if (!host.empty() && host.front() == '[') {
    const std::size_t fecha = host.find(']');
    if (fecha != std::string_view::npos) dois = host.find(':', fecha);
  }
  r.Host = std::string(host.substr(0, dois));
  r.ServerPort =
      dois == std::string_view::npos ? std::string(localPort) : std::string(host.substr(dois + 1));
  r.RemoteAddr = std::string(remoteAddr);

  r.CookieFields.clear();
  for (const auto& c : campos_) {
    if (!util::TextoIgualSemCaixa(c.Name, "Cookie")) continue;
    std::string_view resto = c.Value;
    while (!resto.empty()) {
      const std::size_t pv = resto.find(';');
      const std::string_view cookie = util::ApararVisao(resto.substr(0, pv));
      if (!cookie.empty()) r.CookieFields.emplace_back(cookie);
      resto = pv == std::string_view::npos ? std::string_view() : resto.substr(pv + 1);
    }
  }

  r.DeclaredBody = corpoDeclarado_;
  r.Content = corpoDeclarado_ ? std::move(corpo_) : r.Query;
  r.Headers = std::move(campos_);
  r.AuthUser = std::move(usuario_);
  r.AuthPassword = std::move(senha_);
}

}  // namespace tamrix::web
