// Serves the files that lie under the executable's folder: GET and HEAD of the listed
// extensions, outside the templates folder, never leaving that folder.
#ifndef TAMRIX_WEB_UWEBFILEDISPATCHER_H
#define TAMRIX_WEB_UWEBFILEDISPATCHER_H

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "util/uWebMessages.h"

namespace tamrix::web {

// Content type of a lower-cased extension (without the dot) of the extension table; none
// when the extension is not served.
std::optional<std::string_view> TipoPorExtensao(std::string_view extensao);

// An HTTP date (RFC 1123, RFC 850 or asctime form, GMT); none when it is not one.
std::optional<std::chrono::system_clock::time_point> LerDataHTTP(std::string_view texto);

class TWebFileDispatcher {
 public:
  // Called with the file about to be served (it may not exist yet); may create or replace
  // it, or throw to fail the request.
  using TBeforeDispatch = std::function<void(const std::filesystem::path& arquivo)>;

  explicit TWebFileDispatcher(std::filesystem::path raiz, TBeforeDispatch antes = {});

  // Answers a GET or HEAD whose path has a listed extension and lies outside /templates/
  // (no case) and inside the root; returns false, leaving the answer untouched, otherwise.
  // Throws when the file exists but cannot be read.
  bool Dispatch(const util::TWebRequest& req, util::TWebResponse& resp) const;

  // The file a request path names: the root joined with the path's segments, symbolic
  // links resolved. None for a path that is not absolute, has empty, "." or ".." segments,
  // a backslash or NUL, or that resolves outside the root (or to the root itself).
  std::optional<std::filesystem::path> ResolverCaminho(std::string_view caminho) const;

  // Answers with one file of the given content type: 404 when missing, 304 when the
  // request's If-Modified-Since matches its time to the second, else the file with
  // Last-Modified (a UTF-8 mark of a text/ file is dropped and the charset named).
  static void ServirArquivo(const std::filesystem::path& arquivo, std::string_view tipo,
                            const util::TWebRequest& req, util::TWebResponse& resp);

  const std::filesystem::path& Raiz() const { return raiz_; }

 private:
  std::filesystem::path raiz_;
  TBeforeDispatch antes_;
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UWEBFILEDISPATCHER_H
