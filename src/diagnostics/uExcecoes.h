// The exception classes the server raises and recognises.
//
// ClassName() is the name shown in translated error texts, so each class reports its own
// name and descendants must override it.
#ifndef TAMRIX_DIAGNOSTICS_UEXCECOES_H
#define TAMRIX_DIAGNOSTICS_UEXCECOES_H

#include <exception>
#include <string>

namespace tamrix::diagnostics {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  virtual std::string ClassName() const { return "Exception"; }

 private:
  std::string message_;
};

// Any data-access failure (a query without a connection, a field that does not exist...).
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EDatabaseError"; }
};

// What the database engine or its driver reported. Ordinals kept as the callers know them.
enum TDBErrorKind {
  ekOther = 0,
  ekUserPwdInvalid = 7,
  ekServerGone = 11,
};

class EDBEngineException : public EDatabaseError {
 public:
  EDBEngineException(std::string message, TDBErrorKind kind, std::string sqlState = {},
                     long nativeError = 0)
      : EDatabaseError(std::move(message)),
        kind_(kind),
        sqlState_(std::move(sqlState)),
        nativeError_(nativeError) {}
  TDBErrorKind Kind() const noexcept { return kind_; }
  const std::string& SqlState() const noexcept { return sqlState_; }
  long NativeError() const noexcept { return nativeError_; }
  std::string ClassName() const override { return "EDBEngineException"; }

 private:
  TDBErrorKind kind_;
  std::string sqlState_;  // five-character SQLSTATE of the first diagnostic record
  long nativeError_;      // driver's native error number of that record
};

class ENetHTTPClientException : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "ENetHTTPClientException"; }
};

}  // namespace tamrix::diagnostics

#endif  // TAMRIX_DIAGNOSTICS_UEXCECOES_H
