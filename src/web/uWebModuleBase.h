// The web-module side of the listener: what one pooled instance offers the listener.
// The listener takes an instance from the request pool (uRequestPool.h), hands it one request
// and a fresh answer, writes the answer, tells the instance the call is over and gives it back.
#ifndef TAMRIX_WEB_UWEBMODULEBASE_H
#define TAMRIX_WEB_UWEBMODULEBASE_H

#include <functional>
#include <memory>

#include "util/uWebMessages.h"

namespace tamrix::web {

class TWebModuleBase {
 public:
  TWebModuleBase() = default;
  TWebModuleBase(const TWebModuleBase&) = delete;
  TWebModuleBase& operator=(const TWebModuleBase&) = delete;
  virtual ~TWebModuleBase() = default;

  // Creation hook: run once by the pool right after the instance is constructed, before its
  // first request. An exception fails that request with status 500 and the instance is dropped.
  virtual void WebModuleCreate() {}

  // Answers one request on the calling thread. Returns whether the request was handled.
  // The answer arrives as status 200 with no content; unless Sent is set, the listener writes
  // it afterwards (handled or not). An exception is answered 500 with its message as the body.
  virtual bool HandleRequest(util::TWebRequest& request, util::TWebResponse& response) = 0;

  // End of call: runs on the same thread that ran HandleRequest, once the answer is complete
  // and before any of it is written to the connection; the instance then returns to the
  // pool. Runs once for every HandleRequest that was entered, also when it threw. Must not
  // throw.
  virtual void OnRequestDone() noexcept {}
};

// Makes one new instance of the registered web-module class.
using TWebModuleFactory = std::function<std::unique_ptr<TWebModuleBase>()>;

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UWEBMODULEBASE_H
