// The document's start-up load: the appended application pulled chunk by
// chunk into the runtime block through the GUI-free reader. A failure shows
// nothing in the window, which keeps its untitled state; unless nothing at
// all follows the program image, the reason goes to standard error (a
// damaged trailer or description, or the loader's status), so that a
// damaged program can be told from a sound one.
#include <QFile>

#include <cstdio>
#include <vector>

#include "host/app/error_text.h"
#include "host/app/runtime_depth.h"
#include "host/app/runtime_host.h"
#include "host/app/tn_doc.h"
#include "host/appended/appended_reader.h"
#include "platform/utf8_text.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"

namespace {

constexpr size_t kAboutTextBytes = size_t(1) << 20;

}  // namespace

// The About box's text of the document's instance, as the packer makes it
// for the description.
void TNDoc::take_about_text(RuntimeBlock* block) {
  std::vector<char> buffer(kAboutTextBytes);
  int32_t n = 0;
  if (inst_about_text(block, id_, buffer.data(), int32_t(buffer.size()), &n) == 0)
    description_ = cstring_from_bytes(buffer.data(), n);
}

bool TNDoc::LoadAppendedApplication(RuntimeHost* host, const QString& program) {
  AppendedStream stream{};
  AppendedDescription description{};
  const QByteArray path = QFile::encodeName(program);
  if (!appended_open(path.constData(), &stream, &description)) {
    // A program with nothing behind its image is the plain runtime.
    const std::string why = appended_fault_text(stream);
    if (!why.empty()) {
      std::fprintf(stderr, "%s: the application appended to this program was not loaded: %s\n", path.constData(),
                   why.c_str());
      std::fflush(stderr);
    }
    return false;
  }
  // An older packer stored the whole build description; the About box
  // shows what one stores now, made from the loaded image below.
  const bool build_description = appended_is_build_description(description.text, description.length);
  description_ = build_description ? QString() : cstring_from_bytes(description.text, int32_t(description.length));
  appended_description_free(&description);
  int status;
  {
    RuntimeCallScope scope;
    status = host->has_block() ? rt_load_image(host->block_handle(), appended_chunk_read, &stream)
                               : host->creation_status();
  }
  appended_close(&stream);
  if (status != 0) {
    const std::string message = status_message(host->has_block() ? rt_engine(host->block()) : nullptr, status);
    std::fprintf(stderr, "%s: the application appended to this program was not loaded: status %d, %s\n",
                 path.constData(), status, message.c_str());
    std::fflush(stderr);
    return false;
  }
  if (build_description) take_about_text(host->block());
  take_instance_title();
  install_menus(true);
  if (update_views_) update_views_();
  return true;
}
