// TsmComum: value masks from the main database's column metadata, text reversal and the
// upload of a Base64 text file beside the executable.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <filesystem>
#include <fstream>
#include <set>

#include "EndpointsTeste.h"
#include "diagnostics/uExcecoes.h"
#include "endpoints/uArquivoUpload.h"
#include "endpoints/usmComum.h"
#include "rest/uJSONWriter.h"
#include "support/pastatemp.h"
#include "util/uBase64.h"
#include "util/uSistema.h"

namespace tamrix::endpoints::teste {
namespace {

namespace fs = std::filesystem;
using ComumTest = EndpointsTest;

// The single string of a {"result":[...]} answer.
std::string Texto(const TResposta& r) {
  EXPECT_EQ(r.Status, 200) << r.Corpo;
  const auto v = boost::json::parse(r.Corpo);
  return std::string(v.at("result").at(0).as_string());
}

std::string Ler(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(ComumTest, FormatarCampoValorByScale) {
  struct {
    std::string args, mascara;
  } casos[] = {
      {"produto_valor/qt_caixas", "#,##0."},
      {"produto_valor/vl_preco", "#,##0.00"},
      {"produto_valor/qt_peso", "#,##0.000"},
      {"produto_valor/descricao", ""},  // not money or decimal
      {"produto_valor/inexistente", ""},
      {"produto_valor/%20vl_preco", ""},  // exact names, untrimmed
      {"%20%20/vl_preco", ""},
      {"produto_valor/%09", ""},
      {"", ""},
  };
  for (const auto& c : casos)
    EXPECT_EQ(Texto(S().Get("TsmComum/FormatarCampoValor/" + c.args)), c.mascara) << c.args;
}

TEST(ComumSemServidorTest, FormatarCampoValorWithoutDataModuleAndInverterString) {
  TsmComum comum;
  EXPECT_EQ(comum.FormatarCampoValor("produto_valor", "vl_preco"), "");
  EXPECT_EQ(comum.InverterString("abc"), "cba");
  EXPECT_EQ(comum.InverterString(""), "");
  EXPECT_EQ(comum.InverterString("ação"), "oãça");
  // A character outside the 16-bit range stays whole.
  EXPECT_EQ(comum.InverterString("a\xF0\x9F\x98\x80"
                                 "b"),
            "b\xF0\x9F\x98\x80"
            "a");
}

TEST_F(ComumTest, InverterStringOverRest) {
  EXPECT_EQ(S().Get("TsmComum/InverterString/abc").Corpo, R"({"result":["cba"]})");
  EXPECT_EQ(S().Get("TsmComum/InverterString/a%2Fb%20c").Corpo, R"({"result":["c b\/a"]})");
  EXPECT_EQ(S().Get("TsmComum/InverterString/x%F0%9F%98%80").Corpo,
            R"({"result":["\uD83D\uDE00x"]})");
}

// The upload files in the executable's directory.
std::set<fs::path> ArquivosUpload() {
  static const std::regex kNome(R"(\d{4}-\d\d-\d\d \d{6}(-\d+)?\.txt)");
  std::set<fs::path> r;
  for (const auto& e : fs::directory_iterator(util::PastaExecutavel()))
    if (std::regex_match(e.path().filename().string(), kNome)) r.insert(e.path());
  return r;
}

class UploadTest : public ComumTest {
 protected:
  // ctest runs tests in parallel processes that share the executable's directory: upload
  // tests take turns through a lock file there.
  void SetUp() override {
    ComumTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    trava_ = ::open((util::PastaExecutavel() + ".upload_test.lock").c_str(),
                    O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(trava_, 0);
    ASSERT_EQ(::flock(trava_, LOCK_EX), 0);
    antes_ = ArquivosUpload();
  }
  void TearDown() override {
    if (trava_ < 0) return;
    for (const auto& p : Novos()) fs::remove(p);
    ::close(trava_);
  }
  std::vector<fs::path> Novos() const {
    std::vector<fs::path> r;
    for (const auto& p : ArquivosUpload())
      if (!antes_.count(p)) r.push_back(p);
    return r;
  }
  TResposta Post(const std::string& args, const std::string& corpo) {
    std::string s;
    return S().Chamar("POST", "TsmComum/UploadFile/" + args, s, corpo);
  }
  std::set<fs::path> antes_;
  int trava_ = -1;
};

TEST_F(UploadTest, NoObjectWritesNothing) {
  EXPECT_EQ(Texto(S().Get("TsmComum/UploadFile/a/b/c")), "");
  // A fourth segment arrives as a JSON string, not an object.
  EXPECT_EQ(Texto(S().Get("TsmComum/UploadFile/a/b/c/%7B%22x%22%3A%22QQ%3D%3D%22%7D")), "");
  EXPECT_EQ(Texto(Post("a/b/c", "[\"QQ==\"]")), "");
  EXPECT_TRUE(Novos().empty());
}

TEST_F(UploadTest, ContentLinesBytesAndMembers) {
  struct {
    std::string nome;
    std::string corpo;
    std::string arquivo;  // the file's bytes
    std::string texto;    // what follows "#Sucesso#"
  } casos[] = {
      {"no members", "{}", "", ""},
      {"one LF", R"({"arquivo":")" + util::CodificarBase64("A\nB") + "\"}", "A\r\nB\r\n",
       "A\r\nB\r\n"},
      {"CR, CR LF, blank line, break at the end",
       R"({"a":")" + util::CodificarBase64("1\r2\r\n\n3\n") + "\"}", "1\r\n2\r\n\r\n3\r\n",
       "1\r\n2\r\n\r\n3\r\n"},
      // bytes above 127 stay the same bytes in the file; the answer reads them as codes 0-255
      {"8-bit bytes", R"({"a":")" + util::CodificarBase64("\xE7\x80\xFF") + "\"}",
       "\xE7\x80\xFF\r\n", "\xC3\xA7\xC2\x80\xC3\xBF\r\n"},
      {"last member wins",
       R"({"a":")" + util::CodificarBase64("um") + R"(","b":")" + util::CodificarBase64("dois") +
           "\"}",
       "dois\r\n", "dois\r\n"},
      // the 76-character lines of a MIME encoder decode whole
      {"line breaks inside the Base64",
       boost::json::serialize(
           boost::json::object{{"a", util::CodificarBase64(std::string(100, 'x') + "\nfim")}}),
       std::string(100, 'x') + "\r\nfim\r\n", std::string(100, 'x') + "\r\nfim\r\n"},
      // already in CR LF form (kept where it was decoded) or nearly so
      {"already CR LF", R"({"a":")" + util::CodificarBase64("A\r\nB\r\n") + "\"}", "A\r\nB\r\n",
       "A\r\nB\r\n"},
      {"CR CR LF, no break at the end",
       R"({"a":")" + util::CodificarBase64("A\r\r\nB\r\nC") + "\"}", "A\r\n\r\nB\r\nC\r\n",
       "A\r\n\r\nB\r\nC\r\n"},
      {"CR at the end", R"({"a":")" + util::CodificarBase64("A\r") + "\"}", "A\r\n", "A\r\n"},
      // a last member that is not a string: null is "", a number its JSON text ("QUJD")
      {"last member null", R"({"a":"QQ==","b":null})", "", ""},
      {"last member a number", R"({"a":1234})", "\xD7m\xF8\r\n", "\xC3\x97m\xC3\xB8\r\n"},
      // every escape the answer can need: quote, backslash, slash, controls, DEL, 8-bit
      {"escapes", R"({"a":")" + util::CodificarBase64("\"\\/\b\t\f\x01\x7F\x80\xA0") + "\"}",
       "\"\\/\b\t\f\x01\x7F\x80\xA0\r\n", "\"\\/\b\t\f\x01\x7F\xC2\x80\xC2\xA0\r\n"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.nome);
    const auto antes = ArquivosUpload();
    const TResposta r = Post("12345678000195/2016-10-10/V", c.corpo);
    EXPECT_EQ(Texto(r), "#Sucesso#" + c.texto);
    // Byte for byte what any text result is written as.
    std::string esperado = R"({"result":[)";
    rest::EscreverTextoJSON(esperado, "#Sucesso#" + c.texto);
    EXPECT_EQ(r.Corpo, esperado + "]}");
    std::vector<fs::path> novos;
    for (const auto& p : ArquivosUpload())
      if (!antes.count(p)) novos.push_back(p);
    ASSERT_EQ(novos.size(), 1u);
    EXPECT_EQ(Ler(novos[0]), c.arquivo);
  }
}

TEST_F(UploadTest, TheThreeTextsAreNotUsedAndUpdateUploadFileIsTheSame) {
  const std::string corpo = R"({"a":")" + util::CodificarBase64("linha") + "\"}";
  EXPECT_EQ(Texto(Post("null/null/null", corpo)), "#Sucesso#linha\r\n");
  EXPECT_EQ(Texto(Post("x/y/z", corpo)), "#Sucesso#linha\r\n");
  std::string s;
  EXPECT_EQ(Texto(S().Chamar("POST", "TsmComum/%22updateUploadFile%22/1/2/3", s, corpo)),
            "#Sucesso#linha\r\n");
  const auto novos = Novos();
  ASSERT_EQ(novos.size(), 3u);  // calls within one second keep apart
  for (const auto& p : novos) EXPECT_EQ(Ler(p), "linha\r\n");
}

TEST(ArquivoUploadTest, SameSecondGetsACounterAndNothingIsReplaced) {
  testes::TPastaTemp pasta;
  const std::string dir = pasta.Pasta();
  std::tm tm{};
  tm.tm_year = 116, tm.tm_mon = 9, tm.tm_mday = 10, tm.tm_hour = 19, tm.tm_min = 33, tm.tm_sec = 25,
  tm.tm_isdst = -1;
  const auto momento =
      std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(250);
  EXPECT_EQ(GravarArquivoUpload(dir, momento, "um"), dir + "2016-10-10 193325.txt");
  EXPECT_EQ(GravarArquivoUpload(dir, momento, "dois"), dir + "2016-10-10 193325-2.txt");
  EXPECT_EQ(GravarArquivoUpload(dir, momento + std::chrono::milliseconds(500), "tres"),
            dir + "2016-10-10 193325-3.txt");
  EXPECT_EQ(Ler(dir + "2016-10-10 193325.txt"), "um");
  EXPECT_EQ(Ler(dir + "2016-10-10 193325-2.txt"), "dois");
  EXPECT_EQ(Ler(dir + "2016-10-10 193325-3.txt"), "tres");
  EXPECT_EQ(GravarArquivoUpload(dir, momento + std::chrono::seconds(1), ""),
            dir + "2016-10-10 193326.txt");
  EXPECT_EQ(fs::file_size(dir + "2016-10-10 193326.txt"), 0u);
}

TEST(ArquivoUploadTest, AFolderThatCannotBeWrittenRaisesInPortuguese) {
  try {
    GravarArquivoUpload("/nao/existe/", std::chrono::system_clock::now(), "x");
    FAIL() << "no exception";
  } catch (const diagnostics::Exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Não foi possível gravar o arquivo /nao/existe/", 0), 0u)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("a pasta não existe."), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace tamrix::endpoints::teste
