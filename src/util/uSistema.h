// What the server asks of the operating system: where its executable lies and the name of
// the machine it runs on.
#ifndef TAMRIX_UTIL_USISTEMA_H
#define TAMRIX_UTIL_USISTEMA_H

#include <string>

namespace tamrix::util {

// Directory of the running executable, always ending with "/" so that a file name can be
// appended directly. Independent of the current directory; read once and kept, so a later
// rename of the executable does not change it.
std::string PastaExecutavel();

// The machine's host name; the user's login name when the host name cannot be read; empty
// when neither can. Never raises.
std::string PegarNomeEstacao();

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_USISTEMA_H
