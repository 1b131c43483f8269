// A tiny case runner for suites that run as pages inside the real program.
//
// A suite page includes this file, declares its cases and runs them:
//
//   <script src="harness.js"></script>
//   <script>
//     suite.test("version is read-only", () => { ... });
//     suite.test("async case", async () => { await suite.sleep(100); ... });
//     suite.run();
//   </script>
//
// Every line reaches the program's log through the console (the web
// extension writes console messages there), where tests/e2e/page_suite.py
// reads them:
//   SUITE PLAN <n>            the number of declared cases, before the first runs
//   CASE PASS <name>
//   CASE FAIL <name>: <message>
//   REPORT <key> <json>       a fact the Python side checks (suite.report)
//   SUITE DONE
//   SUITE ERROR <message>     an uncaught script error of the page
// A suite that needs the driver to look at something outside the page in
// the middle of a run reports a fact and then waits: suite.waitForDriver(step)
// returns once the driver called SuiteSession.signal(step).
// Cases run one after another in declaration order. A case fails when it
// throws, when its promise rejects, or when it takes longer than its time
// limit. Lines never span several log lines: newlines are escaped.
(function (global) {
  "use strict";

  const DEFAULT_CASE_TIMEOUT_MS = 30000;

  function oneLine(text) {
    return String(text).replace(/\r/g, "\\r").replace(/\n/g, "\\n");
  }

  function emit(line) {
    console.log(oneLine(line));
  }

  // Readable text of any value for failure messages.
  function show(value) {
    if (typeof value === "string") return JSON.stringify(value);
    if (typeof value === "function") return "[function]";
    try {
      const text = JSON.stringify(value);
      if (text !== undefined) return text;
    } catch (e) {
      // cyclic or otherwise unserialisable: fall through
    }
    return String(value);
  }

  class Failure extends Error {}

  const cases = [];
  let started = false;

  const suite = {
    // Declares a case; |fn| may return a promise. options.timeoutMs bounds it.
    test(name, fn, options) {
      if (started) throw new Error("suite.test after suite.run: " + name);
      if (cases.some((c) => c.name === name)) throw new Error("duplicate case name: " + name);
      // The driver splits "CASE FAIL <name>: <message>" at the first ": ".
      if (/: |[\r\n]/.test(name)) throw new Error("a case name holds no \": \" and no line break: " + name);
      cases.push({ name, fn, timeoutMs: (options && options.timeoutMs) || DEFAULT_CASE_TIMEOUT_MS });
    },

    // Runs every declared case; resolves after SUITE DONE was written.
    async run() {
      started = true;
      emit("SUITE PLAN " + cases.length);
      for (const c of cases) {
        let timer = null;
        try {
          const limit = new Promise((_, reject) => {
            timer = setTimeout(() => reject(new Failure("timed out after " + c.timeoutMs + " ms")), c.timeoutMs);
          });
          await Promise.race([Promise.resolve().then(() => c.fn()), limit]);
          emit("CASE PASS " + c.name);
        } catch (error) {
          const message = error instanceof Error ? error.message : show(error);
          emit("CASE FAIL " + c.name + ": " + message);
        } finally {
          clearTimeout(timer);
        }
      }
      emit("SUITE DONE");
    },

    // A fact for the driver: "REPORT <key> <json of value>".
    report(key, value) {
      if (!/^[A-Za-z0-9_.-]+$/.test(key)) throw new Failure("bad report key: " + key);
      emit("REPORT " + key + " " + JSON.stringify(value === undefined ? null : value));
    },

    fail(message) {
      throw new Failure(message);
    },

    ok(condition, what) {
      if (!condition) throw new Failure((what || "condition") + " is not true");
    },

    // Strict equality (===), or deep equality of plain data when both sides
    // are objects or arrays.
    equal(actual, expected, what) {
      const same =
        actual === expected ||
        (actual !== null && expected !== null && typeof actual === "object" && typeof expected === "object" &&
          show(actual) === show(expected));
      if (!same) throw new Failure((what ? what + ": " : "") + "expected " + show(expected) + ", got " + show(actual));
    },

    // |fn| must throw an Error whose message is exactly |message|.
    expectThrows(fn, message, what) {
      let thrown = null;
      try {
        fn();
      } catch (error) {
        thrown = error;
      }
      const prefix = what ? what + ": " : "";
      if (thrown === null) throw new Failure(prefix + "expected exception " + show(message) + ", nothing thrown");
      const text = thrown instanceof Error ? thrown.message : String(thrown);
      if (text !== message) throw new Failure(prefix + "expected exception " + show(message) + ", got " + show(text));
    },

    // |fn| must not throw; yields its result.
    expectNoThrow(fn, what) {
      try {
        return fn();
      } catch (error) {
        throw new Failure((what ? what + ": " : "") + "unexpected exception " + show(error && error.message));
      }
    },

    sleep(ms) {
      return new Promise((resolve) => setTimeout(resolve, ms));
    },

    // Resolves once |predicate| holds (polled), fails after |timeoutMs|.
    async waitFor(predicate, what, timeoutMs) {
      const deadline = Date.now() + (timeoutMs || 5000);
      while (!predicate()) {
        if (Date.now() > deadline) throw new Failure("timed out waiting for " + (what || "condition"));
        await suite.sleep(20);
      }
    },

    // Waits until the driver calls signal(step) (it writes the file
    // driver/<step> into the site, which the page polls for).
    async waitForDriver(step, timeoutMs) {
      const deadline = Date.now() + (timeoutMs || 20000);
      for (let attempt = 0; ; ++attempt) {
        // The query keeps every poll apart from the engine's caches.
        const response = await fetch("vesk://vesk/driver/" + step + "?poll=" + attempt, {cache: "no-store"});
        if (response.ok) return;
        if (Date.now() > deadline) throw new Failure("the driver never signalled " + step);
        await suite.sleep(50);
      }
    },

    // The enumerable own and inherited property names of a value.
    keysOf(value) {
      const keys = [];
      for (const key in value) keys.push(key);
      return keys;
    },
  };

  // A script error outside the cases (a mistake in the page, say) ends the
  // test at once instead of leaving the driver to wait for its time limit.
  global.addEventListener("error", (event) => emit("SUITE ERROR " + event.message));
  global.addEventListener("unhandledrejection", (event) =>
    emit("SUITE ERROR unhandled rejection: " + (event.reason && event.reason.message || String(event.reason))));

  global.suite = suite;
})(window);
