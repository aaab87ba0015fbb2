// Local date and time as text, in the patterns the server writes (log lines, file names).
#ifndef TAMRIX_UTIL_UDATAHORA_H
#define TAMRIX_UTIL_UDATAHORA_H

#include <chrono>
#include <string>
#include <string_view>

namespace tamrix::util {

// The pattern of log lines and of the start and stop texts: 08/12/2016 14:05:09.
inline constexpr std::string_view kPadraoDataHora = "dd/MM/yyyy hh:nn:ss";

// momento in local time, written by padrao. Tokens: "yyyy" year, "yy" two-digit year,
// "MM" month, "dd" day, "hh" hour 00-23, "nn" minutes, "ss" seconds, "zzz" milliseconds,
// all zero-padded; every other character is copied as it stands.
std::string FormatarDataHora(std::string_view padrao,
                             std::chrono::system_clock::time_point momento);

// The current local time written by padrao (by default kPadraoDataHora).
std::string DataHoraAtual(std::string_view padrao = kPadraoDataHora);

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UDATAHORA_H
