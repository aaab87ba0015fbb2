#include <gtest/gtest.h>

#include "db/uDBSqlParser.h"

namespace tamrix::db {
namespace {

TEST(ParseNamedParams, RepeatedNamesBecomeOneParameterWithOneMarkerEach) {
  const auto p = ParseNamedParams(
      "WHERE ((:pcd_cadastro = 0) OR (Cadastro.cd_cadastro = :pcd_cadastro))\r\n"
      "  AND ((:prazao = '') OR (Cadastro.razao like :PRAZAO))");
  EXPECT_EQ(p.odbcSql,
            "WHERE ((? = 0) OR (Cadastro.cd_cadastro = ?))\r\n"
            "  AND ((? = '') OR (Cadastro.razao like ?))");
  EXPECT_EQ(p.markers,
            (std::vector<std::string>{"pcd_cadastro", "pcd_cadastro", "prazao", "PRAZAO"}));
  EXPECT_EQ(p.names, (std::vector<std::string>{"pcd_cadastro", "prazao"}));
}

TEST(ParseNamedParams, ColonsThatAreNoParameters) {
  struct Case {
    const char* sql;
    const char* odbc;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"SELECT ':naoparam', 'it''s :x' FROM t WHERE a = :a",
       "SELECT ':naoparam', 'it''s :x' FROM t WHERE a = ?",
       {"a"}},
      {"SELECT x::varchar, :p::int", "SELECT x::varchar, ?::int", {"p"}},
      {"SELECT 1 -- comentário :nao\r\n, :sim", "SELECT 1 -- comentário :nao\r\n, ?", {"sim"}},
      {"SELECT /* :nao */ \"col:x\", [a:b] FROM t",
       "SELECT /* :nao */ \"col:x\", [a:b] FROM t",
       {}},
      {"SELECT '10:30', :1, : x", "SELECT '10:30', :1, : x", {}},
      {"VALUES (:pdt_evento,\r\n        :pdescricao)",
       "VALUES (?,\r\n        ?)",
       {"pdt_evento", "pdescricao"}},
  };
  for (const auto& c : cases) {
    const auto p = ParseNamedParams(c.sql);
    EXPECT_EQ(p.odbcSql, c.odbc) << c.sql;
    EXPECT_EQ(p.names, c.names) << c.sql;
  }
}

TEST(ParseNamedParams, ColumnMetadataStatementWithMoneyComments) {
  // The comments end at the line break; the CASE goes on after them.
  const std::string sql =
      "SELECT CONVERT(VARCHAR(50), sysobjects.name) AS tabname, \r\n"
      "       CASE syscolumns.xtype  \r\n"
      "         WHEN 60 THEN 'M' -- Money\r\n"
      "         WHEN 106 THEN 'D' -- Decimal: :nada\r\n"
      "       END type \r\n"
      "  FROM syscolumns WHERE syscolumns.id = :pid";
  const auto p = ParseNamedParams(sql);
  EXPECT_EQ(p.names, std::vector<std::string>{"pid"});
  EXPECT_NE(p.odbcSql.find("-- Decimal: :nada\r\n       END type"), std::string::npos);
}

}  // namespace
}  // namespace tamrix::db
