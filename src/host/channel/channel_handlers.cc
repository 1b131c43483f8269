#include "channel/channel_handlers.h"

#include <gio/gio.h>

#include "browser/browser_host.h"
#include "os_services.h"
#include "vesk/core/browser/error_processor.h"
#include "vesk/core/logging.h"

namespace vesk {
namespace {

using channel::Error;
using channel::Op;
using channel::Request;
using channel::Response;

Response Fail(Error error) {
  Response response;
  response.error = error;
  return response;
}

Json::Value RectToJson(const WindowRect& rect) {
  Json::Value value(Json::objectValue);
  value["left"] = rect.left;
  value["top"] = rect.top;
  value["right"] = rect.right;
  value["bottom"] = rect.bottom;
  return value;
}

PositionRequest::IntValue IntMember(const Json::Value& args, const char* name) {
  const Json::Value& member = args[name];
  if (member.isNull()) return {};
  if (!member.isInt()) return {PositionRequest::Type::kWrongType, 0};
  return {PositionRequest::Type::kValid, member.asInt()};
}

PositionRequest::BoolValue BoolMember(const Json::Value& args, const char* name) {
  const Json::Value& member = args[name];
  if (member.isNull()) return {};
  if (!member.isBool()) return {PositionRequest::Type::kWrongType, false};
  return {PositionRequest::Type::kValid, member.asBool()};
}

std::optional<ShowCommand> ParseShowCommand(const std::string& name) {
  if (name == "show") return ShowCommand::kShow;
  if (name == "hide") return ShowCommand::kHide;
  if (name == "restore") return ShowCommand::kRestore;
  if (name == "minimize") return ShowCommand::kMinimize;
  if (name == "maximize") return ShowCommand::kMaximize;
  return std::nullopt;
}

std::optional<GdkWindowEdge> ParseEdge(const std::string& name) {
  static const std::pair<const char*, GdkWindowEdge> kEdges[] = {
      {"left", GDK_WINDOW_EDGE_WEST},
      {"top", GDK_WINDOW_EDGE_NORTH},
      {"right", GDK_WINDOW_EDGE_EAST},
      {"bottom", GDK_WINDOW_EDGE_SOUTH},
      {"topleft", GDK_WINDOW_EDGE_NORTH_WEST},
      {"topright", GDK_WINDOW_EDGE_NORTH_EAST},
      {"bottomleft", GDK_WINDOW_EDGE_SOUTH_WEST},
      {"bottomright", GDK_WINDOW_EDGE_SOUTH_EAST},
  };
  for (const auto& [edge_name, edge] : kEdges)
    if (name == edge_name) return edge;
  return std::nullopt;
}

// Requests that need the page's window.
Response HandleWindowRequest(BrowserHost* host, const Request& request) {
  const Json::Value& args = request.args;
  Response response;
  switch (request.op) {
    case Op::kAppExit:
      host->ExitApplication();
      break;
    case Op::kWinPopUpMenu:
      host->PopUpMenu(args["json"].asString());
      break;
    case Op::kWinLaunchWindow: {
      LaunchRequest launch;
      launch.url = args["url"].asString();
      launch.rect = {args["left"].asInt(), args["top"].asInt(), args["right"].asInt(),
                     args["bottom"].asInt()};
      launch.visible = args["visible"].asBool();
      launch.resizable = args["resizable"].asBool();
      launch.taskbar_button = args["taskbarButton"].asBool();
      host->LaunchWindow(launch);
      break;
    }
    case Op::kWinSetIcon:
      host->SetIcon(args["path"].asString());
      break;
    case Op::kWinSetPosition: {
      PositionRequest position;
      position.x = IntMember(args, "x");
      position.y = IntMember(args, "y");
      position.width = IntMember(args, "width");
      position.height = IntMember(args, "height");
      position.topmost = BoolMember(args, "topmost");
      position.active = BoolMember(args, "active");
      response.result["error"] = host->SetPosition(position);
      break;
    }
    case Op::kWinGetPosition: {
      const WindowPosition position = host->GetPosition();
      response.result = RectToJson(position.rect);
      response.result["topmost"] = position.topmost;
      break;
    }
    case Op::kWinSetSizeLimit:
      host->SetSizeLimit(args["width"].asInt(), args["height"].asInt(), args["maximum"].asBool());
      break;
    case Op::kWinSetTitle:
      host->SetTitle(args["title"].asString());
      break;
    case Op::kWinGetOpacity:
      response.result["opacity"] = host->GetOpacity();
      break;
    case Op::kWinSetOpacity:
      host->SetOpacity(args["opacity"].asDouble());
      break;
    case Op::kWinBringToTop:
      host->BringToTop();
      break;
    case Op::kWinShowWindow: {
      const auto command = ParseShowCommand(args["command"].asString());
      if (!command) return Fail(Error::kBadRequest);
      host->ShowWindow(*command);
      break;
    }
    case Op::kWinDragWindow:
      host->BeginMoveDrag();
      break;
    case Op::kWinSizeWindow: {
      const WindowStatus status = host->GetWindowStatus();
      if (status.status != "restore") break;  // minimised or maximised: left alone
      const auto edge = ParseEdge(args["edge"].asString());
      response.result["known"] = edge.has_value();
      if (edge) host->BeginResizeDrag(*edge);
      break;
    }
    case Op::kWinGetWindowInfo: {
      const WindowStatus status = host->GetWindowStatus();
      response.result["visible"] = status.visible;
      response.result["status"] = status.status;
      break;
    }
    case Op::kOsIsAeroStyleEnabled:
      response.result["enabled"] = host->IsAeroStyleEnabled();
      break;
    case Op::kBrowserClick:
      host->SendMouseClick(args["x"].asInt(), args["y"].asInt());
      break;
    default:
      return Fail(Error::kUnknownOp);
  }
  return response;
}

bool NeedsWindow(Op op) {
  switch (op) {
    case Op::kOsNavigateExternal:
    case Op::kOsHasFullScreenWindow:
    case Op::kOsGetWorkArea:
    case Op::kOsGetLastInputMs:
    case Op::kErrorSetUrl:
    case Op::kErrorSetData:
    case Op::kErrorGetData:
      return false;
    default:
      return true;
  }
}

Response HandleServiceRequest(const Request& request) {
  const Json::Value& args = request.args;
  Response response;
  switch (request.op) {
    case Op::kOsNavigateExternal:
      OpenExternal(args["target"].asString());
      break;
    case Op::kOsHasFullScreenWindow:
      response.result["fullscreen"] = HasFullScreenWindowOfOtherProcess();
      break;
    case Op::kOsGetWorkArea:
      response.result = RectToJson(PrimaryWorkArea());
      break;
    case Op::kOsGetLastInputMs:
      response.result["ms"] = MillisecondsSinceLastInput();
      break;
    case Op::kErrorSetUrl:
      ErrorProcessor::Get().SetErrorHandlerUrl(args["url"].asString());
      break;
    case Op::kErrorSetData: {
      std::vector<std::pair<std::string, std::string>> entries;
      for (const Json::Value& pair : args["entries"])
        if (pair.isArray() && pair.size() == 2 && pair[0].isString() && pair[1].isString())
          entries.emplace_back(pair[0].asString(), pair[1].asString());
      ErrorProcessor::Get().SetErrorData(entries);
      break;
    }
    case Op::kErrorGetData: {
      Json::Value entries(Json::arrayValue);
      for (const auto& [key, value] : ErrorProcessor::Get().error_data()) {
        Json::Value pair(Json::arrayValue);
        pair.append(key);
        pair.append(value);
        entries.append(pair);
      }
      response.result["entries"] = entries;
      break;
    }
    default:
      return Fail(Error::kUnknownOp);
  }
  return response;
}

}  // namespace

Response HandleChannelRequest(const Request& request) {
  try {
    if (!NeedsWindow(request.op)) return HandleServiceRequest(request);
    BrowserHost* host = BrowserHost::FromPageId(request.page_id);
    if (!host) return Fail(Error::kNoWindow);
    return HandleWindowRequest(host, request);
  } catch (const Json::Exception&) {
    // A member of the wrong JSON type.
    return Fail(Error::kBadRequest);
  } catch (const std::exception& error) {
    VESK_LOG(ERROR) << "Page channel request failed: " << error.what();
    return Fail(Error::kBadRequest);
  }
}

}  // namespace vesk
