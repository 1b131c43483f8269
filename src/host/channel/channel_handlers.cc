#include "channel/channel_handlers.h"

#include <iterator>

#include "browser/browser_host.h"
#include "channel/channel_thread.h"
#include "channel/display_settled.h"
#include "channel/published_windows.h"
#include "cookie_store.h"
#include "origin_storage.h"
#include "os_services.h"
#include "proxy_settings.h"
#include "tray/tray_icon.h"
#include "vesk/core/browser/error_processor.h"
#include "vesk/core/channel/dispatcher.h"
#include "vesk/core/proxy/proxy_manager.h"
#include "vesk/core/thread_check.h"

namespace vesk {
namespace {

namespace op = channel::op;

GdkWindowEdge ToGdkEdge(channel::WindowEdge edge) {
  // In the order of channel::WindowEdge.
  static constexpr GdkWindowEdge kEdges[] = {GDK_WINDOW_EDGE_WEST,       GDK_WINDOW_EDGE_NORTH,
                                             GDK_WINDOW_EDGE_EAST,       GDK_WINDOW_EDGE_SOUTH,
                                             GDK_WINDOW_EDGE_NORTH_WEST, GDK_WINDOW_EDGE_NORTH_EAST,
                                             GDK_WINDOW_EDGE_SOUTH_WEST, GDK_WINDOW_EDGE_SOUTH_EAST};
  static_assert(std::size(kEdges) == static_cast<size_t>(channel::WindowEdge::kBottomRight) + 1);
  const auto index = static_cast<size_t>(edge);
  return index < std::size(kEdges) ? kEdges[index] : GDK_WINDOW_EDGE_SOUTH_EAST;
}

// A page's requests, answered by its host window.
class WindowEnd final : public channel::WindowDelegates {
 public:
  explicit WindowEnd(BrowserHost* host) : host_(host) {}

  op::Exit::Result Handle(const op::Exit::Request&) override {
    host_->ExitApplication();
    return {};
  }
  op::GetTrayIcon::Result Handle(const op::GetTrayIcon::Request&) override {
    TrayIcon::GetOrCreate(host_->web_view() ? webkit_web_view_get_page_id(host_->web_view()) : 0);
    return {};
  }
  op::PopUpMenu::Result Handle(const op::PopUpMenu::Request& request) override {
    host_->PopUpMenu(request.json);
    return {};
  }
  op::LaunchWindow::Result Handle(const op::LaunchWindow::Request& request) override {
    host_->LaunchWindow(request);
    return {};
  }
  op::EndLaunch::Result Handle(const op::EndLaunch::Request&) override {
    host_->EndLaunch();
    return {};
  }
  op::SetWindowIcon::Result Handle(const op::SetWindowIcon::Request& request) override {
    host_->SetIcon(request.path);
    return {};
  }
  op::SetWindowPosition::Result Handle(const op::SetWindowPosition::Request& request) override {
    return {host_->SetPosition(request.position)};
  }
  op::GetWindowPosition::Result Handle(const op::GetWindowPosition::Request&) override {
    return host_->GetPosition();
  }
  op::SetWindowSizeLimit::Result Handle(const op::SetWindowSizeLimit::Request& request) override {
    host_->SetSizeLimit(request.width, request.height, request.maximum);
    return {};
  }
  op::SetWindowTitle::Result Handle(const op::SetWindowTitle::Request& request) override {
    host_->SetTitle(request.title);
    return {};
  }
  op::GetWindowOpacity::Result Handle(const op::GetWindowOpacity::Request&) override {
    return {host_->GetOpacity()};
  }
  op::SetWindowOpacity::Result Handle(const op::SetWindowOpacity::Request& request) override {
    host_->SetOpacity(request.opacity);
    return {};
  }
  op::BringWindowToTop::Result Handle(const op::BringWindowToTop::Request&) override {
    host_->BringToTop();
    return {};
  }
  op::ShowWindow::Result Handle(const op::ShowWindow::Request& request) override {
    host_->ShowWindow(request.command);
    return {};
  }
  op::DragWindow::Result Handle(const op::DragWindow::Request&) override {
    host_->BeginMoveDrag();
    return {};
  }
  op::SizeWindow::Result Handle(const op::SizeWindow::Request& request) override {
    op::SizeWindow::Result result;
    if (host_->GetWindowStatus().status != "restore") return result;  // minimised or maximised
    const auto edge = channel::FromName<channel::WindowEdge>(request.edge);
    result.known = edge.has_value();
    if (edge) host_->BeginResizeDrag(ToGdkEdge(*edge));
    return result;
  }
  op::GetWindowInfo::Result Handle(const op::GetWindowInfo::Request&) override {
    return host_->GetWindowStatus();
  }
  op::IsAeroStyleEnabled::Result Handle(const op::IsAeroStyleEnabled::Request&) override {
    return {host_->IsAeroStyleEnabled()};
  }
  op::ClickAt::Result Handle(const op::ClickAt::Request& request) override {
    host_->SendMouseClick(request.x, request.y);
    return {};
  }

 private:
  BrowserHost* const host_;
};

// Requests about the desktop and the process as a whole.
class Services final : public channel::ServiceDelegates {
 public:
  op::NavigateExternal::Result Handle(const op::NavigateExternal::Request& request) override {
    OpenExternal(request.target);
    return {};
  }
  op::HasFullScreenWindow::Result Handle(const op::HasFullScreenWindow::Request&) override {
    return {HasFullScreenWindowOfOtherProcess()};
  }
  op::GetWorkArea::Result Handle(const op::GetWorkArea::Request&) override { return {PrimaryWorkArea()}; }
  op::GetLastInputTime::Result Handle(const op::GetLastInputTime::Request&) override {
    return {MillisecondsSinceLastInput()};
  }
  op::SetErrorHandlerUrl::Result Handle(const op::SetErrorHandlerUrl::Request& request) override {
    ErrorProcessor::Get().SetErrorHandlerUrl(request.url);
    return {};
  }
  op::SetErrorData::Result Handle(const op::SetErrorData::Request& request) override {
    ErrorProcessor::Get().SetErrorData(request.entries);
    return {};
  }
  op::GetErrorData::Result Handle(const op::GetErrorData::Request&) override {
    const auto& data = ErrorProcessor::Get().error_data();
    return {channel::StringPairs(data.begin(), data.end())};
  }
  void Handle(const op::GetCookie::Request& request, channel::Reply<op::GetCookie::Result> reply) override {
    CookieStore::Get().GetCookie(request.url, request.name,
                                 [reply](std::optional<std::string> value) { reply({value.value_or("")}); });
  }
  void Handle(const op::SetCookie::Request& request, channel::Reply<op::SetCookie::Result> reply) override {
    CookieStore::Get().SetCookie(request.url, request.name, request.value,
                                 [reply](bool done) { reply({done}); });
  }
  void Handle(const op::RemoveCookie::Request& request,
              channel::Reply<op::RemoveCookie::Result> reply) override {
    CookieStore::Get().RemoveCookie(request.url, request.name, [reply](bool done) { reply({done}); });
  }
  void Handle(const op::MoveCookie::Request& request, channel::Reply<op::MoveCookie::Result> reply) override {
    CookieStore::Get().MoveCookie(request.source, request.target, request.name, [reply] { reply({}); });
  }
  void Handle(const op::GetOriginStorage::Request& request,
              channel::Reply<op::GetOriginStorage::Result> reply) override {
    OriginStorage::Get().Read(request.origin, request.key,
                              [reply](std::optional<std::string> value) { reply({std::move(value)}); });
  }
  // The page asks for the icon (app.getTrayIcon) before any of these.
  op::GetTrayIconState::Result Handle(const op::GetTrayIconState::Request&) override {
    const TrayIcon& icon = Tray();
    return {icon.installed(), icon.icon(), icon.tool_tip()};
  }
  op::InstallTrayIcon::Result Handle(const op::InstallTrayIcon::Request&) override {
    Tray().Install();
    return {};
  }
  op::UninstallTrayIcon::Result Handle(const op::UninstallTrayIcon::Request&) override {
    Tray().Uninstall();
    return {};
  }
  op::SetTrayIconImage::Result Handle(const op::SetTrayIconImage::Request& request) override {
    Tray().SetIcon(request.url);
    return {};
  }
  op::SetTrayToolTip::Result Handle(const op::SetTrayToolTip::Request& request) override {
    Tray().SetToolTip(request.text);
    return {};
  }
  op::PopBalloon::Result Handle(const op::PopBalloon::Request& request) override {
    Tray().PopBalloon(request);
    return {};
  }
  op::SetProxyForUrl::Result Handle(const op::SetProxyForUrl::Request& request) override {
    const uint64_t before = ProxyManager::Get().generation();
    ProxyManager::Get().SetProxyForUrl(request.url, request.proxy);
    if (ProxyManager::Get().generation() != before) ProxyRulesChanged();
    return {};
  }
  op::RemoveProxyForUrl::Result Handle(const op::RemoveProxyForUrl::Request& request) override {
    const uint64_t before = ProxyManager::Get().generation();
    ProxyManager::Get().RemoveProxyForUrl(request.url);
    if (ProxyManager::Get().generation() != before) ProxyRulesChanged();
    return {};
  }
  op::GetProxyForUrl::Result Handle(const op::GetProxyForUrl::Request& request) override {
    return {ProxyManager::Get().GetProxyForUrl(request.url, false)};
  }
  op::GetDefaultProxy::Result Handle(const op::GetDefaultProxy::Request&) override {
    return {ProxyManager::Get().default_proxy()};
  }
  op::SetDefaultProxy::Result Handle(const op::SetDefaultProxy::Request& request) override {
    const uint64_t before = ProxyManager::Get().generation();
    ProxyManager::Get().set_default_proxy(request.proxy);
    if (ProxyManager::Get().generation() != before) ProxyRulesChanged();
    return {};
  }

 private:
  static TrayIcon& Tray() { return TrayIcon::GetOrCreate(0); }
};

class Host final : public channel::HostEnd {
 public:
  channel::WindowDelegates* WindowOf(uint64_t page_id) override {
    BrowserHost* host = BrowserHost::FromPageId(page_id);
    if (!host) return nullptr;
    window_.emplace(host);
    return &*window_;
  }
  channel::ServiceDelegates& Services() override { return services_; }

 private:
  std::optional<WindowEnd> window_;
  class Services services_;
};

}  // namespace

void ServeChannelRequest(const channel::Request& request, std::function<void(channel::Response)> answer) {
  VESK_REQUIRE_MAIN_THREAD();
  Host host;
  channel::Dispatch(request, host, std::move(answer));
}

channel::Response HandleChannelRequest(const channel::Request& request) {
  VESK_REQUIRE_MAIN_THREAD();
  Host host;
  return channel::Dispatch(request, host);
}

std::function<std::optional<channel::Response>(const channel::Request&)> PublishedStateAnswers() {
  VESK_REQUIRE_MAIN_THREAD();
  display_settled::Watch();
  return [](const channel::Request& request) {
    VESK_REQUIRE_CHANNEL_THREAD();
    return channel::AnswerFromPublishedState(request, PublishedWindows::Get());
  };
}

}  // namespace vesk
