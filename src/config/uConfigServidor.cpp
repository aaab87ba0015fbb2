#include "config/uConfigServidor.h"

#include "config/uArquivoIni.h"
#include "util/uAparar.h"
#include "util/uConversaoNumero.h"
#include "util/uSistema.h"

namespace tamrix::config {

namespace {

// The integer under the key when it is one and accepted by valido, else padrao.
template <typename T, typename F>
T Inteiro(const TArquivoIni& ini, const char* secao, const char* chave, T padrao, F valido) {
  const auto texto = ini.Valor(secao, chave);
  T v = 0;
  if (texto && util::TentarTextoParaInteiro(*texto, v) && valido(v)) return v;
  return padrao;
}

std::string Texto(const TArquivoIni& ini, const char* secao, const char* chave) {
  return ini.Valor(secao, chave).value_or("");
}

const auto kQualquer = [](auto) { return true; };
const auto kPositivo = [](auto v) { return v > 0; };
const auto kNaoNegativo = [](auto v) { return v >= 0; };

}  // namespace

TConfigServidor::TConfigServidor() : TConfigServidor(util::PastaExecutavel() + "config.ini") {}

TConfigServidor::TConfigServidor(std::string arquivo) : arquivo_(std::move(arquivo)) {
  CarregarConfiguracao();
}

void TConfigServidor::CarregarConfiguracao() {
  const TArquivoIni ini = TArquivoIni::Ler(arquivo_);

  FiPorta = Inteiro<std::int32_t>(ini, "Servidor", "Porta", 8080, kQualquer);
  FspHost = util::Aparar(Texto(ini, "BD", "Host"));
  FspInstancia = util::Aparar(Texto(ini, "BD", "Instancia"));
  FspDatabase = util::Aparar(Texto(ini, "BD", "DataBase"));
  FspUsuarioBD = Texto(ini, "BD", "Usuario");
  FspSenhaBD = Texto(ini, "BD", "Senha");

  FspDriver = util::Aparar(Texto(ini, "BD", "Driver"));
  if (FspDriver.empty()) FspDriver = "FreeTDS";
  FiPortaBD = Inteiro<std::int32_t>(ini, "BD", "Porta", 0,
                                    [](std::int32_t v) { return v >= 1 && v <= 65535; });
  FbReutilizarConexoes = Inteiro<std::int32_t>(ini, "BD", "ReutilizarConexoes", 1, kQualquer) != 0;
  FiTempoReuso = Inteiro<std::int32_t>(ini, "BD", "TempoReuso", 60, kNaoNegativo);

  FiTempoLeitura = Inteiro<std::int32_t>(ini, "Servidor", "TempoLeitura", 30, kPositivo);
  FiTamanhoMaximoCorpo =
      Inteiro<std::int64_t>(ini, "Servidor", "TamanhoMaximoCorpo", 67108864, kPositivo);
  FiMaximoConexoes = Inteiro<std::int32_t>(ini, "Servidor", "MaximoConexoes", 1024, kPositivo);
  FiCacheMaximoEntradas =
      Inteiro<std::int32_t>(ini, "Servidor", "CacheMaximoEntradas", 100, kNaoNegativo);
  FiCacheMaximoBytes =
      Inteiro<std::int64_t>(ini, "Servidor", "CacheMaximoBytes", 67108864, kNaoNegativo);
  FiTamanhoMaximoCabecalho =
      Inteiro<std::int64_t>(ini, "Servidor", "TamanhoMaximoCabecalho", 65536, kPositivo);
  FiTempoEscrita = Inteiro<std::int32_t>(ini, "Servidor", "TempoEscrita", 60, kPositivo);
  FiMaximoConexoesPorIP =
      Inteiro<std::int32_t>(ini, "Servidor", "MaximoConexoesPorIP", 256, kNaoNegativo);
  FiTamanhoMaximoLog =
      Inteiro<std::int64_t>(ini, "Servidor", "TamanhoMaximoLog", 67108864, kPositivo);
  FiEspacoMaximoUploads =
      Inteiro<std::int64_t>(ini, "Servidor", "EspacoMaximoUploads", 1073741824, kNaoNegativo);
  FiMaximoInstancias = Inteiro<std::int32_t>(ini, "Servidor", "MaximoInstancias", 32, kPositivo);
  FiEsperaInstancia = Inteiro<std::int32_t>(ini, "Servidor", "EsperaInstancia", 0, kNaoNegativo);
  {
    // -1 stands for "not set": the default depends on the mode, known only at start.
    std::int64_t v = 0;
    const auto texto = ini.Valor("Servidor", "LogAcesso");
    FiLogAcesso = texto && util::TentarTextoParaInteiro(*texto, v) ? (v != 0 ? 1 : 0) : -1;
  }
  FiEsperaDrenagem = Inteiro<std::int32_t>(ini, "Servidor", "EsperaDrenagem", 0, kNaoNegativo);
  FiTempoEncerramento =
      Inteiro<std::int32_t>(ini, "Servidor", "TempoEncerramento", 30, kNaoNegativo);
  FiTentativasLogin = Inteiro<std::int32_t>(ini, "Servidor", "TentativasLogin", 5, kNaoNegativo);
  FiBloqueioLogin = Inteiro<std::int32_t>(ini, "Servidor", "BloqueioLogin", 30, kPositivo);
  FiTempoConexao = Inteiro<std::int32_t>(ini, "BD", "TempoConexao", 15, kPositivo);
  FiTempoConsulta = Inteiro<std::int32_t>(ini, "BD", "TempoConsulta", 300, kNaoNegativo);
  FiTempoImportacao = Inteiro<std::int32_t>(ini, "BD", "TempoImportacao", 1800, kNaoNegativo);
  FiPortaHTTPS =
      Inteiro<std::int32_t>(ini, "HTTPS", "Porta", 0, [](auto v) { return v >= 0 && v <= 65535; });
  FspCertificadoHTTPS = util::Aparar(Texto(ini, "HTTPS", "Certificado"));
  FspChavePrivadaHTTPS = util::Aparar(Texto(ini, "HTTPS", "ChavePrivada"));
  FiPortaAdministracao = Inteiro<std::int32_t>(ini, "Administracao", "Porta", 0,
                                               [](auto v) { return v >= 0 && v <= 65535; });
  FspEnderecoAdministracao = util::Aparar(Texto(ini, "Administracao", "Endereco"));
  if (FspEnderecoAdministracao.empty()) FspEnderecoAdministracao = "127.0.0.1";
}

void TConfigServidor::SalvarConfiguracao() const {
  GravarSecaoIni(arquivo_, "BD",
                 {{"Host", FspHost},
                  {"Instancia", FspInstancia},
                  {"DataBase", FspDatabase},
                  {"Usuario", FspUsuarioBD},
                  {"Senha", FspSenhaBD}});
}

}  // namespace tamrix::config
