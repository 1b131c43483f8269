// The page channel's operations, one entry each: its number, its request
// and result, whether it needs the page's host window (which delegate
// answers it), and through the member lists its wire form. The web process
// sends an operation with plugin::AskHost<op::X>; the UI process's
// dispatcher decodes it and calls the delegate's Handle for that request
// type. docs/howto.md lists the steps to add one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "vesk/core/browser/window_geometry.h"
#include "vesk/core/channel/members.h"
#include "vesk/core/proxy/proxy_info.h"

namespace vesk::channel {

enum class Op : uint32_t {
  kHello = 1,
  kAppExit = 10,
  kAppGetTrayIcon = 11,
  kWinPopUpMenu = 20,
  kWinLaunchWindow = 21,
  kWinSetIcon = 22,
  kWinSetPosition = 23,
  kWinGetPosition = 24,
  kWinSetSizeLimit = 25,
  kWinSetTitle = 26,
  kWinGetOpacity = 27,
  kWinSetOpacity = 28,
  kWinBringToTop = 29,
  kWinShowWindow = 30,
  kWinDragWindow = 31,
  kWinSizeWindow = 32,
  kWinGetWindowInfo = 33,
  kWinEndLaunch = 34,
  kOsIsAeroStyleEnabled = 40,
  kOsNavigateExternal = 41,
  kOsHasFullScreenWindow = 42,
  kOsGetWorkArea = 43,
  kOsGetLastInputMs = 44,
  kErrorSetUrl = 50,
  kErrorSetData = 51,
  kErrorGetData = 52,
  kBrowserGetCookie = 70,
  kBrowserSetCookie = 71,
  kBrowserRemoveCookie = 72,
  kBrowserMoveCookie = 73,
  kBrowserGetOriginStorage = 74,
  kBrowserClickAt = 75,
  kTrayGetState = 60,
  kTrayInstall = 61,
  kTrayUninstall = 62,
  kTraySetIcon = 63,
  kTraySetToolTip = 64,
  kTrayPopBalloon = 65,
  kProxySetForUrl = 80,
  kProxyRemoveForUrl = 81,
  kProxyGetForUrl = 82,
  kProxyGetDefault = 83,
  kProxySetDefault = 84,
};

enum class ShowCommand { kShow, kHide, kRestore, kMinimize, kMaximize };
inline std::span<const std::pair<const char*, ShowCommand>> NamesOf(ShowCommand) {
  static constexpr std::array<std::pair<const char*, ShowCommand>, 5> kNames{{
      {"show", ShowCommand::kShow},
      {"hide", ShowCommand::kHide},
      {"restore", ShowCommand::kRestore},
      {"minimize", ShowCommand::kMinimize},
      {"maximize", ShowCommand::kMaximize},
  }};
  return kNames;
}

enum class WindowEdge { kLeft, kTop, kRight, kBottom, kTopLeft, kTopRight, kBottomLeft, kBottomRight };
inline std::span<const std::pair<const char*, WindowEdge>> NamesOf(WindowEdge) {
  static constexpr std::array<std::pair<const char*, WindowEdge>, 8> kNames{{
      {"left", WindowEdge::kLeft},
      {"top", WindowEdge::kTop},
      {"right", WindowEdge::kRight},
      {"bottom", WindowEdge::kBottom},
      {"topleft", WindowEdge::kTopLeft},
      {"topright", WindowEdge::kTopRight},
      {"bottomleft", WindowEdge::kBottomLeft},
      {"bottomright", WindowEdge::kBottomRight},
  }};
  return kNames;
}

// The value of |name| in an enumeration's name list.
template <typename E>
std::optional<E> FromName(const std::string& name) {
  for (const auto& [known, item] : NamesOf(E{}))
    if (name == known) return item;
  return std::nullopt;
}

// The delegates: who answers an operation. Window delegates belong to the
// page's host window; the others are process-wide services.
class AppDelegate;
class WinhelperDelegate;
class OsDelegate;
class OsServicesDelegate;
class ErrorDataDelegate;
class BrowserDelegate;
class CookieStoreDelegate;
class TrayIconDelegate;
class ProxyDelegate;

// |kLater|: the delegate answers through a Reply once asynchronous work of
// the UI process has finished (the page waits on the channel meanwhile, the
// UI process does not).
// |kPublished|: a read of state that the UI main thread publishes for the
// channel's own thread (PublishedStateDelegate); answered there without a
// turn of the main loop whenever that state holds the answer, otherwise by
// the delegate on the main thread like any other operation.
template <Op kNumber, typename DelegateType, bool kWindow, bool kLater = false, bool kPublished = false>
struct Operation {
  static constexpr Op kOp = kNumber;
  static constexpr bool kNeedsWindow = kWindow;
  static constexpr bool kAnsweredLater = kLater;
  static constexpr bool kFromPublishedState = kPublished;
  static_assert(!(kLater && kPublished), "a published answer is given at once");
  using Delegate = DelegateType;
};
template <Op kNumber, typename DelegateType>
using WindowOperation = Operation<kNumber, DelegateType, true>;
template <Op kNumber, typename DelegateType>
using ServiceOperation = Operation<kNumber, DelegateType, false>;
template <Op kNumber, typename DelegateType>
using LaterServiceOperation = Operation<kNumber, DelegateType, false, true>;
template <Op kNumber, typename DelegateType>
using PublishedWindowOperation = Operation<kNumber, DelegateType, true, false, true>;

// The answer of an operation answered later: call it once, on the UI main
// thread; it may outlive the request's connection (the answer is dropped).
template <typename Result>
using Reply = std::function<void(Result)>;

namespace op {

// app.exit
struct Exit : WindowOperation<Op::kAppExit, AppDelegate> {
  struct Request : NoMembers {};
  struct Result : NoMembers {};
};

// app.getTrayIcon: makes the process's tray icon on first use, for the
// page's host window, which then receives its clicks.
struct GetTrayIcon : WindowOperation<Op::kAppGetTrayIcon, AppDelegate> {
  struct Request : NoMembers {};
  struct Result : NoMembers {};
};

// winhelper.popUpMenu: the menu description as the page wrote it.
struct PopUpMenu : WindowOperation<Op::kWinPopUpMenu, WinhelperDelegate> {
  struct Request {
    std::string json;
    static void Members(auto& self, auto&& member) { member("json", self.json); }
  };
  struct Result : NoMembers {};
};

// winhelper.launchWindow, announced before the page calls window.open.
struct LaunchWindow : WindowOperation<Op::kWinLaunchWindow, WinhelperDelegate> {
  struct Request {
    std::string url;
    WindowRect rect;
    bool visible = false;
    bool resizable = false;
    bool taskbar_button = false;
    static void Members(auto& self, auto&& member) {
      member("url", self.url);
      member("rect", self.rect);
      member("visible", self.visible);
      member("resizable", self.resizable);
      member("taskbarButton", self.taskbar_button);
    }
  };
  struct Result : NoMembers {};
};

// winhelper.setWindowIconFromLocalFile, with the content already in a file.
struct SetWindowIcon : WindowOperation<Op::kWinSetIcon, WinhelperDelegate> {
  struct Request {
    std::string path;
    static void Members(auto& self, auto&& member) { member("path", self.path); }
  };
  struct Result : NoMembers {};
};

struct SetWindowPosition : WindowOperation<Op::kWinSetPosition, WinhelperDelegate> {
  struct Request {
    PositionRequest position;
    static void Members(auto& self, auto&& member) {
      member("x", self.position.x);
      member("y", self.position.y);
      member("width", self.position.width);
      member("height", self.position.height);
      member("topmost", self.position.topmost);
      member("active", self.position.active);
    }
  };
  struct Result {
    std::string error;  // "" when none
    static void Members(auto& self, auto&& member) { member("error", self.error); }
  };
};

struct GetWindowPosition : PublishedWindowOperation<Op::kWinGetPosition, WinhelperDelegate> {
  struct Request : NoMembers {};
  struct Result {
    WindowRect rect;
    bool topmost = false;
    static void Members(auto& self, auto&& member) {
      member("rect", self.rect);
      member("topmost", self.topmost);
    }
  };
};

struct SetWindowSizeLimit : WindowOperation<Op::kWinSetSizeLimit, WinhelperDelegate> {
  struct Request {
    int width = 0;
    int height = 0;
    bool maximum = false;  // false: the minimum
    static void Members(auto& self, auto&& member) {
      member("width", self.width);
      member("height", self.height);
      member("maximum", self.maximum);
    }
  };
  struct Result : NoMembers {};
};

struct SetWindowTitle : WindowOperation<Op::kWinSetTitle, WinhelperDelegate> {
  struct Request {
    std::string title;
    static void Members(auto& self, auto&& member) { member("title", self.title); }
  };
  struct Result : NoMembers {};
};

struct GetWindowOpacity : PublishedWindowOperation<Op::kWinGetOpacity, WinhelperDelegate> {
  struct Request : NoMembers {};
  struct Result {
    double opacity = 1;
    static void Members(auto& self, auto&& member) { member("opacity", self.opacity); }
  };
};

struct SetWindowOpacity : WindowOperation<Op::kWinSetOpacity, WinhelperDelegate> {
  struct Request {
    double opacity = 1;
    static void Members(auto& self, auto&& member) { member("opacity", self.opacity); }
  };
  struct Result : NoMembers {};
};

// winhelper.launchWindow has made its window.open call, whatever came of
// it: the announcement it made is spent.
struct EndLaunch : WindowOperation<Op::kWinEndLaunch, WinhelperDelegate> {
  struct Request : NoMembers {};
  struct Result : NoMembers {};
};

struct BringWindowToTop : WindowOperation<Op::kWinBringToTop, WinhelperDelegate> {
  struct Request : NoMembers {};
  struct Result : NoMembers {};
};

struct ShowWindow : WindowOperation<Op::kWinShowWindow, WinhelperDelegate> {
  struct Request {
    ShowCommand command = ShowCommand::kShow;
    static void Members(auto& self, auto&& member) { member("command", self.command); }
  };
  struct Result : NoMembers {};
};

struct DragWindow : WindowOperation<Op::kWinDragWindow, WinhelperDelegate> {
  struct Request : NoMembers {};
  struct Result : NoMembers {};
};

// winhelper.sizeWindow: the edge name is tested only for a restored window.
struct SizeWindow : WindowOperation<Op::kWinSizeWindow, WinhelperDelegate> {
  struct Request {
    std::string edge;
    static void Members(auto& self, auto&& member) { member("edge", self.edge); }
  };
  struct Result {
    std::optional<bool> known;  // empty: the window was left alone
    static void Members(auto& self, auto&& member) { member("known", self.known); }
  };
};

struct GetWindowInfo : WindowOperation<Op::kWinGetWindowInfo, WinhelperDelegate> {
  struct Request : NoMembers {};
  struct Result {
    bool visible = false;
    std::string status;  // "maximize", "minimize" or "restore"
    static void Members(auto& self, auto&& member) {
      member("visible", self.visible);
      member("status", self.status);
    }
  };
};

struct IsAeroStyleEnabled : WindowOperation<Op::kOsIsAeroStyleEnabled, OsDelegate> {
  struct Request : NoMembers {};
  struct Result {
    bool enabled = false;
    static void Members(auto& self, auto&& member) { member("enabled", self.enabled); }
  };
};

struct NavigateExternal : ServiceOperation<Op::kOsNavigateExternal, OsServicesDelegate> {
  struct Request {
    std::string target;
    static void Members(auto& self, auto&& member) { member("target", self.target); }
  };
  struct Result : NoMembers {};
};

struct HasFullScreenWindow : ServiceOperation<Op::kOsHasFullScreenWindow, OsServicesDelegate> {
  struct Request : NoMembers {};
  struct Result {
    bool fullscreen = false;
    static void Members(auto& self, auto&& member) { member("fullscreen", self.fullscreen); }
  };
};

struct GetWorkArea : ServiceOperation<Op::kOsGetWorkArea, OsServicesDelegate> {
  struct Request : NoMembers {};
  struct Result {
    WindowRect area;
    static void Members(auto& self, auto&& member) { member("area", self.area); }
  };
};

struct GetLastInputTime : ServiceOperation<Op::kOsGetLastInputMs, OsServicesDelegate> {
  struct Request : NoMembers {};
  struct Result {
    double milliseconds = 0;
    static void Members(auto& self, auto&& member) { member("ms", self.milliseconds); }
  };
};

struct SetErrorHandlerUrl : ServiceOperation<Op::kErrorSetUrl, ErrorDataDelegate> {
  struct Request {
    std::string url;
    static void Members(auto& self, auto&& member) { member("url", self.url); }
  };
  struct Result : NoMembers {};
};

struct SetErrorData : ServiceOperation<Op::kErrorSetData, ErrorDataDelegate> {
  struct Request {
    StringPairs entries;
    static void Members(auto& self, auto&& member) { member("entries", self.entries); }
  };
  struct Result : NoMembers {};
};

struct GetErrorData : ServiceOperation<Op::kErrorGetData, ErrorDataDelegate> {
  struct Request : NoMembers {};
  struct Result {
    StringPairs entries;
    static void Members(auto& self, auto&& member) { member("entries", self.entries); }
  };
};

// browser.getCookie: the first cookie of that name the store sends to |url|
// (HttpOnly ones included).
struct GetCookie : LaterServiceOperation<Op::kBrowserGetCookie, CookieStoreDelegate> {
  struct Request {
    std::string url;
    std::string name;
    static void Members(auto& self, auto&& member) {
      member("url", self.url);
      member("name", self.name);
    }
  };
  struct Result {
    std::string value;  // "" when there is none
    static void Members(auto& self, auto&& member) { member("value", self.value); }
  };
};

// browser.setCookie: a session cookie with only name and value; the store
// gives it the URL's host (host-only) and default path.
struct SetCookie : LaterServiceOperation<Op::kBrowserSetCookie, CookieStoreDelegate> {
  struct Request {
    std::string url;
    std::string name;
    std::string value;
    static void Members(auto& self, auto&& member) {
      member("url", self.url);
      member("name", self.name);
      member("value", self.value);
    }
  };
  struct Result {
    bool done = false;
    static void Members(auto& self, auto&& member) { member("done", self.done); }
  };
};

// browser.removeCookie: empty |url| means every cookie, empty |name| every
// host cookie of the URL's host.
struct RemoveCookie : LaterServiceOperation<Op::kBrowserRemoveCookie, CookieStoreDelegate> {
  struct Request {
    std::string url;
    std::string name;
    static void Members(auto& self, auto&& member) {
      member("url", self.url);
      member("name", self.name);
    }
  };
  struct Result {
    bool done = false;
    static void Members(auto& self, auto&& member) { member("done", self.done); }
  };
};

// browser.moveCookie: copies the first cookie of that name whose domain is
// |source| (or "." + |source|) to |target|; failures are only logged.
struct MoveCookie : LaterServiceOperation<Op::kBrowserMoveCookie, CookieStoreDelegate> {
  struct Request {
    std::string source;
    std::string target;
    std::string name;
    static void Members(auto& self, auto&& member) {
      member("source", self.source);
      member("target", self.target);
      member("name", self.name);
    }
  };
  struct Result : NoMembers {};
};

// browser.getOriginStorage: a value of another origin's local storage.
struct GetOriginStorage : LaterServiceOperation<Op::kBrowserGetOriginStorage, CookieStoreDelegate> {
  struct Request {
    std::string origin;
    std::string key;
    static void Members(auto& self, auto&& member) {
      member("origin", self.origin);
      member("key", self.key);
    }
  };
  struct Result {
    std::optional<std::string> value;  // empty: no such key
    static void Members(auto& self, auto&& member) { member("value", self.value); }
  };
};

// browser.clickFileInput: a left-button click at page coordinates that the
// engine takes as the user's.
struct ClickAt : WindowOperation<Op::kBrowserClickAt, BrowserDelegate> {
  struct Request {
    int x = 0;
    int y = 0;
    static void Members(auto& self, auto&& member) {
      member("x", self.x);
      member("y", self.y);
    }
  };
  struct Result : NoMembers {};
};

// The tray icon's state, kept by the UI process for every page.
struct GetTrayIconState : ServiceOperation<Op::kTrayGetState, TrayIconDelegate> {
  struct Request : NoMembers {};
  struct Result {
    bool installed = false;
    std::string icon;
    std::string tool_tip;
    static void Members(auto& self, auto&& member) {
      member("installed", self.installed);
      member("icon", self.icon);
      member("toolTip", self.tool_tip);
    }
  };
};

struct InstallTrayIcon : ServiceOperation<Op::kTrayInstall, TrayIconDelegate> {
  struct Request : NoMembers {};
  struct Result : NoMembers {};
};

struct UninstallTrayIcon : ServiceOperation<Op::kTrayUninstall, TrayIconDelegate> {
  struct Request : NoMembers {};
  struct Result : NoMembers {};
};

// The icon as a vesk:// URL; the UI process loads the image.
struct SetTrayIconImage : ServiceOperation<Op::kTraySetIcon, TrayIconDelegate> {
  struct Request {
    std::string url;
    static void Members(auto& self, auto&& member) { member("url", self.url); }
  };
  struct Result : NoMembers {};
};

struct SetTrayToolTip : ServiceOperation<Op::kTraySetToolTip, TrayIconDelegate> {
  struct Request {
    std::string text;
    static void Members(auto& self, auto&& member) { member("text", self.text); }
  };
  struct Result : NoMembers {};
};

// A checked popBalloon: the texts as given, the image as a vesk:// URL.
struct PopBalloon : ServiceOperation<Op::kTrayPopBalloon, TrayIconDelegate> {
  struct Request {
    std::string title;
    std::string text;
    std::string icon;
    bool has_sound = false;
    int delay_ms = 0;
    static void Members(auto& self, auto&& member) {
      member("title", self.title);
      member("text", self.text);
      member("icon", self.icon);
      member("hasSound", self.has_sound);
      member("delayTime", self.delay_ms);
    }
  };
  struct Result : NoMembers {};
};

// A proxy record's members, in requests and results.
inline void ProxyMembers(auto& proxy, auto&& member) {
  member("scheme", proxy.scheme);
  member("host", proxy.host);
  member("port", proxy.port);
  member("username", proxy.username);
  member("password", proxy.password);
}

// The page's proxy table and default (one per process, in the UI process).
struct SetProxyForUrl : ServiceOperation<Op::kProxySetForUrl, ProxyDelegate> {
  struct Request {
    std::string url;
    VeskProxyInfo proxy;
    static void Members(auto& self, auto&& member) {
      member("url", self.url);
      ProxyMembers(self.proxy, member);
    }
  };
  struct Result : NoMembers {};
};

struct RemoveProxyForUrl : ServiceOperation<Op::kProxyRemoveForUrl, ProxyDelegate> {
  struct Request {
    std::string url;
    static void Members(auto& self, auto&& member) { member("url", self.url); }
  };
  struct Result : NoMembers {};
};

// The entry for the URL's key only (never the default).
struct GetProxyForUrl : ServiceOperation<Op::kProxyGetForUrl, ProxyDelegate> {
  struct Request {
    std::string url;
    static void Members(auto& self, auto&& member) { member("url", self.url); }
  };
  struct Result {
    VeskProxyInfo proxy;
    static void Members(auto& self, auto&& member) { ProxyMembers(self.proxy, member); }
  };
};

struct GetDefaultProxy : ServiceOperation<Op::kProxyGetDefault, ProxyDelegate> {
  struct Request : NoMembers {};
  struct Result {
    VeskProxyInfo proxy;
    static void Members(auto& self, auto&& member) { ProxyMembers(self.proxy, member); }
  };
};

struct SetDefaultProxy : ServiceOperation<Op::kProxySetDefault, ProxyDelegate> {
  struct Request {
    VeskProxyInfo proxy;
    static void Members(auto& self, auto&& member) { ProxyMembers(self.proxy, member); }
  };
  struct Result : NoMembers {};
};

}  // namespace op

// Every operation the dispatcher serves.
template <typename... Operations>
struct OperationList {};
using AllOperations =
    OperationList<op::Exit, op::PopUpMenu, op::LaunchWindow, op::SetWindowIcon, op::SetWindowPosition,
                  op::GetWindowPosition, op::SetWindowSizeLimit, op::SetWindowTitle, op::GetWindowOpacity,
                  op::SetWindowOpacity, op::BringWindowToTop, op::ShowWindow, op::DragWindow, op::SizeWindow,
                  op::GetWindowInfo, op::IsAeroStyleEnabled, op::NavigateExternal, op::HasFullScreenWindow,
                  op::GetWorkArea, op::GetLastInputTime, op::SetErrorHandlerUrl, op::SetErrorData,
                  op::GetErrorData, op::GetCookie, op::SetCookie, op::RemoveCookie, op::MoveCookie,
                  op::GetOriginStorage, op::ClickAt, op::EndLaunch, op::GetTrayIcon, op::GetTrayIconState,
                  op::InstallTrayIcon, op::UninstallTrayIcon, op::SetTrayIconImage, op::SetTrayToolTip,
                  op::PopBalloon, op::SetProxyForUrl, op::RemoveProxyForUrl, op::GetProxyForUrl,
                  op::GetDefaultProxy, op::SetDefaultProxy>;

template <typename... Operations>
constexpr bool FromPublishedStateAmong(Op op, OperationList<Operations...>) {
  return ((op == Operations::kOp && Operations::kFromPublishedState) || ...);
}
// Whether the channel's own thread may answer |op| from published state;
// the web process sends those on the connection that thread serves.
constexpr bool AnsweredFromPublishedState(Op op) { return FromPublishedStateAmong(op, AllOperations{}); }

// The delegate interfaces: one Handle per operation, told apart by the
// request type. UI main thread only.
#define VESK_CHANNEL_HANDLE(Operation) \
  virtual op::Operation::Result Handle(const op::Operation::Request& request) = 0
#define VESK_CHANNEL_HANDLE_LATER(Operation) \
  virtual void Handle(const op::Operation::Request& request, Reply<op::Operation::Result> reply) = 0

class AppDelegate {
 public:
  VESK_CHANNEL_HANDLE(Exit);
  VESK_CHANNEL_HANDLE(GetTrayIcon);

 protected:
  virtual ~AppDelegate() = default;
};

class WinhelperDelegate {
 public:
  VESK_CHANNEL_HANDLE(PopUpMenu);
  // Records the launch the page is about to make through window.open; the
  // next view its page asks for becomes a new host window with these values.
  VESK_CHANNEL_HANDLE(LaunchWindow);
  // Forgets an announced launch that no window.open has used.
  VESK_CHANNEL_HANDLE(EndLaunch);
  VESK_CHANNEL_HANDLE(SetWindowIcon);
  VESK_CHANNEL_HANDLE(SetWindowPosition);
  VESK_CHANNEL_HANDLE(GetWindowPosition);
  VESK_CHANNEL_HANDLE(SetWindowSizeLimit);
  VESK_CHANNEL_HANDLE(SetWindowTitle);
  VESK_CHANNEL_HANDLE(GetWindowOpacity);
  VESK_CHANNEL_HANDLE(SetWindowOpacity);
  VESK_CHANNEL_HANDLE(BringWindowToTop);
  VESK_CHANNEL_HANDLE(ShowWindow);
  VESK_CHANNEL_HANDLE(DragWindow);
  VESK_CHANNEL_HANDLE(SizeWindow);
  VESK_CHANNEL_HANDLE(GetWindowInfo);

 protected:
  virtual ~WinhelperDelegate() = default;
};

class OsDelegate {
 public:
  VESK_CHANNEL_HANDLE(IsAeroStyleEnabled);

 protected:
  virtual ~OsDelegate() = default;
};

class OsServicesDelegate {
 public:
  VESK_CHANNEL_HANDLE(NavigateExternal);
  VESK_CHANNEL_HANDLE(HasFullScreenWindow);
  VESK_CHANNEL_HANDLE(GetWorkArea);
  VESK_CHANNEL_HANDLE(GetLastInputTime);

 protected:
  virtual ~OsServicesDelegate() = default;
};

class ErrorDataDelegate {
 public:
  VESK_CHANNEL_HANDLE(SetErrorHandlerUrl);
  VESK_CHANNEL_HANDLE(SetErrorData);
  VESK_CHANNEL_HANDLE(GetErrorData);

 protected:
  virtual ~ErrorDataDelegate() = default;
};

class BrowserDelegate {
 public:
  VESK_CHANNEL_HANDLE(ClickAt);

 protected:
  virtual ~BrowserDelegate() = default;
};

// The engine's cookie store and local storage, reached asynchronously.
class CookieStoreDelegate {
 public:
  VESK_CHANNEL_HANDLE_LATER(GetCookie);
  VESK_CHANNEL_HANDLE_LATER(SetCookie);
  VESK_CHANNEL_HANDLE_LATER(RemoveCookie);
  VESK_CHANNEL_HANDLE_LATER(MoveCookie);
  VESK_CHANNEL_HANDLE_LATER(GetOriginStorage);

 protected:
  virtual ~CookieStoreDelegate() = default;
};

class TrayIconDelegate {
 public:
  VESK_CHANNEL_HANDLE(GetTrayIconState);
  VESK_CHANNEL_HANDLE(InstallTrayIcon);
  VESK_CHANNEL_HANDLE(UninstallTrayIcon);
  VESK_CHANNEL_HANDLE(SetTrayIconImage);
  VESK_CHANNEL_HANDLE(SetTrayToolTip);
  VESK_CHANNEL_HANDLE(PopBalloon);

 protected:
  virtual ~TrayIconDelegate() = default;
};

// The page's proxy table; a change applies to the next request.
class ProxyDelegate {
 public:
  VESK_CHANNEL_HANDLE(SetProxyForUrl);
  VESK_CHANNEL_HANDLE(RemoveProxyForUrl);
  VESK_CHANNEL_HANDLE(GetProxyForUrl);
  VESK_CHANNEL_HANDLE(GetDefaultProxy);
  VESK_CHANNEL_HANDLE(SetDefaultProxy);

 protected:
  virtual ~ProxyDelegate() = default;
};

// Answers the operations marked kFromPublishedState from what the UI main
// thread has published, on the channel's thread; nothing when the published
// state does not hold the answer now (the main thread's delegate then
// answers). Reads only; called on the channel's thread.
#define VESK_CHANNEL_PUBLISHED(Operation)                                  \
  virtual std::optional<op::Operation::Result> Published(uint64_t page_id, \
                                                         const op::Operation::Request& request) = 0
class PublishedStateDelegate {
 public:
  VESK_CHANNEL_PUBLISHED(GetWindowOpacity);
  VESK_CHANNEL_PUBLISHED(GetWindowPosition);

 protected:
  virtual ~PublishedStateDelegate() = default;
};

#undef VESK_CHANNEL_HANDLE
#undef VESK_CHANNEL_HANDLE_LATER
#undef VESK_CHANNEL_PUBLISHED

// What a page's host window answers, and what the process answers.
class WindowDelegates : public AppDelegate,
                        public WinhelperDelegate,
                        public OsDelegate,
                        public BrowserDelegate {};
class ServiceDelegates : public OsServicesDelegate,
                         public ErrorDataDelegate,
                         public CookieStoreDelegate,
                         public TrayIconDelegate,
                         public ProxyDelegate {};

}  // namespace vesk::channel
