#include "file_thread.h"

#include <glib.h>

#include <memory>

#include "vesk/core/guarded.h"
#include "vesk/core/task_thread.h"

namespace plugin {
namespace {

vesk::TaskThread& FileThread() {
  // Started on first use and never stopped: writes still queued when the
  // process ends are lost with the page that asked for them.
  static vesk::TaskThread* thread = [] {
    auto* created = new vesk::TaskThread("VeskFile");
    created->Start();
    return created;
  }();
  return *thread;
}

struct Completion {
  std::function<void(bool)> done;
  bool result = false;
};

}  // namespace

void PostFileWork(std::function<bool()> work, std::function<void(bool)> done) {
  FileThread().PostTask([work = std::move(work), done = std::move(done)]() mutable {
    auto completion = std::make_unique<Completion>();
    completion->done = std::move(done);
    completion->result = vesk::Guarded("file work", work, false);
    // Idle callbacks of one priority run in the order they were added, so
    // completions keep the order of the writes.
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          std::unique_ptr<Completion> finished(static_cast<Completion*>(data));
          vesk::Guarded("file work completion", [&] { finished->done(finished->result); });
          return G_SOURCE_REMOVE;
        },
        completion.release(), nullptr);
  });
}

}  // namespace plugin
