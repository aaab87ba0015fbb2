#include "app/ufServidorApp.h"

#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <thread>

#include <sys/wait.h>

#include "app/uControleServidor.h"
#include "config/uConfigServidor.h"
#include "diagnostics/uTraduzirErro.h"
#include "util/uMensagem.h"

namespace tamrix::app {

namespace {

constexpr int kLargura = 228;
constexpr int kAltura = 147;
// Tahoma at 8 points is about 11 pixels on a 96-dpi screen.
constexpr Fl_Fontsize kFonte = 11;
constexpr const char* kTitulo = "TAMRIX Rest Server";

std::thread::id idThreadJanela;

// Shows one modal box with the toolkit's alert icon and a single OK button.
void MostrarCaixa(const char* titulo, const std::string& texto) {
  fl_message_title(titulo);
  fl_alert("%s", texto.c_str());
}

// A box asked for by a thread other than the window's is shown by the window's thread
// when its loop next runs; the caller does not wait for it.
struct TCaixaPendente {
  std::string texto;
};

void MostrarCaixaPendente(void* dados) {
  std::unique_ptr<TCaixaPendente> caixa(static_cast<TCaixaPendente*>(dados));
  MostrarCaixa("Atenção", caixa->texto);
}

void MostrarAtencao(const std::string& texto) {
  if (std::this_thread::get_id() == idThreadJanela) {
    MostrarCaixa("Atenção", texto);
    return;
  }
  auto caixa = std::make_unique<TCaixaPendente>(TCaixaPendente{texto});
  if (Fl::awake(MostrarCaixaPendente, caixa.get()) == 0) caixa.release();
}

Fl_Button* CriarBotao(int x, int y, int w, int h, const char* legenda) {
  auto* b = new Fl_Button(x, y, w, h, legenda);  // owned by the window (FLTK group)
  b->labelsize(kFonte);
  return b;
}

void Ativar(Fl_Widget* w, bool ativo) {
  if (ativo && !w->active())
    w->activate();
  else if (!ativo && w->active())
    w->deactivate();
}

}  // namespace

bool OpenDisplay() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  // Opened here and handed over: the toolkit itself ends the process when it cannot open
  // the display.
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return false;
  fl_open_display(d);
  return true;
}

void MostrarErro(const std::string& texto) {
  MostrarCaixa("Erro", texto);
}

void AbrirEndereco(const std::string& endereco) {
  // Everything the children need is ready before fork: between fork and exec only
  // async-signal-safe calls are made.
  const char* argv[] = {"xdg-open", endereco.c_str(), nullptr};
  const pid_t filho = fork();
  if (filho < 0) return;
  if (filho == 0) {
    // The intermediate child ends at once, so the browser's launcher is adopted by init
    // and never becomes a zombie of the server.
    if (fork() == 0) {
      setsid();
      execvp(argv[0], const_cast<char* const*>(argv));
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(filho, &status, 0) < 0 && errno == EINTR) {
  }
}

TfServidorApp::TfServidorApp() : Fl_Double_Window(kLargura, kAltura, kTitulo) {
  idThreadJanela = std::this_thread::get_id();
  Fl::lock();  // lets other threads hand boxes to this loop (Fl::awake)
  fl_close = "OK";
  fl_message_hotspot(0);

  ButtonStart = CriarBotao(24, 8, 75, 25, "Iniciar");
  ButtonStop = CriarBotao(105, 8, 75, 25, "Parar");
  Label1 = new Fl_Box(24, 48, 40, 13, "Porta");
  Label1->labelsize(kFonte);
  Label1->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  EditPort = new Fl_Input(24, 67, 121, 21);
  EditPort->textsize(kFonte);
  EditPort->value("8080");
  ButtonOpenBrowser = CriarBotao(24, 112, 107, 25, "Abrir Navegador");
  end();

  ButtonStart->callback(
      [](Fl_Widget*, void* j) {
        Proteger([j] { static_cast<TfServidorApp*>(j)->ButtonStartClick(); });
      },
      this);
  ButtonStop->callback(
      [](Fl_Widget*, void* j) {
        Proteger([j] { static_cast<TfServidorApp*>(j)->ButtonStopClick(); });
      },
      this);
  ButtonOpenBrowser->callback(
      [](Fl_Widget*, void* j) {
        Proteger([j] { static_cast<TfServidorApp*>(j)->ButtonOpenBrowserClick(); });
      },
      this);
  callback(AoFechar);
  Fl::add_check(AoEsvaziarFila, this);

  // FormCreate
  FServer = CriarServidorHTTP();
  EditPort->value(std::to_string(config::TConfigServidorSingleton::GetInstance().Porta()).c_str());
  util::DefinirJanelaPrincipal(MostrarAtencao);
}

TfServidorApp::~TfServidorApp() {
  util::DefinirJanelaPrincipal({});
  Fl::remove_check(AoEsvaziarFila, this);
  // Requests must not run against a data module that goes away after the window.
  if (FServer) FServer->SetActive(false);
}

void TfServidorApp::Mostrar() {
  position((Fl::w() - w()) / 2, (Fl::h() - h()) / 2);
  show();
  Fl::add_timeout(
      0.0, [](void* j) { Proteger([j] { static_cast<TfServidorApp*>(j)->FormShow(); }); }, this);
}

void TfServidorApp::FormShow() {
  ButtonStartClick();
}

void TfServidorApp::ButtonStartClick() {
  if (!IniciarServidorHTTP(*FServer, EditPort->value())) ButtonStopClick();
}

void TfServidorApp::ButtonStopClick() {
  PararServidorHTTP(*FServer);
}

void TfServidorApp::ButtonOpenBrowserClick() {
  AbrirEndereco(std::string("http://localhost:") + EditPort->value());
}

void TfServidorApp::ApplicationEventsIdle() {
  const bool ativo = FServer->Active();
  Ativar(ButtonStart, !ativo);
  Ativar(ButtonStop, ativo);
  Ativar(EditPort, !ativo);
  Ativar(ButtonOpenBrowser, ativo);
}

void TfServidorApp::Proteger(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const util::EAbort&) {
  } catch (const std::exception& e) {
    MostrarErro(diagnostics::MensagemExcecao(e));
  } catch (...) {
    MostrarErro("Erro desconhecido.");
  }
}

void TfServidorApp::AoEsvaziarFila(void* janela) {
  Proteger([janela] { static_cast<TfServidorApp*>(janela)->ApplicationEventsIdle(); });
}

void TfServidorApp::AoFechar(Fl_Widget* janela, void*) {
  // Escape does not close the window; the close button and the window manager do.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  janela->hide();
}

int ExecutarJanela(TfServidorApp& janela) {
  janela.Mostrar();
  return Fl::run();
}

}  // namespace tamrix::app
