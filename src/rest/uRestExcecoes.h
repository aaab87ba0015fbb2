// Failures raised by the REST protocol itself; their messages reach the "error" pair.
#ifndef TAMRIX_REST_URESTEXCECOES_H
#define TAMRIX_REST_URESTEXCECOES_H

#include "diagnostics/uExcecoes.h"

namespace tamrix::rest {

// Bad path, unknown method, unreadable body, surplus arguments.
class ERestException : public diagnostics::Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "ERestException"; }
};

// An argument or result that does not convert to its declared type.
class EConvertError : public diagnostics::Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EConvertError"; }
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTEXCECOES_H
