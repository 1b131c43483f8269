#include "browser/modal_dialog_list.h"

#include <algorithm>
#include <memory>

#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/object_ref.h"
#include "vesk/core/thread_check.h"

namespace vesk {

ModalDialogList& ModalDialogList::Get() {
  static ModalDialogList* list = new ModalDialogList;
  return *list;
}

void ModalDialogList::Add(GtkDialog* dialog) {
  VESK_REQUIRE_MAIN_THREAD();
  VESK_DCHECK(GTK_IS_DIALOG(dialog));
  dialogs_.push_back(dialog);
}

void ModalDialogList::Remove(GtkDialog* dialog) {
  VESK_REQUIRE_MAIN_THREAD();
  const auto it = std::find(dialogs_.begin(), dialogs_.end(), dialog);
  if (it != dialogs_.end()) dialogs_.erase(it);
}

bool ModalDialogList::CloseAllAndQuit() {
  VESK_REQUIRE_MAIN_THREAD();
  if (dialogs_.empty()) {
    quit_();
    return true;
  }
  GtkDialog* newest = dialogs_.back();
  VESK_DCHECK(GTK_IS_DIALOG(newest));
  dialogs_.pop_back();
  // Keep the dialog alive until the idle callback has cancelled it.
  g_object_ref(newest);
  g_idle_add(CancelNewest, newest);
  return true;
}

gboolean ModalDialogList::CancelNewest(gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  // The reference taken for this callback.
  ObjectRef<GtkDialog> dialog(static_cast<GtkDialog*>(data));
  Guarded("closing a dialog", [&] {
    gtk_dialog_response(dialog.get(), GTK_RESPONSE_CANCEL);
    dialog.reset();
    Get().CloseAllAndQuit();
  });
  return G_SOURCE_REMOVE;
}

namespace {

struct OpenFileDialogState {
  OpenFileDialogDone done;
};

void OnOpenFileResponse(GtkDialog* dialog, gint response, gpointer data) {
  VESK_REQUIRE_MAIN_THREAD();
  auto* state = static_cast<OpenFileDialogState*>(data);
  Guarded("the open-file dialog's answer", [dialog, response, state] {
    std::vector<std::string> paths;
    if (response == GTK_RESPONSE_ACCEPT) {
      // A list of file names it gives us, both owned.
      std::unique_ptr<GSList, void (*)(GSList*)> files(
          gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog)),
          [](GSList* list) { g_slist_free_full(list, g_free); });
      for (GSList* item = files.get(); item; item = item->next)
        paths.emplace_back(static_cast<char*>(item->data));
    }
    ModalDialogList::Get().Remove(dialog);
    OpenFileDialogDone done = std::move(state->done);
    delete state;
    gtk_widget_destroy(GTK_WIDGET(dialog));
    const bool chosen = !paths.empty();
    done(chosen, std::move(paths));
  });
}

}  // namespace

GtkDialog* ShowOpenFileDialog(GtkWindow* owner, OpenFileDialogDone done) {
  VESK_REQUIRE_MAIN_THREAD();
  GtkWidget* widget = gtk_file_chooser_dialog_new(nullptr, owner, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  GtkDialog* dialog = GTK_DIALOG(widget);
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), TRUE);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  auto* state = new OpenFileDialogState{std::move(done)};
  g_signal_connect(dialog, "response", G_CALLBACK(OnOpenFileResponse), state);
  ModalDialogList::Get().Add(dialog);
  gtk_widget_show(widget);
  return dialog;
}

}  // namespace vesk
