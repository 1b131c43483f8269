// The start page of the sample application: it sizes, centres and shows its
// own frameless window, acts as the window's caption (move, minimise,
// maximise or restore, close) and shows the versions of the application and
// of its packages.
//
// Every call into the host's script objects is wrapped: in an ordinary
// browser they do not exist, and any of them may throw; the page must still
// render and the rest of it keep working.
(function () {
  "use strict";

  var PREFERRED_WIDTH = 880;
  var PREFERRED_HEIGHT = 560;
  var SCREEN_MARGIN = 24;

  function attempt(what, action, fallback) {
    try {
      return action();
    } catch (error) {
      console.warn(what + " failed: " + (error && error.message ? error.message : error));
      return fallback;
    }
  }

  function startupValue() {
    var match = /[?&]vesk-startup=([^&#]*)/.exec(location.search);
    return match ? decodeURIComponent(match[1]) : "";
  }

  // Size and place -----------------------------------------------------------

  function placeWindow() {
    var area = attempt("os.getSystemInfo", function () {
      return os.getSystemInfo("desktop").workArea;
    }, null);
    if (!area || !(area.width > 0) || !(area.height > 0)) {
      area = {x: 0, y: 0, width: screen.availWidth || PREFERRED_WIDTH, height: screen.availHeight || PREFERRED_HEIGHT};
    }
    // setWindowPosition takes integers only.
    var width = Math.floor(Math.max(320, Math.min(PREFERRED_WIDTH, area.width - 2 * SCREEN_MARGIN)));
    var height = Math.floor(Math.max(240, Math.min(PREFERRED_HEIGHT, area.height - 2 * SCREEN_MARGIN)));
    var x = Math.floor(area.x + (area.width - width) / 2);
    var y = Math.floor(area.y + (area.height - height) / 2);
    attempt("winhelper.setWindowPosition", function () {
      winhelper.setWindowPosition({x: x, y: y, width: width, height: height});
    });
  }

  // Caption ------------------------------------------------------------------

  function windowStatus() {
    return attempt("winhelper.getWindowInfo", function () {
      var info = winhelper.getWindowInfo("status");
      return info ? info.status : "restore";
    }, "restore");
  }

  function updateMaximizeButton() {
    var maximized = windowStatus() === "maximize";
    document.body.classList.toggle("maximized", maximized);
    var button = document.getElementById("maximize");
    button.title = maximized ? "Restore" : "Maximise";
    button.setAttribute("aria-label", button.title);
  }

  function toggleMaximized() {
    var command = windowStatus() === "maximize" ? "restore" : "maximize";
    attempt("winhelper.showWindow(" + command + ")", function () {
      winhelper.showWindow(command);
    });
  }

  function wireCaption() {
    var bar = document.getElementById("titlebar");
    var controls = bar.querySelector(".controls");
    bar.addEventListener("mousedown", function (event) {
      if (event.button !== 0 || event.detail > 1 || controls.contains(event.target)) return;
      event.preventDefault();
      attempt("winhelper.dragWindow", function () {
        winhelper.dragWindow();
      });
    });
    bar.addEventListener("dblclick", function (event) {
      if (!controls.contains(event.target)) toggleMaximized();
    });
    document.getElementById("minimize").addEventListener("click", function () {
      attempt("winhelper.showWindow(minimize)", function () {
        winhelper.showWindow("minimize");
      });
    });
    document.getElementById("maximize").addEventListener("click", toggleMaximized);
    document.getElementById("close").addEventListener("click", function () {
      attempt("app.exit", function () {
        app.exit();
      });
    });
    // Maximising and restoring resize the view; the button follows.
    window.addEventListener("resize", updateMaximizeButton);
  }

  // Versions -----------------------------------------------------------------

  function showVersion(id, read) {
    var element = document.getElementById(id);
    var text = attempt(id, read, null);
    element.textContent = text ? String(text) : "unavailable";
    element.classList.toggle("unavailable", !text);
  }

  function showVersions() {
    showVersion("app-version", function () {
      var version = app.version;
      return version.major + "." + version.minor;
    });
    showVersion("vesk-version", function () {
      return app.getQbunVersion("vesk");
    });
    showVersion("pelicard-version", function () {
      return app.getQbunVersion("pelicard");
    });
  }

  // Start --------------------------------------------------------------------

  document.getElementById("origin").textContent = location.href;
  wireCaption();
  showVersions();

  // A second start of the program asks this instance to come forward.
  attempt("app.onForegroundPreInstance", function () {
    app.onForegroundPreInstance = function () {
      attempt("winhelper.bringWindowToTop", function () {
        winhelper.bringWindowToTop();
      });
    };
  });

  placeWindow();
  updateMaximizeButton();
  // Started into the tray (for instance at log-in): stay hidden until asked.
  if (startupValue() !== "tray") {
    attempt("winhelper.showWindow(show)", function () {
      winhelper.showWindow("show");
    });
  }
})();
