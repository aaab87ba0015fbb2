// The settings the server reads from config.ini, beside the executable, once at start.
// The database credentials stay in their scrambled form here (see EmbaralharTexto).
#ifndef TAMRIX_CONFIG_UCONFIGSERVIDOR_H
#define TAMRIX_CONFIG_UCONFIGSERVIDOR_H

#include <cstdint>
#include <string>

#include "util/uSingleton.h"

namespace tamrix::config {

class TConfigServidor {
 public:
  // Settings of "config.ini" in the executable's directory, read at once.
  TConfigServidor();
  // Settings of the given file instead (tests, tools), read at once.
  explicit TConfigServidor(std::string arquivo);

  // Reads every setting again from the file, replacing what the object held. A missing
  // file, section or key, and a value that cannot be used, give the defaults; it reports
  // nothing.
  void CarregarConfiguracao();

  // Writes section "BD" only: "Host", "Instancia", "DataBase", "Usuario" and "Senha" (the
  // credentials as held, scrambled), keeping the rest of the file. Line breaks inside a
  // value are dropped (a scrambled value reads the same without them). Raises
  // std::runtime_error when the file cannot be written.
  void SalvarConfiguracao() const;

  // The file the settings come from.
  const std::string& Arquivo() const { return arquivo_; }

  // "Servidor"/"Porta": listener port; 8080 when absent or not an integer.
  std::int32_t Porta() const { return FiPorta; }
  void SetPorta(std::int32_t v) { FiPorta = v; }
  // "BD"/"Host", trimmed: address of the main database server.
  const std::string& Host() const { return FspHost; }
  void SetHost(std::string v) { FspHost = std::move(v); }
  // "BD"/"Instancia", trimmed: SQL Server instance; empty means the default instance.
  const std::string& Instancia() const { return FspInstancia; }
  void SetInstancia(std::string v) { FspInstancia = std::move(v); }
  // "BD"/"DataBase", trimmed: name of the main database.
  const std::string& Database() const { return FspDatabase; }
  void SetDatabase(std::string v) { FspDatabase = std::move(v); }
  // "BD"/"Usuario", still scrambled.
  const std::string& UsuarioBD() const { return FspUsuarioBD; }
  void SetUsuarioBD(std::string v) { FspUsuarioBD = std::move(v); }
  // "BD"/"Senha", still scrambled.
  const std::string& SenhaBD() const { return FspSenhaBD; }
  void SetSenhaBD(std::string v) { FspSenhaBD = std::move(v); }

  // "BD"/"Driver", trimmed: ODBC driver name as registered with unixODBC; "FreeTDS" when
  // absent or empty.
  const std::string& Driver() const { return FspDriver; }
  void SetDriver(std::string v) { FspDriver = std::move(v); }
  // "BD"/"Porta": TCP port of the database server; 0 (the driver's default) when absent,
  // not an integer or outside 1-65535.
  std::int32_t PortaBD() const { return FiPortaBD; }
  void SetPortaBD(std::int32_t v) { FiPortaBD = v; }
  // "BD"/"ReutilizarConexoes": keep idle tenant connections for reuse; 0 switches it off,
  // any other integer on; on when absent or not an integer.
  bool ReutilizarConexoes() const { return FbReutilizarConexoes; }
  void SetReutilizarConexoes(bool v) { FbReutilizarConexoes = v; }
  // "BD"/"TempoReuso": seconds an idle pooled connection is kept; 60 when absent, not an
  // integer or negative.
  std::int32_t TempoReuso() const { return FiTempoReuso; }
  void SetTempoReuso(std::int32_t v) { FiTempoReuso = v; }

  // "Servidor"/"TempoLeitura": seconds allowed to read one request; 30 unless positive.
  std::int32_t TempoLeitura() const { return FiTempoLeitura; }
  void SetTempoLeitura(std::int32_t v) { FiTempoLeitura = v; }
  // "Servidor"/"TamanhoMaximoCorpo": largest request body in bytes; 67108864 unless
  // positive.
  std::int64_t TamanhoMaximoCorpo() const { return FiTamanhoMaximoCorpo; }
  void SetTamanhoMaximoCorpo(std::int64_t v) { FiTamanhoMaximoCorpo = v; }
  // "Servidor"/"MaximoConexoes": simultaneous HTTP connections; 1024 unless positive.
  std::int32_t MaximoConexoes() const { return FiMaximoConexoes; }
  void SetMaximoConexoes(std::int32_t v) { FiMaximoConexoes = v; }
  // "Servidor"/"CacheMaximoEntradas": results kept in the REST cache; 100 when absent, not
  // an integer or negative (0 keeps none).
  std::int32_t CacheMaximoEntradas() const { return FiCacheMaximoEntradas; }
  void SetCacheMaximoEntradas(std::int32_t v) { FiCacheMaximoEntradas = v; }
  // "Servidor"/"CacheMaximoBytes": bytes the REST cache may hold; 67108864 when absent, not
  // an integer or negative (0 keeps none).
  std::int64_t CacheMaximoBytes() const { return FiCacheMaximoBytes; }
  void SetCacheMaximoBytes(std::int64_t v) { FiCacheMaximoBytes = v; }
  // "Servidor"/"TamanhoMaximoCabecalho": bytes of one request's header lines together;
  // 65536 unless positive.
  std::int64_t TamanhoMaximoCabecalho() const { return FiTamanhoMaximoCabecalho; }
  void SetTamanhoMaximoCabecalho(std::int64_t v) { FiTamanhoMaximoCabecalho = v; }
  // "Servidor"/"TempoEscrita": seconds allowed to write one whole answer; 60 unless positive.
  std::int32_t TempoEscrita() const { return FiTempoEscrita; }
  void SetTempoEscrita(std::int32_t v) { FiTempoEscrita = v; }
  // "Servidor"/"MaximoConexoesPorIP": simultaneous connections of one client address; 256
  // when absent, not an integer or negative (0 switches the cap off).
  std::int32_t MaximoConexoesPorIP() const { return FiMaximoConexoesPorIP; }
  void SetMaximoConexoesPorIP(std::int32_t v) { FiMaximoConexoesPorIP = v; }
  // "Servidor"/"TamanhoMaximoLog": bytes of log.txt before it is rotated; 67108864 unless
  // positive.
  std::int64_t TamanhoMaximoLog() const { return FiTamanhoMaximoLog; }
  void SetTamanhoMaximoLog(std::int64_t v) { FiTamanhoMaximoLog = v; }
  // "Servidor"/"EspacoMaximoUploads": bytes the uploaded files beside the executable may
  // take together; 1073741824 when absent, not an integer or negative.
  std::int64_t EspacoMaximoUploads() const { return FiEspacoMaximoUploads; }
  void SetEspacoMaximoUploads(std::int64_t v) { FiEspacoMaximoUploads = v; }
  // "Servidor"/"MaximoInstancias": web-module instances serving requests at once; 32 unless
  // positive.
  std::int32_t MaximoInstancias() const { return FiMaximoInstancias; }
  void SetMaximoInstancias(std::int32_t v) { FiMaximoInstancias = v; }
  // "Servidor"/"EsperaInstancia": milliseconds a request waits for a free instance before it
  // is refused; 0 (refused at once) when absent, not an integer or negative.
  std::int32_t EsperaInstancia() const { return FiEsperaInstancia; }
  void SetEsperaInstancia(std::int32_t v) { FiEsperaInstancia = v; }
  // "Servidor"/"LogAcesso": one line per request on standard output; 0 off, any other
  // integer on. When absent or not an integer: on in headless mode, off in the window.
  bool LogAcesso(bool headless) const { return FiLogAcesso < 0 ? headless : FiLogAcesso != 0; }
  void SetLogAcesso(bool v) { FiLogAcesso = v ? 1 : 0; }
  // "Servidor"/"EsperaDrenagem": seconds the listener keeps serving after a stop signal while
  // readiness already answers 503; 0 when absent, not an integer or negative.
  std::int32_t EsperaDrenagem() const { return FiEsperaDrenagem; }
  void SetEsperaDrenagem(std::int32_t v) { FiEsperaDrenagem = v; }
  // "Servidor"/"TempoEncerramento": seconds calls in progress may take to finish once the
  // listener stops accepting; 30 when absent, not an integer or negative.
  std::int32_t TempoEncerramento() const { return FiTempoEncerramento; }
  void SetTempoEncerramento(std::int32_t v) { FiTempoEncerramento = v; }
  // "Servidor"/"TentativasLogin": failed logins of one client address, token and user name
  // within 5 minutes before further attempts are refused for a while; 5 when absent, not an
  // integer or negative (0 switches the lock off).
  std::int32_t TentativasLogin() const { return FiTentativasLogin; }
  void SetTentativasLogin(std::int32_t v) { FiTentativasLogin = v; }
  // "Servidor"/"BloqueioLogin": seconds of the first refusal; it doubles with each further
  // failure, up to 15 minutes. 30 unless positive.
  std::int32_t BloqueioLogin() const { return FiBloqueioLogin; }
  void SetBloqueioLogin(std::int32_t v) { FiBloqueioLogin = v; }

  // "BD"/"TempoConexao": seconds allowed to open a database connection; 15 unless positive.
  std::int32_t TempoConexao() const { return FiTempoConexao; }
  void SetTempoConexao(std::int32_t v) { FiTempoConexao = v; }
  // "BD"/"TempoConsulta": seconds one statement may run; 300 when absent, not an integer or
  // negative (0: no limit).
  std::int32_t TempoConsulta() const { return FiTempoConsulta; }
  void SetTempoConsulta(std::int32_t v) { FiTempoConsulta = v; }
  // "BD"/"TempoImportacao": seconds the sales-file import procedure may run; 1800 when
  // absent, not an integer or negative (0: no limit).
  std::int32_t TempoImportacao() const { return FiTempoImportacao; }
  void SetTempoImportacao(std::int32_t v) { FiTempoImportacao = v; }

  // "HTTPS"/"Porta": port of the TLS listener beside the plain one; 0 (off) when absent, not
  // an integer or outside 0-65535.
  std::int32_t PortaHTTPS() const { return FiPortaHTTPS; }
  void SetPortaHTTPS(std::int32_t v) { FiPortaHTTPS = v; }
  // "HTTPS"/"Certificado", trimmed: PEM file of the certificate (the chain may follow it); a
  // relative path is taken beside the executable by the listener.
  const std::string& CertificadoHTTPS() const { return FspCertificadoHTTPS; }
  void SetCertificadoHTTPS(std::string v) { FspCertificadoHTTPS = std::move(v); }
  // "HTTPS"/"ChavePrivada", trimmed: PEM file of the certificate's private key.
  const std::string& ChavePrivadaHTTPS() const { return FspChavePrivadaHTTPS; }
  void SetChavePrivadaHTTPS(std::string v) { FspChavePrivadaHTTPS = std::move(v); }

  // "Administracao"/"Porta": port of the admin listener (health and metrics); 0 (off) when
  // absent, not an integer or outside 0-65535.
  std::int32_t PortaAdministracao() const { return FiPortaAdministracao; }
  void SetPortaAdministracao(std::int32_t v) { FiPortaAdministracao = v; }
  // "Administracao"/"Endereco", trimmed: address the admin listener binds; "127.0.0.1" when
  // absent or empty.
  const std::string& EnderecoAdministracao() const { return FspEnderecoAdministracao; }
  void SetEnderecoAdministracao(std::string v) { FspEnderecoAdministracao = std::move(v); }

 private:
  std::string arquivo_;
  std::int32_t FiPorta = 8080;
  std::string FspHost;
  std::string FspInstancia;
  std::string FspDatabase;
  std::string FspUsuarioBD;
  std::string FspSenhaBD;
  std::string FspDriver = "FreeTDS";
  std::int32_t FiPortaBD = 0;
  bool FbReutilizarConexoes = true;
  std::int32_t FiTempoReuso = 60;
  std::int32_t FiTempoLeitura = 30;
  std::int64_t FiTamanhoMaximoCorpo = 67108864;
  std::int32_t FiMaximoConexoes = 1024;
  std::int32_t FiCacheMaximoEntradas = 100;
  std::int64_t FiCacheMaximoBytes = 67108864;
  std::int64_t FiTamanhoMaximoCabecalho = 65536;
  std::int32_t FiTempoEscrita = 60;
  std::int32_t FiMaximoConexoesPorIP = 256;
  std::int64_t FiTamanhoMaximoLog = 67108864;
  std::int64_t FiEspacoMaximoUploads = 1073741824;
  std::int32_t FiMaximoInstancias = 32;
  std::int32_t FiEsperaInstancia = 0;
  std::int32_t FiLogAcesso = -1;
  std::int32_t FiEsperaDrenagem = 0;
  std::int32_t FiTempoEncerramento = 30;
  std::int32_t FiTentativasLogin = 5;
  std::int32_t FiBloqueioLogin = 30;
  std::int32_t FiTempoConexao = 15;
  std::int32_t FiTempoConsulta = 300;
  std::int32_t FiTempoImportacao = 1800;
  std::int32_t FiPortaHTTPS = 0;
  std::string FspCertificadoHTTPS;
  std::string FspChavePrivadaHTTPS;
  std::int32_t FiPortaAdministracao = 0;
  std::string FspEnderecoAdministracao = "127.0.0.1";
};

// The process-wide settings.
class TConfigServidorSingleton : public util::TSingleton<TConfigServidor> {};

}  // namespace tamrix::config

#endif  // TAMRIX_CONFIG_UCONFIGSERVIDOR_H
