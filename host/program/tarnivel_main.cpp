// The program: the application object's start-up, then the event loop. The
// application appended to this program file is loaded at the end of
// start-up; a bare program opens an untitled window. The program reads no
// command line, and Qt is given none: its own options (-geometry,
// -stylesheet, -platform, -display, ...) would act on whatever a launcher
// passed. The environment (QT_QPA_PLATFORM, DISPLAY) still chooses them.
#include <QApplication>

#include "host/app/tn_app.h"
#include "host/ui/input_dialog.h"
#include "platform/dialog_service.h"
#include "platform/font_warmup.h"
#include "platform/settings_store.h"

namespace {

char kProgramName[] = "tarnivel";

}  // namespace

int main(int argc, char** argv) {
  // Qt keeps references to both for the application's life.
  static int qt_argc = 1;
  static char* qt_argv[] = {argc > 0 && argv[0] ? argv[0] : kProgramName, nullptr};
  FontWarmup fonts;  // reads the font configuration while Qt starts
  QApplication app(qt_argc, qt_argv);
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
