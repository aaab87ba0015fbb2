// A page built from a template file whose tags "<#name params>" are replaced by the text a
// callback gives for the tag's name.
#ifndef TAMRIX_WEB_UPAGEPRODUCER_H
#define TAMRIX_WEB_UPAGEPRODUCER_H

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tamrix::web {

// Given the tag name as written (compare it without regard to case) and the raw text of
// its parameters; returns the replacement ("" for an unknown tag).
using TTagHandler = std::function<std::string(std::string_view nome, std::string_view params)>;

// Replaces every tag of modelo. A tag is "<#", a name (up to a blank or '>'), optional
// parameters (double-quoted parts may hold '>') and '>'; an unclosed "<#" stays as text.
std::string SubstituirTags(std::string_view modelo, const TTagHandler& tratador);

class TPageProducer {
 public:
  explicit TPageProducer(std::filesystem::path arquivoModelo);

  // The template's text with its tags replaced. Reads the file on every call, so an edited
  // template shows at once. Throws diagnostics::Exception naming the file when it cannot
  // be read.
  std::string Content(const TTagHandler& tratador) const;

  const std::filesystem::path& ArquivoModelo() const { return arquivoModelo_; }

 private:
  std::filesystem::path arquivoModelo_;
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UPAGEPRODUCER_H
