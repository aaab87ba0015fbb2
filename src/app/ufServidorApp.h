// The control window "TAMRIX Rest Server": Start, Stop, the listening port and a button that
// opens the server's address in the browser. It owns the HTTP listener, starts the server
// as soon as it is shown, and keeps the buttons in step with the listener whenever its
// event queue runs empty. All of it runs on the main thread.
#ifndef TAMRIX_APP_UFSERVIDORAPP_H
#define TAMRIX_APP_UFSERVIDORAPP_H

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>

#include <functional>
#include <memory>
#include <string>

#include "web/uHTTPListener.h"

namespace tamrix::app {

class TfServidorApp : public Fl_Double_Window {
 public:
  // FormCreate: builds the controls, creates the listener FServer (inactive) and fills the
  // port field from the configuration. Plugs itself in as the main window of the
  // "Atenção" box (util::MostrarMensagem). The display must be open (OpenDisplay).
  TfServidorApp();
  // Leaves the message box seam and deactivates the listener, waiting for running requests;
  // no stop sequence runs.
  ~TfServidorApp() override;
  TfServidorApp(const TfServidorApp&) = delete;
  TfServidorApp& operator=(const TfServidorApp&) = delete;

  // Shows the window centred on the screen and, once it is up, runs FormShow (Start).
  void Mostrar();

  void FormShow();
  void ButtonStartClick();
  void ButtonStopClick();
  void ButtonOpenBrowserClick();
  // Enables Start and the port field exactly while the listener is inactive, Stop and Open
  // Browser exactly while it is active.
  void ApplicationEventsIdle();

  web::THTTPListener& Server() { return *FServer; }

 private:
  // Runs a handler; what escapes it is shown in the error box (the toolkit's default
  // handler), a silent abort shows nothing.
  static void Proteger(const std::function<void()>& handler);
  static void AoFechar(Fl_Widget* janela, void*);
  static void AoEsvaziarFila(void* janela);  // the toolkit's check, before it waits

  Fl_Button* ButtonStart;
  Fl_Button* ButtonStop;
  Fl_Box* Label1;
  Fl_Input* EditPort;
  Fl_Button* ButtonOpenBrowser;
  std::unique_ptr<web::THTTPListener> FServer;
};

// Opens the X display for the window toolkit. False, with nothing opened, when there is no
// DISPLAY or the display cannot be reached.
bool OpenDisplay();

// The toolkit's default error handler: a modal box captioned "Erro" with the text and an
// OK button. Main thread only.
void MostrarErro(const std::string& texto);

// Asks the desktop (xdg-open) to open the address, without waiting for it. Nothing is
// reported.
void AbrirEndereco(const std::string& endereco);

// Runs the window's message loop until the window is closed.
int ExecutarJanela(TfServidorApp& janela);

}  // namespace tamrix::app

#endif  // TAMRIX_APP_UFSERVIDORAPP_H
