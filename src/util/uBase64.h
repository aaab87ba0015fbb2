// Base64 (standard alphabet, "=" fill) broken into lines of 76 characters, as the stored
// credentials and uploaded files use it.
#ifndef TAMRIX_UTIL_UBASE64_H
#define TAMRIX_UTIL_UBASE64_H

#include <cstddef>
#include <string>
#include <string_view>

namespace tamrix::util {

// Base64 of the bytes: every 57 input bytes make a line of 76 characters, lines joined by
// CR LF (none after the last line). Empty input gives empty output.
std::string CodificarBase64(std::string_view bytes);

// The bytes of a Base64 text. Every character outside the alphabet ("=", CR, LF, blanks,
// bytes 128-255) is skipped, so decoding goes on after a "=". A trailing group of one
// character gives nothing. Never raises.
std::string DecodificarBase64(std::string_view texto);

// The same decoding in place: the bytes go to the front of texto (never past what has been
// read, as four characters give at most three bytes); answers their number.
std::size_t DecodificarBase64NoLugar(char* texto, std::size_t tamanho);

// The 6-bit value of one character of the alphabet; -1 for any other character ("=" too).
int ValorBase64(char c);

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UBASE64_H
