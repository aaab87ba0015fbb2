// The scrambled form in which database user names and passwords are stored (config.ini,
// table ConfigBD): a shift by a fixed repeating key, then Base64 in 76-character lines.
#ifndef TAMRIX_CONFIG_UEMBARALHARTEXTO_H
#define TAMRIX_CONFIG_UEMBARALHARTEXTO_H

#include <string>
#include <string_view>

namespace tamrix::config {

// pbEmbaralhar true: the scrambled form of the clear text pspTexto. False: the clear text
// of the scrambled pspTexto; characters outside the Base64 alphabet (line breaks, blanks,
// "=") are skipped. Texts are UTF-8; the shift works on UTF-16 units, and a shifted unit
// above 255 cannot be stored and comes back as "?". Never raises; keeps no state.
std::string EmbaralharTexto(std::string_view pspTexto, bool pbEmbaralhar);

}  // namespace tamrix::config

#endif  // TAMRIX_CONFIG_UEMBARALHARTEXTO_H
