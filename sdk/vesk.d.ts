// Type declarations for the objects the program puts on `window` in every page
// served from a package host (and from the cross-origin list's source
// origins). docs/page-api.md describes every member with its exceptions and
// an example. A test compares both with the members the program registers.
//
// Use: copy this file into your page sources' type roots, or add
//   /// <reference path="vesk.d.ts" />
// Every member throws an Error with the message given in docs/page-api.md
// when its arguments have the wrong count or type.

/** A rectangle in screen pixels. */
interface VeskRect {
  readonly x: number;
  readonly y: number;
  readonly width: number;
  readonly height: number;
}

/** The four parts of version.dat ("7.1.0.3"); missing parts are "0". */
interface VeskVersion {
  readonly major: string;
  readonly minor: string;
  readonly build: string;
  readonly revision: string;
}

/** window.app: the application as a whole. */
interface VeskApp {
  /** Ends the application: closes open system dialogs, then every window. */
  exit(): void;
  /** The process-wide proxy settings (one object per page, one table per process). */
  getProxyHandler(): VeskProxyHelper;
  /** The process-wide error handler (one object per page, one state per process). */
  getErrorHandler(): VeskErrorHandler;
  /** The process's notification-area icon (one object per page, one icon per process). */
  getTrayIcon(): VeskTrayIcon;
  /** Starts the program at log-in with `--vesk-startup=<startup>`; `name` names the entry. */
  setAutoRun(name: string, startup: string): void;
  /** Removes the log-in entry `name`; a missing entry is no error. */
  cancelAutoRun(name: string): void;
  /** Whether a log-in entry named `name` exists. */
  getAutoRunState(name: string): boolean;
  /** The text of version.dat inside the package of host `name` (trimmed). */
  getQbunVersion(name: string): string;
  /** A new update package: the file `name` in the program's update directory, created empty. */
  newUpdatePackage(name: string): VeskUpdatePackage;
  /** Runs the installer `name` (in the update directory) at the next start. */
  updateWhenRestart(name: string): void;
  /** Replaces the package files `names` (in the update directory) at the next start. */
  updateQbunsWhenRestart(names: string | string[]): void;
  /** Whether the file manager's upload entry is shown (false hides it for this user). */
  showUploadMenu: boolean;
  /** The program's version.dat, beside the executable. */
  readonly version: VeskVersion;
  /** Called in the running instance when another start handed files over (the file manager's upload entry). */
  onUploadFile: (() => void) | undefined;
  /** Called in the running instance when another start asked it to exit (`--vesk-startup=exit-process`). */
  onExitMessage: (() => void) | undefined;
  /** Called in the running instance when the program was started again. */
  onForegroundPreInstance: (() => void) | undefined;
}

/** window.browser: cookies of any site, another origin's local storage, the file-input click. */
interface VeskBrowser {
  /** The first cookie named `name` sent to `url` (HttpOnly included); "" when none. */
  getCookie(url: string, name: string): string;
  /** A session cookie with only name and value, for the URL's host and directory. */
  setCookie(url: string, name: string, value: string): void;
  /** Deletes the cookies named `name` sent to `url`; empty `name`: all of the host; empty `url`: all. */
  removeCookie(url: string, name: string): void;
  /** Copies the first cookie `name` of `sourceDomain` (or ".sourceDomain") to `targetDomain`. */
  moveCookie(sourceDomain: string, targetDomain: string, name: string): void;
  /** `localStorage.getItem(key)` of `origin`; undefined when missing. */
  getOriginStorage(origin: string, key: string): string | undefined;
  /** Clicks the middle of the element's bounding rectangle as the user would. */
  clickFileInput(element: { getBoundingClientRect(): { left: number; top: number; right: number; bottom: number } }): void;
}

/** window.os: the desktop around the window. */
interface VeskOs {
  /** Whether windows get the translucent style (compositing, or --force-aero-style=on). */
  isAeroStyleEnabled(): boolean;
  /** Opens an URL or a file with the desktop's default handler. */
  navigateExternal(target: string): void;
  /** Whether another application covers the whole primary monitor. */
  hasFullScreenWindow(): boolean;
  /** "desktop": the primary monitor's work area; "lastInputInfo": milliseconds since the last input. */
  getSystemInfo(what: "desktop"): { readonly workArea: VeskRect };
  getSystemInfo(what: "lastInputInfo"): number;
  getSystemInfo(what: string): undefined;
  /** Called when the translucent style is switched on or off. */
  onAeroStyleChanged: (() => void) | undefined;
}

/** window.security: digests, checksums, compression, GUIDs and keys. */
interface VeskSecurity {
  /** Wraps an eight-number session key with the counterpart's RSA key; 172 Base64 characters. */
  getSessionKey(key: number[]): string;
  /** A new GUID: 36 lower-case characters, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx". */
  createGuid(): string;
  newMD5(): VeskMD5;
  newCRC(): VeskCRC32;
  newZlib(): VeskCompress;
  /** AES-128-CBC of `text` (UTF-8) with the eight-number key; unpadded Base64url text. */
  getOperateAccessKey(key: number[], text: string): string;
}

/** An MD5 digest over appended byte strings (one byte per character). */
interface VeskMD5 {
  append(data: VeskBytes): void;
  reset(): void;
  /** 32 upper-case hexadecimal digits; throws before complete(). */
  getResult(): string;
  complete(): void;
}

interface VeskCRC32 {
  /** The CRC-32 of a byte string as 8 upper-case hexadecimal digits; throws for "". */
  calculateCRC(data: VeskBytes): string;
}

interface VeskCompress {
  /** The zlib stream (level 9) of a byte string, as a byte string. */
  zlibCompress(data: VeskBytes): string;
}

/** The process-wide error page and its data. */
interface VeskErrorHandler {
  /** Pages that fail to load are replaced by this URL ("" switches it off). */
  setErrorHandlerUrl(url: string): void;
  /** String values kept for the error page; reading gives a copy. */
  errordata: Record<string, string>;
}

/** A proxy as the proxy helper reads and takes it. */
interface VeskProxy {
  /** "http", "https", "socks5", ...; a proxy without a scheme is never used. */
  scheme?: string;
  host: string;
  /** 1..65534. */
  port: number;
  /** Sent when an http proxy asks for credentials. */
  username?: string;
  password?: string;
}

/** app.getProxyHandler(): the proxies the engine uses, per origin and by default. */
interface VeskProxyHelper {
  /** Sets (or, with undefined, removes) the proxy for connections to the origin `url`. */
  setProxyForUrl(url: string, proxy: VeskProxy | undefined): void;
  /** The entry stored for exactly `url` (never the default); empty strings and port 0 when none. */
  getProxyForUrl(url: string): Required<VeskProxy>;
  /** The proxy for every origin without an entry; undefined unless scheme, host and port are set. */
  defaultProxy: Required<VeskProxy> | undefined;
}

/** app.getTrayIcon(): the notification-area icon. A right click calls the
 * page's own function property `onRightClick`, which is set like any other. */
interface VeskTrayIcon {
  /** Shows the icon; `wasInstall` is true afterwards even without a notification area. */
  install(): void;
  /** Removes the icon; `icon` and `toolTip` are kept. */
  uninstall(): void;
  /** A desktop notification replacing this icon's previous one; `icon` is required. */
  popBalloon(options: {
    title?: string;
    text?: string;
    icon: string;
    hasSound?: boolean;
    delayTime?: number;
  }): void;
  /** The image as a vesk:// URL. */
  icon: string;
  /** The tool tip (127 characters shown). */
  toolTip: string;
  /** Called on a left click. */
  onClick: (() => void) | undefined;
  /** Whether install() was called last. */
  readonly wasInstall: boolean;
}

/** Bytes for the update-package and security objects: a byte string or binary data. */
type VeskBytes = string | ArrayBuffer | ArrayBufferView;

/** app.newUpdatePackage(name): a file in the update directory, written in pieces. */
interface VeskUpdatePackage {
  /** Truncates the file to length 0. */
  reset(): void;
  /** Appends the bytes later, in call order; then callback(true or false). */
  append(data: VeskBytes, callback: (ok: boolean) => void): void;
  /** Deletes the file. */
  delete(): void;
  /** The file's length in bytes. */
  readonly size: number;
  /** The file's full path; present only with --show-update-package-detail. */
  readonly path?: string;
}

/** One entry of the JSON text given to winhelper.popUpMenu. */
interface VeskMenuItem {
  /** Only items with menu: true appear. */
  menu: boolean;
  text?: string;
  menu_id?: number;
  /** False unless given. */
  enable?: boolean;
  separator?: boolean;
  children?: VeskMenuItem[];
}

/** window.winhelper: the window that shows this page. */
interface VeskWinhelper {
  bringWindowToTop(): void;
  /** Starts moving the window with the mouse; call it from a mousedown handler. */
  dragWindow(): void;
  getWindowOpacity(): number;
  /** Opens a related window and returns its `window` object. */
  launchWindow(url: string, rect: { x: number; y: number; width: number; height: number },
               options: { visible?: boolean; resizable?: boolean; taskbarButton?: boolean }): Window;
  /** Shows a menu at the pointer; `menu` is JSON text of VeskMenuItem[]; choices reach onMenuClick. */
  popUpMenu(menu: string): void;
  getWindowPosition(): VeskRect & { readonly topmost: boolean };
  getWindowInfo(what: "status"): { readonly visible: boolean; readonly status: "maximize" | "minimize" | "restore" };
  getWindowInfo(what: string): undefined;
  setWindowOpacity(opacity: number): void;
  setWindowSizeLimit(min: { width?: number; height?: number } | undefined,
                     max: { width?: number; height?: number } | undefined): void;
  setWindowPosition(options: Partial<VeskRect> & { topmost?: boolean }): void;
  setWindowTitle(title: string): void;
  /** Sets the window icon from a vesk:// URL of an image. */
  setWindowIconFromLocalFile(url: string): void;
  showWindow(command: "show" | "hide" | "restore" | "minimize" | "maximize"): void;
  /** Starts resizing with the mouse from an edge; call it from a mousedown handler. */
  sizeWindow(edge: "left" | "top" | "right" | "bottom" | "topleft" | "topright" | "bottomleft" | "bottomright"): void;
  onMenuClick: ((menuId: number) => void) | undefined;
  onLoseFocus: (() => void) | undefined;
  /** Asked when the window is to close; return true to keep it open. */
  onClose: (() => boolean | void) | undefined;
}

interface Window {
  readonly app: VeskApp;
  readonly browser: VeskBrowser;
  readonly os: VeskOs;
  readonly security: VeskSecurity;
  readonly winhelper: VeskWinhelper;
}
declare const app: VeskApp;
declare const browser: VeskBrowser;
declare const os: VeskOs;
declare const security: VeskSecurity;
declare const winhelper: VeskWinhelper;
