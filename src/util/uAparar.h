// Trimming as the whole server understands it: every leading and trailing character of
// code 32 or less (blanks, tabs, line breaks and other control characters) goes.
#ifndef TAMRIX_UTIL_UAPARAR_H
#define TAMRIX_UTIL_UAPARAR_H

#include <string>
#include <string_view>

namespace tamrix::util {

// The text without its leading and trailing characters of code 32 or less. Bytes of
// UTF-8 multi-byte sequences are all above 127, so they are never cut.
std::string Aparar(std::string_view texto);

// The same cut, as a view into texto (texto must outlive the result).
std::string_view ApararVisao(std::string_view texto);

// True when nothing is left of the text after trimming.
bool EstaVazio(std::string_view texto);

// The text cut to at most maximo bytes, never inside a UTF-8 character (a view into texto).
std::string_view CortarUTF8(std::string_view texto, std::size_t maximo);

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UAPARAR_H
