// The holder of the installed dialog service and its Cancel-only stand-in,
// so no caller needs to test for a missing service.
#include "platform/dialog_service.h"

namespace {

class CancelDialogs final : public DialogService {
 public:
  bool message(QWidget*, const QString&, const QString&, bool) override { return false; }
  bool edit_value(const QString&, const QString&, QString*) override { return false; }
  QString open_file(QWidget*, const QString&, const QString&) override { return QString(); }
  QString save_file(QWidget*, const QString&, const QString&, const QString&) override { return QString(); }
};

CancelDialogs g_cancel;
DialogService* g_service = &g_cancel;

}  // namespace

DialogService* dialog_service() { return g_service; }

DialogService* dialog_service_set(DialogService* service) {
  DialogService* old = g_service;
  g_service = service ? service : &g_cancel;
  return old == &g_cancel ? nullptr : old;
}
