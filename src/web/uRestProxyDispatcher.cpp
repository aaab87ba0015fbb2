#include "web/uRestProxyDispatcher.h"

#include <string>

#include "util/uCaixaTexto.h"

namespace tamrix::web {

bool TRestProxyDispatcher::Dispatch(const util::TWebRequest& req, util::TWebResponse& resp) const {
  using util::TMethodType;
  if (req.MethodType != TMethodType::mtGet && req.MethodType != TMethodType::mtHead) return false;
  const std::string caminho = util::MinusculasASCII(req.PathInfo);
  constexpr std::string_view kPasta = "/proxy/", kExtensao = ".zip";
  if (!caminho.starts_with(kPasta) || !caminho.ends_with(kExtensao) ||
      caminho.size() <= kPasta.size() + kExtensao.size() ||
      caminho.find('/', kPasta.size()) != std::string::npos)
    return false;
  auto arquivo = arquivos_.ResolverCaminho(req.PathInfo);
  if (!arquivo) return false;
  TWebFileDispatcher::ServirArquivo(*arquivo, "application/x-zip-compressed", req, resp);
  return true;
}

}  // namespace tamrix::web
