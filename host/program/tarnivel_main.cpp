// The program: the application object's start-up, then the event loop. The
// application appended to this program file is loaded at the end of
// start-up; a bare program opens an untitled window.
#include <QApplication>

#include "host/app/tn_app.h"
#include "host/ui/input_dialog.h"
#include "platform/dialog_service.h"
#include "platform/font_warmup.h"
#include "platform/settings_store.h"

int main(int argc, char** argv) {
  FontWarmup fonts;  // reads the font configuration while Qt starts
  QApplication app(argc, argv);
  fonts.application_ready();
  QtDialogService dialogs;
  dialog_service_set(&dialogs);
  SettingsStore settings;
  int status = 1;
  {
    TNApp tn(&settings, running_program_path());
    tn.set_font_warmup(&fonts);
    if (tn.init_instance()) status = app.exec();
  }
  dialog_service_set(nullptr);
  fonts.finish();
  return status;
}
