#include "util/uWebMessages.h"

#include <algorithm>
#include <cctype>

namespace tamrix::util {

namespace {
bool IguaisSemCaixa(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

TMethodType ClassificarMetodo(std::string_view m) {
  if (m == "GET") return TMethodType::mtGet;
  if (m == "PUT") return TMethodType::mtPut;
  if (m == "POST") return TMethodType::mtPost;
  if (m == "HEAD") return TMethodType::mtHead;
  if (m == "DELETE") return TMethodType::mtDelete;
  if (m == "PATCH") return TMethodType::mtPatch;
  return TMethodType::mtAny;
}

std::string TWebRequest::GetFieldByName(std::string_view name) const {
  for (const auto& h : Headers)
    if (IguaisSemCaixa(h.Name, name)) return h.Value;
  return {};
}

bool TWebRequest::HasField(std::string_view name) const {
  return std::any_of(Headers.begin(), Headers.end(),
                     [&](const THeaderField& h) { return IguaisSemCaixa(h.Name, name); });
}

void TWebResponse::SetCustomHeader(std::string name, std::string value) {
  for (auto& h : CustomHeaders)
    if (IguaisSemCaixa(h.Name, name)) {
      h.Value = std::move(value);
      return;
    }
  CustomHeaders.push_back({std::move(name), std::move(value)});
}

void TWebResponse::SendRedirect(std::string uri) {
  StatusCode = 302;
  Location = std::move(uri);
  Content.clear();
  ContentStream.reset();
}

}  // namespace tamrix::util
