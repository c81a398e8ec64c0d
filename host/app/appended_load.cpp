// The document's start-up load: the appended application pulled chunk by
// chunk into the runtime block through the GUI-free reader. Every failure is
// silent: the program then runs with whatever the block holds.
#include <QFile>

#include "host/app/runtime_depth.h"
#include "host/app/runtime_host.h"
#include "host/app/tn_doc.h"
#include "host/appended/appended_reader.h"
#include "platform/utf8_text.h"
#include "runtime/image_loader.h"

bool TNDoc::LoadAppendedApplication(RuntimeHost* host, const QString& program) {
  AppendedStream stream{};
  AppendedDescription description{};
  if (!appended_open(QFile::encodeName(program).constData(), &stream, &description)) return false;
  description_ = cstring_from_bytes(description.text, int32_t(description.length));
  appended_description_free(&description);
  int status;
  {
    RuntimeCallScope scope;
    status = host->has_block() ? rt_load_image(host->block_handle(), appended_chunk_read, &stream)
                               : host->creation_status();
  }
  appended_close(&stream);
  if (status != 0) return false;
  take_instance_title();
  install_menus(true);
  if (update_views_) update_views_();
  return true;
}
