// A script file of the console case. The log names a console message's
// source by the file name of its URL, without directories or query, and
// gives the line of the call. The page loads this file as
// vesk://vesk/js/main.js?v=2, and the test expects the call on line 17:
// keep it there when editing this file.
//
// Expected log text:
//
//   [CONSOLE:main.js(17)] hello
//
// A script that is not the page itself, so the source name is this file's,
// not the page's.
(function () {
  "use strict";
  var greeting = "hello";
  // The call:
  console.log(greeting);
})();
