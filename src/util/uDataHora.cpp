#include "util/uDataHora.h"

#include <ctime>

namespace tamrix::util {

namespace {
void Acrescentar(std::string& out, long valor, int digitos) {
  std::string d = std::to_string(valor < 0 ? -valor : valor);
  if (static_cast<int>(d.size()) < digitos) d.insert(0, digitos - d.size(), '0');
  out += d;
}

bool Comeca(std::string_view s, std::size_t pos, std::string_view token) {
  return s.substr(pos, token.size()) == token;
}
}  // namespace

std::string FormatarDataHora(std::string_view padrao,
                             std::chrono::system_clock::time_point momento) {
  using namespace std::chrono;
  const std::time_t t = system_clock::to_time_t(momento);
  std::tm tm{};
  localtime_r(&t, &tm);  // reentrant: called from every request thread
  const long ms =
      static_cast<long>(duration_cast<milliseconds>(momento.time_since_epoch()).count() % 1000);

  std::string r;
  r.reserve(padrao.size() + 4);
  std::size_t i = 0;
  while (i < padrao.size()) {
    if (Comeca(padrao, i, "yyyy")) {
      Acrescentar(r, tm.tm_year + 1900L, 4), i += 4;
    } else if (Comeca(padrao, i, "yy")) {
      Acrescentar(r, (tm.tm_year + 1900L) % 100, 2), i += 2;
    } else if (Comeca(padrao, i, "MM")) {
      Acrescentar(r, tm.tm_mon + 1L, 2), i += 2;
    } else if (Comeca(padrao, i, "dd")) {
      Acrescentar(r, tm.tm_mday, 2), i += 2;
    } else if (Comeca(padrao, i, "hh")) {
      Acrescentar(r, tm.tm_hour, 2), i += 2;
    } else if (Comeca(padrao, i, "nn")) {
      Acrescentar(r, tm.tm_min, 2), i += 2;
    } else if (Comeca(padrao, i, "ss")) {
      Acrescentar(r, tm.tm_sec, 2), i += 2;
    } else if (Comeca(padrao, i, "zzz")) {
      Acrescentar(r, ms < 0 ? ms + 1000 : ms, 3), i += 3;
    } else {
      r += padrao[i++];
    }
  }
  return r;
}

std::string DataHoraAtual(std::string_view padrao) {
  return FormatarDataHora(padrao, std::chrono::system_clock::now());
}

}  // namespace tamrix::util
