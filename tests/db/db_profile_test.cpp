// Driver profiles: connection strings, error kinds, and a real FreeTDS driver against a
// closed port.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "db/uDBConnection.h"
#include "db/uDBDriverProfile.h"
#include "diagnostics/uTraduzirErro.h"

namespace tamrix::db {
namespace {

using diagnostics::EDBEngineException;
using diagnostics::TDBErrorKind;

TDBConnectionParams MainParams(const char* driver) {
  TDBConnectionParams p;
  for (const char* line : {"DriverID=MSSQL", "MARS=yes", "ApplicationName=TamrixRestServer",
                           "Workstation=RestServer"}) {
    p.AddLine(line);
  }
  p.SetValue("SERVER", "dbhost\\SQLEXPRESS");
  p.SetValue("DATABASE", "ERP");
  p.SetValue("User_Name", "sa");
  p.SetValue("Password", "x");
  if (driver != nullptr) p.SetValue("Driver", driver);
  return p;
}

TEST(DriverProfile, ChosenByDriverName) {
  EXPECT_EQ(TDBDriverProfile::For(MainParams(nullptr)).Engine(), TDBEngine::SQLServer);
  EXPECT_EQ(TDBDriverProfile::For(MainParams("FreeTDS")).Engine(), TDBEngine::SQLServer);
  EXPECT_EQ(TDBDriverProfile::For(MainParams("PostgreSQL Unicode")).Engine(),
            TDBEngine::PostgreSQL);
  auto pg = MainParams(nullptr);
  pg.SetValue("DriverID", "PG");
  EXPECT_EQ(TDBDriverProfile::For(pg).Engine(), TDBEngine::PostgreSQL);
  EXPECT_EQ(TDBDriverProfile::DriverName(pg), "PostgreSQL");
}

TEST(DriverProfile, FreeTDSConnectionString) {
  auto p = MainParams(nullptr);
  EXPECT_EQ(TDBDriverProfile::For(p).ConnectionString(p),
            "Driver={FreeTDS};Server=dbhost\\SQLEXPRESS;Database=ERP;UID=sa;PWD=x;"
            "APP=TamrixRestServer;WSID=RestServer;MARS_Connection=Yes;ClientCharset=UTF-8;"
            "TDS_Version=7.4;");
  p.SetValue("SERVER", "10.0.0.5,1533");
  p.SetValue("MARS", "no");
  EXPECT_EQ(TDBDriverProfile::For(p).ConnectionString(p),
            "Driver={FreeTDS};Server=10.0.0.5;Port=1533;Database=ERP;UID=sa;PWD=x;"
            "APP=TamrixRestServer;WSID=RestServer;ClientCharset=UTF-8;TDS_Version=7.4;");
  p.SetValue("SERVER", "10.0.0.5");
  p.SetValue("Porta", "1444");
  EXPECT_NE(TDBDriverProfile::For(p).ConnectionString(p).find("Server=10.0.0.5;Port=1444;"),
            std::string::npos);
}

TEST(DriverProfile, PostgreSQLConnectionStringDropsInstanceAndPassesAppName) {
  auto p = MainParams("PostgreSQL");
  p.SetValue("Porta", "5432");
  p.SetValue("ApplicationName", "Tamrix 'Rest'");
  EXPECT_EQ(TDBDriverProfile::For(p).ConnectionString(p),
            "Driver={PostgreSQL};Server=dbhost;Port=5432;Database=ERP;UID=sa;PWD=x;"
            "UseDeclareFetch=1;Fetch=1000;pqopt={application_name='Tamrix \\'Rest\\''};");
}

TEST(DriverProfile, ValuesThatWouldAddKeywordsAreBraced) {
  struct Case {
    const char* value;
    const char* attribute;
  };
  const Case cases[] = {
      {"plain", "PWD=plain;"},    {"a;Database=master", "PWD={a;Database=master};"},
      {"x}y{z", "PWD={x}}y{z};"}, {"}", "PWD={}}};"},
      {" lead", "PWD={ lead};"},  {"", "PWD=;"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TDBDriverProfile::Attribute("PWD", c.value), c.attribute) << c.value;
  }
}

TEST(DriverProfile, ServerAddressForms) {
  struct Case {
    const char* server;
    const char* host;
    const char* instance;
    const char* port;
  };
  const Case cases[] = {
      {"srv", "srv", "", ""},
      {"srv\\INST", "srv", "INST", ""},
      {"srv,1533", "srv", "", "1533"},
      {"srv\\INST,1533", "srv", "INST", "1533"},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    const auto a = TDBDriverProfile::ParseServer(c.server);
    EXPECT_EQ(a.host, c.host) << c.server;
    EXPECT_EQ(a.instance, c.instance) << c.server;
    EXPECT_EQ(a.port, c.port) << c.server;
  }
}

TEST(DriverProfile, ErrorKinds) {
  using R = odbc::TDiagRecord;
  struct Case {
    bool postgres;
    std::vector<R> records;
    TDBErrorKind kind;
    std::size_t deciding;
  };
  const Case cases[] = {
      // FreeTDS: login refused, reported beside the generic connect failure
      {false,
       {{"08001", 0, "[FreeTDS][SQL Server]Unable to connect to data source"},
        {"42000", 18456, "[FreeTDS][SQL Server]Login failed for user 'sa'."}},
       diagnostics::ekUserPwdInvalid,
       1},
      {false,
       {{"28000", 0, "[FreeTDS][SQL Server]Login failed"}},
       diagnostics::ekUserPwdInvalid,
       0},
      {false,
       {{"S1000", 0, "[FreeTDS][SQL Server]Unable to connect to data source"},
        {"08S01", 0, "[FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable"}},
       diagnostics::ekServerGone,
       1},
      {false,
       {{"HYT00", 0, "[FreeTDS][SQL Server]Login timeout expired"}},
       diagnostics::ekServerGone,
       0},
      {false,
       {{"42S02", 208, "[FreeTDS][SQL Server]Invalid object name 'X'."}},
       diagnostics::ekOther,
       0},
      // psqlODBC: 08001 for everything, the text decides
      {true,
       {{"08001", 101,
         "connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  "
         "password authentication failed for user \"x\""}},
       diagnostics::ekUserPwdInvalid,
       0},
      {true,
       {{"08001", 101, "connection to server at \"127.0.0.1\", port 1 failed: Connection refused"}},
       diagnostics::ekServerGone,
       0},
      {true,
       {{"08001", 101, "could not translate host name \"nohost\" to address"}},
       diagnostics::ekServerGone,
       0},
      {true,
       {{"57P01", 7,
         "FATAL: terminating connection due to administrator command;\nThe connection has been "
         "lost"}},
       diagnostics::ekServerGone,
       0},
      {true,
       {{"08001", 101,
         "connection to server at \"127.0.0.1\" failed: FATAL:  database \"x\" does not exist"}},
       diagnostics::ekOther,
       0},
  };
  const TDBDriverProfile& sqlServer = TDBDriverProfile::For(MainParams("FreeTDS"));
  const TDBDriverProfile& postgres = TDBDriverProfile::For(MainParams("PostgreSQL"));
  for (const auto& c : cases) {
    std::size_t deciding = 99;
    const auto kind = (c.postgres ? postgres : sqlServer).Classify(c.records, deciding);
    EXPECT_EQ(kind, c.kind) << c.records.back().text;
    EXPECT_EQ(deciding, c.deciding) << c.records.back().text;
  }
}

// A loopback port with nothing listening: bind it, take its number, close it.
int ClosedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

TEST(DriverProfile, FreeTDSAgainstAClosedPortIsServerGone) {
  TDBConnection c;
  c.Params() = MainParams("FreeTDS");
  c.Params().SetValue("SERVER", "127.0.0.1," + std::to_string(ClosedPort()));
  c.Params().SetValue("Password", "p;w{d}");
  try {
    c.Open();
    FAIL() << "connected to a closed port";
  } catch (const EDBEngineException& e) {
    EXPECT_EQ(e.Kind(), diagnostics::ekServerGone) << e.Message();
    EXPECT_NE(e.Message().find("[FreeTDS]"), std::string::npos) << e.Message();
    EXPECT_EQ(diagnostics::TraduzirErro(e),
              "IP ou instância do servidor de banco de dados inválido ou inalcançável.");
  }
  EXPECT_FALSE(c.Connected());
}

}  // namespace
}  // namespace tamrix::db
