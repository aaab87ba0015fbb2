#include "config/uConfigServidor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "config/uEmbaralharTexto.h"
#include "support/pastatemp.h"
#include "util/uSistema.h"

namespace tamrix::config {
namespace {

using testes::LerArquivo;
using testes::TPastaTemp;

TEST(ConfigServidor, SemArquivoValoresPadrao) {
  TPastaTemp tmp;
  const TConfigServidor c(tmp.Caminho("config.ini"));
  EXPECT_EQ(c.Porta(), 8080);
  EXPECT_EQ(c.Host(), "");
  EXPECT_EQ(c.Instancia(), "");
  EXPECT_EQ(c.Database(), "");
  EXPECT_EQ(c.UsuarioBD(), "");
  EXPECT_EQ(c.SenhaBD(), "");
  EXPECT_EQ(c.Driver(), "FreeTDS");
  EXPECT_EQ(c.PortaBD(), 0);
  EXPECT_TRUE(c.ReutilizarConexoes());
  EXPECT_EQ(c.TempoReuso(), 60);
  EXPECT_EQ(c.TempoLeitura(), 30);
  EXPECT_EQ(c.TamanhoMaximoCorpo(), 67108864);
  EXPECT_EQ(c.MaximoConexoes(), 1024);
  EXPECT_EQ(c.CacheMaximoEntradas(), 100);
  EXPECT_EQ(c.CacheMaximoBytes(), 67108864);
  EXPECT_EQ(c.TamanhoMaximoCabecalho(), 65536);
  EXPECT_EQ(c.TempoEscrita(), 60);
  EXPECT_EQ(c.MaximoConexoesPorIP(), 256);
  EXPECT_EQ(c.TamanhoMaximoLog(), 67108864);
  EXPECT_EQ(c.EspacoMaximoUploads(), 1073741824);
  EXPECT_EQ(c.MaximoInstancias(), 32);
  EXPECT_EQ(c.EsperaInstancia(), 0);
  EXPECT_TRUE(c.LogAcesso(true));
  EXPECT_FALSE(c.LogAcesso(false));
  EXPECT_EQ(c.EsperaDrenagem(), 0);
  EXPECT_EQ(c.TempoEncerramento(), 30);
  EXPECT_EQ(c.TempoConexao(), 15);
  EXPECT_EQ(c.TempoConsulta(), 300);
  EXPECT_EQ(c.TempoImportacao(), 1800);
  EXPECT_EQ(c.PortaAdministracao(), 0);
  EXPECT_EQ(c.EnderecoAdministracao(), "127.0.0.1");
  EXPECT_EQ(c.TentativasLogin(), 5);
  EXPECT_EQ(c.BloqueioLogin(), 30);
  EXPECT_EQ(c.PortaHTTPS(), 0);
  EXPECT_EQ(c.CertificadoHTTPS(), "");
  EXPECT_EQ(c.ChavePrivadaHTTPS(), "");
}

TEST(ConfigServidor, ArquivoEscritoAMao) {
  TPastaTemp tmp;
  const std::string arq = tmp.Gravar("config.ini",
                                     "\xEF\xBB\xBF; comentário\r\n"
                                     "[servidor]\r\n"
                                     "porta = 9090\r\n"
                                     "TempoLeitura=5\r\n"
                                     "TamanhoMaximoCorpo=8589934592\r\n"
                                     "TamanhoMaximoCabecalho=8192\r\n"
                                     "TempoEscrita=7\r\n"
                                     "MaximoConexoesPorIP=0\r\n"
                                     "TamanhoMaximoLog=4096\r\n"
                                     "EspacoMaximoUploads=0\r\n"
                                     "MaximoInstancias=64\r\n"
                                     "EsperaInstancia=2500\r\n"
                                     "LogAcesso=0\r\n"
                                     "EsperaDrenagem=5\r\n"
                                     "TempoEncerramento=0\r\n"
                                     "TentativasLogin=0\r\n"
                                     "BloqueioLogin=5\r\n"
                                     "[Administracao]\r\n"
                                     "Porta=8081\r\n"
                                     "Endereco= 0.0.0.0 \r\n"
                                     "[HTTPS]\r\n"
                                     "Porta=8443\r\n"
                                     "Certificado= tls/servidor.pem \r\n"
                                     "ChavePrivada=/etc/tamrix/chave.pem\r\n"
                                     "\r\n"
                                     "[BD]\r\n"
                                     "  HOST =   10.0.0.5   \r\n"  // indented: still a key
                                     "Instancia=\r\n"
                                     "database=\"Principal\"\r\n"
                                     "Usuario=VVc9PQ==\r\n"
                                     "Senha=abc\r\n"
                                     "Senha=segunda\r\n"  // the first occurrence wins
                                     "Driver = ODBC Driver 18 for SQL Server\r\n"
                                     "Porta=1433\r\n"
                                     "ReutilizarConexoes=0\r\n"
                                     "TempoReuso=0\r\n"
                                     "TempoConexao=3\r\n"
                                     "TempoConsulta=0\r\n"
                                     "TempoImportacao=7200\r\n");
  const TConfigServidor c(arq);
  EXPECT_EQ(c.Porta(), 9090);
  EXPECT_EQ(c.Host(), "10.0.0.5");
  EXPECT_EQ(c.Instancia(), "");
  EXPECT_EQ(c.Database(), "Principal");
  EXPECT_EQ(c.UsuarioBD(), "VVc9PQ==");
  EXPECT_EQ(c.SenhaBD(), "abc");
  EXPECT_EQ(c.Driver(), "ODBC Driver 18 for SQL Server");
  EXPECT_EQ(c.PortaBD(), 1433);
  EXPECT_FALSE(c.ReutilizarConexoes());
  EXPECT_EQ(c.TempoReuso(), 0);
  EXPECT_EQ(c.TempoLeitura(), 5);
  EXPECT_EQ(c.TamanhoMaximoCorpo(), 8589934592LL);
  EXPECT_EQ(c.TamanhoMaximoCabecalho(), 8192);
  EXPECT_EQ(c.TempoEscrita(), 7);
  EXPECT_EQ(c.MaximoConexoesPorIP(), 0);  // 0 switches the cap off
  EXPECT_EQ(c.TamanhoMaximoLog(), 4096);
  EXPECT_EQ(c.EspacoMaximoUploads(), 0);
  EXPECT_EQ(c.MaximoInstancias(), 64);
  EXPECT_EQ(c.EsperaInstancia(), 2500);
  EXPECT_FALSE(c.LogAcesso(true));  // set: the mode no longer matters
  EXPECT_EQ(c.EsperaDrenagem(), 5);
  EXPECT_EQ(c.TempoEncerramento(), 0);
  EXPECT_EQ(c.PortaAdministracao(), 8081);
  EXPECT_EQ(c.EnderecoAdministracao(), "0.0.0.0");
  EXPECT_EQ(c.PortaHTTPS(), 8443);
  EXPECT_EQ(c.CertificadoHTTPS(), "tls/servidor.pem");
  EXPECT_EQ(c.ChavePrivadaHTTPS(), "/etc/tamrix/chave.pem");
  EXPECT_EQ(c.TempoConexao(), 3);
  EXPECT_EQ(c.TempoConsulta(), 0);  // 0: no limit
  EXPECT_EQ(c.TempoImportacao(), 7200);
  EXPECT_EQ(c.TentativasLogin(), 0);  // 0 switches the lock off
  EXPECT_EQ(c.BloqueioLogin(), 5);
}

TEST(ConfigServidor, ValoresInvalidosDaoOPadrao) {
  const struct {
    const char* servidor;
    const char* bd;
  } casos[] = {
      {"Porta=abc\nTempoLeitura=0\nTamanhoMaximoCorpo=-1\nMaximoConexoes=x\n"
       "CacheMaximoEntradas=-3\nCacheMaximoBytes=1e6\nTamanhoMaximoCabecalho=0\nTempoEscrita=-1\n"
       "MaximoConexoesPorIP=-2\nTamanhoMaximoLog=0\nEspacoMaximoUploads=-1\nMaximoInstancias=0\n"
       "EsperaInstancia=-5\nLogAcesso=talvez\nEsperaDrenagem=-1\nTempoEncerramento=-1\n"
       "TentativasLogin=-1\nBloqueioLogin=0\n"
       "[Administracao]\nPorta=70000\nEndereco=  \n",
       "Driver=\nPorta=70000\nReutilizarConexoes=sim\nTempoReuso=-5\nTempoConexao=0\n"
       "TempoConsulta=-1\nTempoImportacao=x\n"},
      {"Porta=\nTempoLeitura=\nTamanhoMaximoCorpo=\nMaximoConexoes=0\nCacheMaximoEntradas=\n"
       "CacheMaximoBytes=\n",
       "Driver=   \nPorta=\nReutilizarConexoes=\nTempoReuso=abc\n"},
  };
  for (const auto& caso : casos) {
    TPastaTemp tmp;
    const TConfigServidor c(
        tmp.Gravar("config.ini", std::string("[Servidor]\n") + caso.servidor + "[BD]\n" + caso.bd));
    EXPECT_EQ(c.Porta(), 8080);
    EXPECT_EQ(c.TempoLeitura(), 30);
    EXPECT_EQ(c.TamanhoMaximoCorpo(), 67108864);
    EXPECT_EQ(c.MaximoConexoes(), 1024);
    EXPECT_EQ(c.CacheMaximoEntradas(), 100);
    EXPECT_EQ(c.CacheMaximoBytes(), 67108864);
    EXPECT_EQ(c.TamanhoMaximoCabecalho(), 65536);
    EXPECT_EQ(c.TempoEscrita(), 60);
    EXPECT_EQ(c.MaximoConexoesPorIP(), 256);
    EXPECT_EQ(c.TamanhoMaximoLog(), 67108864);
    EXPECT_EQ(c.EspacoMaximoUploads(), 1073741824);
    EXPECT_EQ(c.MaximoInstancias(), 32);
    EXPECT_EQ(c.EsperaInstancia(), 0);
    EXPECT_EQ(c.Driver(), "FreeTDS");
    EXPECT_EQ(c.PortaBD(), 0);
    EXPECT_TRUE(c.ReutilizarConexoes());
    EXPECT_EQ(c.TempoReuso(), 60);
    EXPECT_TRUE(c.LogAcesso(true));
    EXPECT_FALSE(c.LogAcesso(false));
    EXPECT_EQ(c.EsperaDrenagem(), 0);
    EXPECT_EQ(c.TempoEncerramento(), 30);
    EXPECT_EQ(c.PortaAdministracao(), 0);
    EXPECT_EQ(c.EnderecoAdministracao(), "127.0.0.1");
    EXPECT_EQ(c.TempoConexao(), 15);
    EXPECT_EQ(c.TempoConsulta(), 300);
    EXPECT_EQ(c.TempoImportacao(), 1800);
    EXPECT_EQ(c.TentativasLogin(), 5);
    EXPECT_EQ(c.BloqueioLogin(), 30);
  }
}

TEST(ConfigServidor, SalvarGravaSoASecaoBD) {
  TPastaTemp tmp;
  const std::string arq = tmp.Gravar("config.ini",
                                     "[Servidor]\r\nPorta=9191\r\n\r\n"
                                     "[bd]\r\nhost=velho\r\nDriver=X\r\n\r\n[Outra]\r\nA=1\r\n");
  TConfigServidor c(arq);
  c.SetHost("novo");
  c.SetDatabase("Base");
  c.SetPorta(1);                                                            // not written
  const std::string usuario = EmbaralharTexto(std::string(60, 'u'), true);  // two lines
  c.SetUsuarioBD(usuario);
  c.SalvarConfiguracao();

  EXPECT_EQ(LerArquivo(arq),
            "[Servidor]\r\nPorta=9191\r\n\r\n"
            "[bd]\r\nHost=novo\r\nDriver=X\r\nInstancia=\r\nDataBase=Base\r\nUsuario=" +
                usuario.substr(0, 76) + usuario.substr(78) +
                "\r\nSenha=\r\n\r\n[Outra]\r\nA=1\r\n");
  const TConfigServidor relido(arq);
  EXPECT_EQ(relido.Porta(), 9191);
  EXPECT_EQ(relido.Host(), "novo");
  EXPECT_EQ(relido.Driver(), "X");
  EXPECT_EQ(EmbaralharTexto(relido.UsuarioBD(), false), std::string(60, 'u'));

  // A file without the section gets it at the end.
  const std::string outro = tmp.Gravar("outro.ini", "[Servidor]\r\nPorta=1\r\n");
  TConfigServidor(outro).SalvarConfiguracao();
  EXPECT_EQ(LerArquivo(outro),
            "[Servidor]\r\nPorta=1\r\n\r\n[BD]\r\nHost=\r\nInstancia=\r\nDataBase=\r\n"
            "Usuario=\r\nSenha=\r\n");
}

TEST(ConfigServidor, SingletonLeConfigIniDaPastaDoExecutavel) {
  const std::string arq = util::PastaExecutavel() + "config.ini";
  TConfigServidorSingleton::ReleaseInstance();  // empty holder: nothing happens
  EXPECT_FALSE(TConfigServidorSingleton::HasInstance());

  { std::ofstream(arq, std::ios::binary) << "[Servidor]\r\nPorta=1234\r\n"; }
  EXPECT_EQ(TConfigServidorSingleton::GetInstance().Porta(), 1234);
  EXPECT_EQ(TConfigServidorSingleton::GetInstance().Arquivo(), arq);
  { std::ofstream(arq, std::ios::binary) << "[Servidor]\r\nPorta=4321\r\n"; }
  EXPECT_EQ(TConfigServidorSingleton::GetInstance().Porta(), 1234);  // read once
  TConfigServidorSingleton::ReleaseInstance();
  EXPECT_EQ(TConfigServidorSingleton::GetInstance().Porta(), 4321);  // fresh instance
  TConfigServidorSingleton::ReleaseInstance();
  std::remove(arq.c_str());
}

}  // namespace
}  // namespace tamrix::config
