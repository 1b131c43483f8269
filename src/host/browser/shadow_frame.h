// The drop shadow around a host window. It is a window of its own: an
// override-redirect X window with an ARGB visual that always lies exactly
// around the host and directly below it in the stacking order, so no window
// manager moves, decorates or focuses it. Its image is the 9-grid of the
// eight shadow pieces with a transparent centre. Button presses, releases and
// wheel turns on it go to the host window in host-client coordinates.
//
// The host only constructs it: the shadow follows the host's own signals
// (configure, map, unmap, window state, focus, destroy) and goes away when
// the host window is destroyed or when this object is deleted.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <vector>

#include "vesk/core/shadow/shadow_geometry.h"
#include "vesk/core/shadow/shadow_grid.h"

namespace vesk {

class ShadowFrame {
 public:
  explicit ShadowFrame(GtkWindow* host);
  ~ShadowFrame();
  ShadowFrame(const ShadowFrame&) = delete;
  ShadowFrame& operator=(const ShadowFrame&) = delete;

  // Gives the shadow the constant alpha the host window gets for |opacity|
  // (its SetOpacity value): opacity × 255 truncated, low 8 bits. The shadow
  // image itself is not redrawn; its per-pixel alpha stays.
  void SetConstantAlpha(double opacity);

  // The shadow window; null once the host window has been destroyed.
  GtkWindow* window() const { return shadow_; }
  // The screen rectangle the shadow was last told to take.
  const ShadowRect& target() const { return target_; }
  const ShadowMargins& margins() const { return grid_.margins(); }

 private:
  void LoadGrid();
  void ConnectHost();
  void DisconnectHost();

  ShadowRect HostScreenRect(const GdkEventConfigure* event) const;
  // Moves and sizes the shadow around |host| and puts it below the host.
  void Follow(const ShadowRect& host);
  void ApplyTarget();
  void RestackBelowHost();
  bool IsDirectlyBelowHost() const;
  // Shows the shadow exactly when the host is on screen.
  void UpdateVisibility();
  void Redraw(int width, int height);
  void UpdateShapes();
  void ForwardToHost(const GdkEvent* event);

  static gboolean OnHostConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer self);
  static void OnHostMap(GtkWidget* widget, gpointer self);
  static void OnHostUnmap(GtkWidget* widget, gpointer self);
  static gboolean OnHostWindowState(GtkWidget* widget, GdkEventWindowState* event, gpointer self);
  static gboolean OnHostFocusIn(GtkWidget* widget, GdkEvent* event, gpointer self);
  static void OnHostDestroy(GtkWidget* widget, gpointer self);
  static gboolean OnShadowConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer self);
  static gboolean OnShadowDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
  static gboolean OnShadowInput(GtkWidget* widget, GdkEvent* event, gpointer self);
  static void OnCompositedChanged(GdkScreen* screen, gpointer self);

  GtkWindow* host_ = nullptr;
  GtkWindow* shadow_ = nullptr;
  GdkScreen* screen_ = nullptr;
  ShadowGrid grid_;
  ShadowRect target_;
  // The image last drawn and the size it was drawn for; a size too small to
  // draw keeps it.
  cairo_surface_t* image_ = nullptr;
  int drawn_width_ = 0;
  int drawn_height_ = 0;
  int corrections_ = 0;
  uint8_t constant_alpha_ = 255;
};

}  // namespace vesk
