// The system dialogs the application has open (the open-file dialog). On
// exit they are cancelled newest first, and the main loop is left only when
// none is left.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace vesk {

class ModalDialogList {
 public:
  static ModalDialogList& Get();

  void Add(GtkDialog* dialog);
  void Remove(GtkDialog* dialog);
  // Empty list: leaves the main loop now. Otherwise cancels the newest
  // dialog (from an idle callback, as a posted message would) and goes on
  // with the next once it is gone. Always true.
  bool CloseAllAndQuit();
  size_t size() const { return dialogs_.size(); }

  // What leaves the main loop; tests replace it.
  void set_quit_function(std::function<void()> quit) { quit_ = std::move(quit); }

 private:
  ModalDialogList() = default;
  static gboolean CancelNewest(gpointer);

  std::vector<GtkDialog*> dialogs_;
  std::function<void()> quit_ = [] { gtk_main_quit(); };
};

using OpenFileDialogDone = std::function<void(bool chosen, std::vector<std::string> paths)>;

// The open-file dialog: multiple selection of existing files, modal to
// |owner|, tracked in ModalDialogList while open. Returns at once; |done|
// runs on the main thread with the chosen paths in the dialog's order.
GtkDialog* ShowOpenFileDialog(GtkWindow* owner, OpenFileDialogDone done);

}  // namespace vesk
