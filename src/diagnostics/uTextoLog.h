// Texts made safe to put in a log line or an event row: whatever a caller sent (a method
// name, a token, a file name) can neither start a line of its own nor make one huge.
#ifndef TAMRIX_DIAGNOSTICS_UTEXTOLOG_H
#define TAMRIX_DIAGNOSTICS_UTEXTOLOG_H

#include <cstddef>
#include <string>
#include <string_view>

namespace tamrix::diagnostics {

// Bytes a caller-supplied text may take in one log line or event (after EscaparControles).
inline constexpr std::size_t kTamanhoTextoChamador = 512;

// Appended where TextoChamador cut a text.
inline constexpr std::string_view kMarcaCorte = "[...]";

// texto with every control byte (C0, that is 0x00-0x1F, and DEL) written as a visible
// escape: "\r", "\n", "\t", else "\x" and two hex digits ("\x00", "\x1b"). Bytes that are not
// valid UTF-8 are escaped the same way, so the result is valid UTF-8; a backslash stays as
// it is, so escaping an escaped text changes nothing.
std::string EscaparControles(std::string_view texto);

// EscaparControles(texto) in at most limite bytes: when longer, cut at a character (or
// escape) boundary and ended with kMarcaCorte, the whole still within limite. Reads no
// further into texto than the cut needs.
std::string TextoChamador(std::string_view texto, std::size_t limite = kTamanhoTextoChamador);

}  // namespace tamrix::diagnostics

#endif  // TAMRIX_DIAGNOSTICS_UTEXTOLOG_H
