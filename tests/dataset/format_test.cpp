// The binary storage format: every column type through writer and reader, the one text form
// each type is read back in, values that do not fit their column, and damaged streams.
#include <gtest/gtest.h>

#include <string>

#include "dataset/dataset_helpers.h"
#include "diagnostics/uExcecoes.h"
#include "rest/uDataSetFormat.h"
#include "rest/uDataSetReader.h"

namespace tamrix::testes {
namespace {

using rest::TTipoColuna;

TEST(Format, EveryTypeRoundTripsWithNullsAndEmptyValuesApart) {
  const auto [colunas, linhas] = TodosOsTipos();
  const auto lidos = rest::LerContainerDataSets(Container("qySQL", colunas, linhas));
  ASSERT_EQ(lidos.size(), 1u);
  EXPECT_EQ(lidos[0].Colunas, colunas);
  ASSERT_EQ(lidos[0].Linhas.size(), linhas.size());
  for (std::size_t r = 0; r < linhas.size(); ++r)
    for (std::size_t c = 0; c < colunas.size(); ++c)
      EXPECT_EQ(lidos[0].Linhas[r][c], linhas[r][c]) << colunas[c].Nome << " row " << r;
}

TEST(Format, AcceptedSpellingsAreReadBackInOneForm) {
  const struct {
    TTipoColuna tipo;
    std::string dado, lido;
  } casos[] = {
      {TTipoColuna::tcLogico, "1", "true"},
      {TTipoColuna::tcLogico, "F", "false"},
      {TTipoColuna::tcLogico, "True", "true"},
      {TTipoColuna::tcDecimal, ".5", "0.5"},
      {TTipoColuna::tcDecimal, "-.5", "-0.5"},
      {TTipoColuna::tcDecimal, "5.", "5"},
      {TTipoColuna::tcDecimal, "007.10", "007.10"},
      {TTipoColuna::tcDataHora, "2024-01-02T03:04:05", "2024-01-02 03:04:05"},
      {TTipoColuna::tcDataHora, "2024-01-02", "2024-01-02 00:00:00"},
      {TTipoColuna::tcDataHora, "2024-01-02 03:04:05.500000", "2024-01-02 03:04:05.5"},
      {TTipoColuna::tcHora, "10:00:00.000", "10:00:00"},
      {TTipoColuna::tcDataHoraFuso, "2024-01-01 10:00:00Z", "2024-01-01 10:00:00+00:00"},
      {TTipoColuna::tcDataHoraFuso, "2024-01-01 10:00:00+0530", "2024-01-01 10:00:00+05:30"},
      {TTipoColuna::tcDataHoraFuso, "2024-01-01 10:00:00-03", "2024-01-01 10:00:00-03:00"},
      {TTipoColuna::tcDataHoraFuso, "2024-01-01 10:00:00.1200000 +03:00",
       "2024-01-01 10:00:00.12+03:00"},
  };
  for (const auto& c : casos) {
    const auto lidos = rest::LerContainerDataSets(Container("", {Coluna("v", c.tipo)}, {{c.dado}}));
    EXPECT_EQ(lidos.at(0).Linhas.at(0).at(0), c.lido) << c.dado;
  }
}

TEST(Format, ValueThatDoesNotFitItsColumnIsAnError) {
  const struct {
    TTipoColuna tipo;
    std::string dado;
  } casos[] = {
      {TTipoColuna::tcLogico, "yes"},
      {TTipoColuna::tcInteiro16, "32768"},
      {TTipoColuna::tcInteiro32, ""},
      {TTipoColuna::tcInteiro32, "12abc"},
      {TTipoColuna::tcInteiro64, "1.0"},
      {TTipoColuna::tcDecimal, "1e5"},
      {TTipoColuna::tcDecimal, "NaN"},
      {TTipoColuna::tcDecimal, "-"},
      {TTipoColuna::tcReal, "x"},
      {TTipoColuna::tcData, "2023-02-29"},
      {TTipoColuna::tcData, "24-01-01"},
      {TTipoColuna::tcHora, "24:00:00"},
      {TTipoColuna::tcHora, "10:00"},
      {TTipoColuna::tcHora, "10:00:00.1234567891"},
      {TTipoColuna::tcDataHora, "2024-01-01 10:00:00 x"},
      {TTipoColuna::tcDataHoraFuso, "2024-01-01 10:00:00"},
  };
  for (const auto& c : casos) {
    std::string buf;
    EXPECT_THROW(rest::EscreverLinhaDataSet(buf, {Coluna("v", c.tipo)}, {c.dado}),
                 diagnostics::EDatabaseError)
        << rest::NomeTipoColuna(c.tipo) << " " << c.dado;
  }
  std::string buf;
  EXPECT_THROW(rest::EscreverLinhaDataSet(buf, {Coluna("v", TTipoColuna::tcTexto)}, {"a", "b"}),
               diagnostics::EDatabaseError);
}

std::string StreamValido() {
  std::vector<rest::TColunaDataSet> colunas = {Coluna("n", TTipoColuna::tcInteiro32),
                                               Coluna("t", TTipoColuna::tcTexto),
                                               Coluna("d", TTipoColuna::tcDataHora)};
  std::string buf;
  rest::EscreverCabecalhoDataSet(buf, colunas);
  rest::EscreverLinhaDataSet(buf, colunas, {"1", "um", "2024-01-01 00:00:00"});
  rest::EscreverLinhaDataSet(buf, colunas, {std::nullopt, "", std::nullopt});
  rest::EscreverFimDataSet(buf, 2);
  return buf;
}

TEST(Format, DamagedStreamIsRejected) {
  const std::string bom = StreamValido();
  ASSERT_EQ(rest::LerArmazenamentoDataSet(bom).Linhas.size(), 2u);
  for (std::size_t n = 0; n < bom.size(); ++n)
    EXPECT_THROW(rest::LerArmazenamentoDataSet(bom.substr(0, n)), diagnostics::Exception) << n;

  auto Alterado = [&](std::size_t pos, char c) {
    std::string s = bom;
    s[pos] = c;
    return s;
  };
  const std::size_t tipoPrimeiraColuna = 4 + 2 + 4 + 4 + 1;
  const std::string casos[] = {
      Alterado(0, 'X'),                  // mark
      Alterado(4, 2),                    // version
      Alterado(tipoPrimeiraColuna, 99),  // column type
      Alterado(bom.size() - 8, 3),       // row count
      Alterado(bom.size() - 9, 7),       // end mark
      bom + '\0',                        // trailing byte
  };
  for (const auto& s : casos)
    EXPECT_THROW(rest::LerArmazenamentoDataSet(s), diagnostics::Exception);
  try {
    rest::LerArmazenamentoDataSet(Alterado(4, 2));
  } catch (const diagnostics::Exception& e) {
    EXPECT_STREQ(e.what(), "Versão 2 do formato de conjunto de dados não suportada.");
  }
}

}  // namespace
}  // namespace tamrix::testes
