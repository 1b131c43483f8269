#include "tray/tray_icon.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>

#include "browser/browser_host.h"
#include "tray/balloon.h"
#include "ui_app.h"
#include "vesk/core/file_util.h"
#include "vesk/core/logging.h"
#include "vesk/core/package/url_content.h"
#include "vesk/core/thread_check.h"
#include "vesk/core/tray/tray_data.h"

namespace vesk {
namespace {

// Larger images are scaled down: panels show a few dozen pixels, and the
// pixels travel in every property read.
constexpr int kLargestImageSide = 256;
constexpr size_t kLargestImageFile = 16 << 20;

TrayIcon*& Instance() {
  static TrayIcon* instance = nullptr;
  return instance;
}

// The image of a vesk:// URL; null when the URL cannot be read or is not
// an image (silently: the icon then shows without one).
ObjectRef<GdkPixbuf> LoadImage(const std::string& url) {
  std::string path;
  std::string bytes;
  if (url.empty() || !DumpUrlToTempFile(url, &path) || !ReadFileToString(path, &bytes, kLargestImageFile))
    return {};
  ObjectRef<GdkPixbufLoader> loader(gdk_pixbuf_loader_new());
  const bool written = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(bytes.data()),
                                               bytes.size(), nullptr);
  const bool closed = gdk_pixbuf_loader_close(loader.get(), nullptr);
  GdkPixbuf* image = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader.get()) : nullptr;
  if (!image) return {};
  const int width = gdk_pixbuf_get_width(image);
  const int height = gdk_pixbuf_get_height(image);
  const int side = std::max(width, height);
  if (side <= kLargestImageSide) return ObjectRef<GdkPixbuf>::Share(image);
  return ObjectRef<GdkPixbuf>(gdk_pixbuf_scale_simple(image, std::max(1, width * kLargestImageSide / side),
                                                      std::max(1, height * kLargestImageSide / side),
                                                      GDK_INTERP_BILINEAR));
}

}  // namespace

TrayIcon* TrayIcon::Get() { return Instance(); }

TrayIcon& TrayIcon::GetOrCreate(guint64 page_id) {
  VESK_REQUIRE_MAIN_THREAD();
  if (!Instance()) {
    // Never destroyed: the icon stays until the process ends.
    Instance() = new TrayIcon(page_id);
    VESK_LOG(INFO) << "Tray icon created";
  }
  return *Instance();
}

TrayIcon::TrayIcon(guint64 page_id) : page_id_(page_id), item_([this](bool left) { OnClick(left); }) {}

StatusNotifierItem::Look TrayIcon::BuildLook() const {
  StatusNotifierItem::Look look;
  look.tool_tip = tray::CutText(tool_tip_, tray::kToolTipLimit);
  const ObjectRef<GdkPixbuf> image = LoadImage(icon_);
  if (!image) return look;
  look.width = gdk_pixbuf_get_width(image.get());
  look.height = gdk_pixbuf_get_height(image.get());
  look.argb =
      tray::ToNetworkArgb(gdk_pixbuf_read_pixels(image.get()), look.width, look.height,
                          gdk_pixbuf_get_rowstride(image.get()), gdk_pixbuf_get_has_alpha(image.get()));
  return look;
}

void TrayIcon::Install() {
  item_.Show(BuildLook());
  installed_ = true;
}

void TrayIcon::Uninstall() {
  const bool shown = item_.Hide();
  VESK_DCHECK_TEXT(shown, "success");
  installed_ = false;
}

void TrayIcon::SetIcon(const std::string& url) {
  icon_ = url;
  Refresh(true, false);
}

void TrayIcon::SetToolTip(const std::string& text) {
  tool_tip_ = text;
  Refresh(false, true);
}

void TrayIcon::Refresh(bool icon_changed, bool tip_changed) {
  if (!installed_) return;  // stored; shown at the next install
  std::string error;
  if (!item_.Update(BuildLook(), icon_changed, tip_changed, &error))
    VESK_LOG(WARNING) << "UpdateIcon Failed: " << error;
}

void TrayIcon::PopBalloon(const channel::op::PopBalloon::Request& request) {
  Balloon balloon;
  balloon.title = tray::CutText(request.title, tray::kBalloonTitleLimit);
  balloon.text = tray::CutText(request.text, tray::kBalloonTextLimit);
  std::string image_path;
  if (DumpUrlToTempFile(request.icon, &image_path)) balloon.image_path = image_path;
  balloon.has_sound = request.has_sound;
  balloon.timeout_ms = tray::NotificationTimeout(request.delay_ms);
  balloon.replaces_id = last_balloon_id_;
  ShowBalloon(balloon, [this](uint32_t id) { last_balloon_id_ = id; });
}

void TrayIcon::OnClick(bool left) {
  BrowserHost* host = BrowserHost::FromPageId(page_id_);
  // The window that asked for the icon may be gone; the main window then
  // takes its clicks.
  if (!host) host = UiApp::Get().main_window();
  if (host) host->OnTrayButton(left, /*press=*/false);
}

}  // namespace vesk
