// Download route of the client-library archives, "/proxy/{language}.zip", served as they
// lie in the executable's "proxy" folder (no archive generator is registered).
#ifndef TAMRIX_WEB_URESTPROXYDISPATCHER_H
#define TAMRIX_WEB_URESTPROXYDISPATCHER_H

#include "util/uWebMessages.h"
#include "web/uWebFileDispatcher.h"

namespace tamrix::web {

class TRestProxyDispatcher {
 public:
  // arquivos gives the root folder and the file serving; it must outlive this object.
  explicit TRestProxyDispatcher(const TWebFileDispatcher& arquivos) : arquivos_(arquivos) {}

  // Answers a GET or HEAD of a ".zip" directly inside /proxy/ (no case) with the archive
  // as "application/x-zip-compressed", or 404; returns false for any other request.
  bool Dispatch(const util::TWebRequest& req, util::TWebResponse& resp) const;

 private:
  const TWebFileDispatcher& arquivos_;
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_URESTPROXYDISPATCHER_H
