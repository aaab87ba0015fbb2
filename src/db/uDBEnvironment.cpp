#include "db/uDBEnvironment.h"

#include <sqlext.h>
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "config/uArquivoIni.h"
#include "diagnostics/uExcecoes.h"
#include "util/uCaixaTexto.h"

namespace tamrix::db {

namespace fs = std::filesystem;
using diagnostics::EDatabaseError;

namespace {

std::atomic<bool> gCreated{false};
std::atomic<bool> gPoolingSetUp{false};
std::string gPrivateFolder;  // written once, before the environment exists

// unixODBC reads these as true: a leading '1' or 'Y', or "ON".
bool IniYes(const std::string& v) {
  const std::string l = util::MinusculasASCII(v);
  return !l.empty() && (l[0] == '1' || l[0] == 'y' || l.rfind("on", 0) == 0);
}

std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

// The copy lives as long as the process: the driver manager reads it at every connect.
void RemovePrivateFolder() {
  std::error_code ec;
  if (!gPrivateFolder.empty()) fs::remove_all(gPrivateFolder, ec);
}

}  // namespace

TDBEnvironment::TDBEnvironment() {
  pooling_ =
      gPoolingSetUp.load() ||
      IniYes(
          config::TArquivoIni::Ler(DriverManagerIniFile()).Valor("ODBC", "Pooling").value_or(""));
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
    throw std::runtime_error("ODBC: could not allocate the environment handle");
  }
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
}

// The handle is left to the process exit on purpose: connections held by single instances may
// be released after this static is destroyed, and they still need their environment.
TDBEnvironment::~TDBEnvironment() = default;

TDBEnvironment& TDBEnvironment::Instance() {
  static TDBEnvironment instance;
  gCreated.store(true);
  return instance;
}

SQLHENV TDBEnvironment::Handle() {
  return Instance().env_;
}

namespace {
// More handles than simultaneous connections are never needed; past this many they are freed.
constexpr std::size_t kMaxKeptHandles = 1024;
}  // namespace

SQLHDBC TDBEnvironment::TakeConnectionHandle() {
  TDBEnvironment& e = Instance();
  {
    std::lock_guard lock(e.handlesMutex_);
    if (!e.handles_.empty()) {
      SQLHDBC dbc = e.handles_.back();
      e.handles_.pop_back();
      return dbc;
    }
  }
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, e.env_, &dbc))) return SQL_NULL_HDBC;
  return dbc;
}

void TDBEnvironment::GiveBackConnectionHandle(SQLHDBC dbc) {
  if (dbc == SQL_NULL_HDBC) return;
  TDBEnvironment& e = Instance();
  {
    std::lock_guard lock(e.handlesMutex_);
    if (e.handles_.size() < kMaxKeptHandles) {
      e.handles_.push_back(dbc);
      return;
    }
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

bool TDBEnvironment::PoolingActive() {
  return Instance().pooling_;
}

std::string TDBEnvironment::DriverManagerIniFile() {
  return EnvOr("ODBCSYSINI", "/etc") + "/" + EnvOr("ODBCINSTINI", "odbcinst.ini");
}

bool TDBEnvironment::SetConnectionPooling(std::string_view driver, int idleSeconds) {
  static std::mutex once;
  std::lock_guard lock(once);
  const std::string name(driver);
  if (gCreated.load() || gPoolingSetUp.load()) return false;
  if (idleSeconds <= 0) {
    throw EDatabaseError(
        "Tempo de reutilização de conexões inválido: " + std::to_string(idleSeconds) + ".");
  }
  const std::string source = DriverManagerIniFile();
  if (!config::TArquivoIni::Ler(source).Valor(name, "Driver")) {
    throw EDatabaseError("O driver ODBC \"" + name + "\" não está em " + source +
                         "; as conexões não serão reutilizadas.");
  }

  const std::string tmp = EnvOr("TMPDIR", "/tmp") + "/tamrix-odbc-XXXXXX";
  std::string folder = tmp;
  if (::mkdtemp(folder.data()) == nullptr) {
    throw EDatabaseError("Não foi possível criar a pasta " + tmp + " para a configuração do ODBC.");
  }
  try {
    const fs::path from = fs::path(source).parent_path();
    const fs::path target = fs::path(folder) / fs::path(source).filename();
    fs::copy_file(source, target);
    // System data sources live beside odbcinst.ini; they must stay visible.
    if (fs::exists(from / "odbc.ini"))
      fs::copy_file(from / "odbc.ini", fs::path(folder) / "odbc.ini");
    config::GravarSecaoIni(target.string(), "ODBC", {{"Pooling", "Yes"}});
    config::GravarSecaoIni(target.string(), name, {{"CPTimeout", std::to_string(idleSeconds)}});
  } catch (const std::exception& e) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    throw EDatabaseError("Não foi possível gravar a configuração do ODBC em " + folder + ": " +
                         e.what());
  }
  gPrivateFolder = folder;
  std::atexit(RemovePrivateFolder);
  ::setenv("ODBCSYSINI", folder.c_str(), 1);
  gPoolingSetUp.store(true);
  return true;
}

}  // namespace tamrix::db
