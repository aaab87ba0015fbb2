// The request a web module receives and the answer it fills, independent of the HTTP
// library. The listener builds TWebRequest from the wire and writes TWebResponse back;
// the web module and the REST protocol only see these two objects.
#ifndef TAMRIX_UTIL_UWEBMESSAGES_H
#define TAMRIX_UTIL_UWEBMESSAGES_H

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamrix::util {

// Method classes that web actions are declared for; mtAny is the catch-all type.
enum class TMethodType { mtAny, mtGet, mtPut, mtPost, mtHead, mtDelete, mtPatch };

TMethodType ClassificarMetodo(std::string_view metodoMaiusculo);

struct THeaderField {
  std::string Name;
  std::string Value;
};

class TWebRequest {
 public:
  std::string Method;  // upper-cased, after the POST method-override rule
  TMethodType MethodType = TMethodType::mtAny;
  std::string ProtocolVersion;            // last word of the request line, e.g. "HTTP/1.1"
  std::string Query;                      // text after the first '?', not decoded
  std::string PathInfo;                   // target before '?', percent-decoded ('+' kept)
  std::string RawPathInfo;                // target before '?', exactly as received
  std::string Host;                       // Host header up to its first ':'
  std::string ServerPort;                 // after the ':' of Host, else the local port
  std::string RemoteAddr;                 // peer address as text, "127.0.0.1" or "::1"
  std::string Scheme = "http";            // "https" when it came over the TLS port
  std::vector<std::string> CookieFields;  // "name=value", one per cookie
  std::vector<THeaderField> Headers;      // every header line as received, in order
  std::string Content;        // body bytes (chunking removed), or the raw query when no body
  bool DeclaredBody = false;  // Content-Length present (even 0) or chunked framing
  std::string AuthUser;       // from "Basic" Authorization, when present
  std::string AuthPassword;

  // Raw value of the first header of that name (case-insensitive); "" when absent.
  std::string GetFieldByName(std::string_view name) const;
  bool HasField(std::string_view name) const;
  std::size_t ContentLength() const { return Content.size(); }
  std::string ContentType() const { return GetFieldByName("Content-Type"); }
  std::string Accept() const { return GetFieldByName("Accept"); }
};

class TWebResponse {
 public:
  int StatusCode = 200;
  std::string ReasonString;  // empty: the standard text of StatusCode
  std::string ContentType;   // a "charset=" parameter selects the wire encoding of Content
  std::string Content;       // text content, UTF-8 inside the program
  std::optional<std::string> ContentStream;  // bytes sent unchanged (files); wins over Content
  std::vector<THeaderField> CustomHeaders;   // written in the order they were set
  std::string Location;
  std::optional<std::chrono::system_clock::time_point> LastModified;
  std::optional<std::chrono::system_clock::time_point> Expires;
  std::vector<std::pair<std::string, std::string>> Cookies;  // name, value (not yet encoded)
  bool Sent = false;

  void SetCustomHeader(std::string name, std::string value);
  // 302 with Location and no body.
  void SendRedirect(std::string uri);
  bool HasContent() const {
    return ContentStream.has_value() ? !ContentStream->empty() : !Content.empty();
  }
};

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UWEBMESSAGES_H
