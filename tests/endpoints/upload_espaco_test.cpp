// The room uploaded files may take: their own total and the disk's free space.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/uExcecoes.h"
#include "endpoints/uArquivoUpload.h"
#include "support/pastatemp.h"

namespace tamrix::endpoints::teste {
namespace {

namespace fs = std::filesystem;

std::size_t Arquivos(const std::string& dir) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// The exception's text, "" when none was raised.
std::string Recusa(const std::string& dir, std::string_view conteudo, const TLimitesUpload& l) {
  try {
    GravarArquivoUpload(dir, std::chrono::system_clock::now(), conteudo, l);
  } catch (const diagnostics::Exception& e) {
    return e.what();
  }
  return {};
}

TEST(ArquivoUploadEspaco, OnlyUploadNamesCountTowardsTheLimit) {
  testes::TPastaTemp pasta;
  const std::string dir = pasta.Pasta();
  pasta.Gravar("2016-10-10 193325.txt", std::string(100, 'a'));
  pasta.Gravar("2016-10-10 193325-12.txt", std::string(10, 'b'));
  for (const char* outro :
       {"log.txt", "config.ini", "2016-10-10 19332.txt", "2016-10-10 193325-.txt",
        "2016-10-10 193325-x.txt", "2016-10-10T193325.txt"})
    pasta.Gravar(outro, std::string(1000, 'c'));
  fs::create_directory(dir + "2016-10-11 000000.txt");  // a folder by that name is no upload
  EXPECT_EQ(EspacoUploads(dir), 2 * 4096u);             // whole blocks, as the disk holds them
}

TEST(ArquivoUploadEspaco, AFileBeyondTheLimitIsRefusedAndNothingIsWritten) {
  testes::TPastaTemp pasta;
  const std::string dir = pasta.Pasta();
  TLimitesUpload l;
  l.EspacoMaximo = 3 * 4096;
  l.LivreMinimo = 0;
  EXPECT_EQ(Recusa(dir, std::string(4097, 'x'), l), "");  // two blocks
  EXPECT_EQ(Recusa(dir, "", l), "");                      // exactly the limit
  const std::string texto = Recusa(dir, "", l);           // even empty files take a block
  EXPECT_NE(texto.find("não foi gravado"), std::string::npos) << texto;
  EXPECT_NE(texto.find("EspacoMaximoUploads"), std::string::npos) << texto;
  EXPECT_EQ(Arquivos(dir), 2u);

  // Removing old files makes room again.
  for (const auto& e : fs::directory_iterator(dir)) fs::remove(e.path());
  EXPECT_EQ(Recusa(dir, "y", l), "");
}

TEST(ArquivoUploadEspaco, TheDiskKeepsItsFreeSpace) {
  testes::TPastaTemp pasta;
  TLimitesUpload l;
  l.LivreMinimo = ~0ull >> 1;  // more than any disk holds
  const std::string texto = Recusa(pasta.Pasta(), "x", l);
  EXPECT_NE(texto.find("disco do servidor ficaria com menos de"), std::string::npos) << texto;
  EXPECT_EQ(Arquivos(pasta.Pasta()), 0u);
}

TEST(ArquivoUploadEspaco, UploadsAtOnceCannotBothTakeTheLastRoom) {
  testes::TPastaTemp pasta;
  const std::string dir = pasta.Pasta();
  TLimitesUpload l;
  l.EspacoMaximo = 10u << 20;
  l.LivreMinimo = 0;
  const std::string conteudo(3u << 20, 'z');
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { Recusa(dir, conteudo, l); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(Arquivos(dir), 3u);
  EXPECT_LE(EspacoUploads(dir), l.EspacoMaximo);
}

}  // namespace
}  // namespace tamrix::endpoints::teste
