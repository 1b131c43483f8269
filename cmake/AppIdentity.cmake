# The application's identity, in one place: everything that names this
# application and tells it apart from another application built from the same
# tree. VESK_APP_NAME is the executable's name; it also names the installed
# program directory (<prefix>/lib/<name>), the command in <prefix>/bin, the
# icon, the per-user state directories (which follow the executable's name at
# run time) and the Debian package. Set these on the cmake command line or in
# an initial-cache file (cmake -C app.cmake); docs/app-development.md
# describes each one. An empty value means "derived from VESK_APP_NAME", so a
# second application that sets only its name never shares an instance lock,
# an instance channel or a registry with this one.
#
# Results for the rest of the build:
#   VESK_APP_IDENTITY_INCLUDE_DIR  holds vesk/app_identity.h and deployment.h
#   VESK_APP_PACKAGE_HOSTS         the package host names (a list)
#   VESK_APP_PACKAGE_SOURCE_DIR    one sub-directory per package host

set(VESK_APP_NAME "pelicard" CACHE STRING
    "The executable's file name; also the log's, the installed program directory's and the package's")
set(VESK_APP_ID "example.kestrow.${VESK_APP_NAME}" CACHE STRING "Reverse-DNS id: desktop entry and AppStream file")
set(VESK_APP_DISPLAY_NAME "Kestrow Pelicard" CACHE STRING "The application's name as people read it")
set(VESK_APP_DISPLAY_NAME_ZH "凯斯卓佩利卡" CACHE STRING "The same in Chinese (desktop entry)")
set(VESK_APP_SUMMARY "Desktop assistant for Kestrow mail" CACHE STRING "One line for the desktop entry")
set(VESK_APP_VENDOR "Kestrow" CACHE STRING "Who ships it (package metadata)")
set(VESK_APP_HOMEPAGE "https://desktop.kestrow.example/" CACHE STRING "Home page (package metadata)")
set(VESK_APP_CONTACT "Kestrow desktop team <desktop@kestrow.example>" CACHE STRING
    "Maintainer (package metadata)")
set(VESK_APP_START_URL "vesk://vesk/res/app_init.html" CACHE STRING "The first page")
set(VESK_APP_PACKAGE_HOSTS "pelicard;vesk" CACHE STRING
    "Package host names, in order: each is a vesk:// host and the base name of package/<host>.qbun")
set(VESK_APP_PACKAGE_SOURCE_DIR "${PROJECT_SOURCE_DIR}/packages" CACHE PATH
    "Directory with one sub-directory of page sources per package host, signed into the program directory")
set(VESK_APP_SOURCE_ORIGINS
    "http://assistant.mail.kestrow.example;http://desktop.mail.kestrow.example;vesk://pelicard;vesk://vesk"
    CACHE STRING "Origins whose pages may reach the target hosts across origins")
set(VESK_APP_TARGET_HOSTS
    "mail.kestrow.example;webmail.kestrow.example;m.mail.kestrow.example;vip.mail.kestrow.example;mail2.kestrow.example;reg.mail.kestrow.example"
    CACHE STRING "Hosts the source origins may reach, each over http and https (subdomains included)")
set(VESK_APP_INSTANCE_LOCK "" CACHE STRING
    "Name of the single-instance lock; empty: vesk-<VESK_APP_NAME>-InstanceMutex-desktop.kestrow.example")
set(VESK_APP_IPC_DIRECTORY "" CACHE STRING
    "Directory name of the instance channel's sockets; empty: vesk_ipc_window, or vesk_ipc_window-<name> for another name")
set(VESK_APP_STARTUP_BOX_CAPTION "凯斯卓佩利卡" CACHE STRING
    "Caption of the box shown when a package is missing or damaged")
set(VESK_APP_STARTUP_BOX_TEXT "文件 {path} 不存在或已损坏，请重新安装佩利卡！" CACHE STRING
    "Text of that box; {path} stands for the package's full path")
set(VESK_APP_REGISTRY_PATH "Software\\Kestrow\\NewPelicard" CACHE STRING
    "Registry key of the application's own settings (the context-menu values lie below it)")
set(VESK_APP_CONFIG_NAME "" CACHE STRING
    "Directory name of the per-user registry store under $XDG_CONFIG_HOME; empty: VESK_APP_NAME")
set(VESK_APP_WINDOW_CLASS "" CACHE STRING
    "Window class (WM_CLASS class part) of every window; empty: VESK_APP_NAME with a capital first letter")

# A name that is one path component and one shell word.
function(_vesk_check_name variable)
  if(NOT "${${variable}}" MATCHES "^[A-Za-z0-9][A-Za-z0-9._-]*$")
    message(FATAL_ERROR "${variable} (\"${${variable}}\") must be letters, digits, '.', '_' or '-'")
  endif()
endfunction()

_vesk_check_name(VESK_APP_NAME)
if(NOT VESK_APP_PACKAGE_HOSTS)
  message(FATAL_ERROR "VESK_APP_PACKAGE_HOSTS needs at least one host")
endif()
foreach(_vesk_host IN LISTS VESK_APP_PACKAGE_HOSTS)
  if(NOT _vesk_host MATCHES "^[a-z0-9][a-z0-9-]*$")
    message(FATAL_ERROR "Package host \"${_vesk_host}\" must be lower-case letters, digits and '-'")
  endif()
endforeach()
if(NOT VESK_APP_START_URL MATCHES "^vesk://([a-z0-9-]+)/")
  message(FATAL_ERROR "VESK_APP_START_URL must be a vesk:// URL of a package host")
endif()
if(NOT CMAKE_MATCH_1 IN_LIST VESK_APP_PACKAGE_HOSTS)
  message(FATAL_ERROR "The start page's host ${CMAKE_MATCH_1} is not in VESK_APP_PACKAGE_HOSTS")
endif()
foreach(_vesk_host IN LISTS VESK_APP_TARGET_HOSTS)
  if(NOT _vesk_host MATCHES "^[A-Za-z0-9.-]+$")
    message(FATAL_ERROR "Target host \"${_vesk_host}\" must be a bare host name")
  endif()
endforeach()
if(NOT VESK_APP_STARTUP_BOX_TEXT MATCHES "{path}")
  message(FATAL_ERROR "VESK_APP_STARTUP_BOX_TEXT must hold {path}")
endif()

# Derived values.
set(_vesk_lock "${VESK_APP_INSTANCE_LOCK}")
if(NOT _vesk_lock)
  set(_vesk_lock "vesk-${VESK_APP_NAME}-InstanceMutex-desktop.kestrow.example")
endif()
set(_vesk_ipc_dir "${VESK_APP_IPC_DIRECTORY}")
if(NOT _vesk_ipc_dir)
  if(VESK_APP_NAME STREQUAL "pelicard")
    set(_vesk_ipc_dir "vesk_ipc_window")
  else()
    set(_vesk_ipc_dir "vesk_ipc_window-${VESK_APP_NAME}")
  endif()
endif()
set(_vesk_config_name "${VESK_APP_CONFIG_NAME}")
if(NOT _vesk_config_name)
  set(_vesk_config_name "${VESK_APP_NAME}")
endif()
set(_vesk_window_class "${VESK_APP_WINDOW_CLASS}")
if(NOT _vesk_window_class)
  string(SUBSTRING "${VESK_APP_NAME}" 0 1 _vesk_first)
  string(SUBSTRING "${VESK_APP_NAME}" 1 -1 _vesk_rest)
  string(TOUPPER "${_vesk_first}" _vesk_first)
  set(_vesk_window_class "${_vesk_first}${_vesk_rest}")
endif()
foreach(_vesk_name _vesk_lock _vesk_ipc_dir _vesk_config_name)
  _vesk_check_name(${_vesk_name})
endforeach()
string(FIND "${VESK_APP_STARTUP_BOX_TEXT}" "{path}" _vesk_path_at)
string(SUBSTRING "${VESK_APP_STARTUP_BOX_TEXT}" 0 ${_vesk_path_at} _vesk_box_prefix)
math(EXPR _vesk_after "${_vesk_path_at} + 6")
string(SUBSTRING "${VESK_APP_STARTUP_BOX_TEXT}" ${_vesk_after} -1 _vesk_box_suffix)

# "text" as a C++ string literal.
function(_vesk_literal out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()
# A list as the initializer of an array of literals.
function(_vesk_literal_list out)
  set(items "")
  foreach(item IN LISTS ARGN)
    _vesk_literal(literal "${item}")
    string(APPEND items "    ${literal},\n")
  endforeach()
  set(${out} "${items}" PARENT_SCOPE)
endfunction()

_vesk_literal(VESK_ID_APP_NAME "${VESK_APP_NAME}")
_vesk_literal(VESK_ID_DISPLAY_NAME "${VESK_APP_DISPLAY_NAME}")
_vesk_literal(VESK_ID_START_URL "${VESK_APP_START_URL}")
_vesk_literal(VESK_ID_INSTANCE_LOCK "${_vesk_lock}")
_vesk_literal(VESK_ID_IPC_DIRECTORY "${_vesk_ipc_dir}")
_vesk_literal(VESK_ID_BOX_CAPTION "${VESK_APP_STARTUP_BOX_CAPTION}")
_vesk_literal(VESK_ID_BOX_PREFIX "${_vesk_box_prefix}")
_vesk_literal(VESK_ID_BOX_SUFFIX "${_vesk_box_suffix}")
_vesk_literal(VESK_ID_REGISTRY_PATH "${VESK_APP_REGISTRY_PATH}")
_vesk_literal(VESK_ID_CONFIG_NAME "${_vesk_config_name}")
_vesk_literal(VESK_ID_WINDOW_CLASS "${_vesk_window_class}")
_vesk_literal_list(VESK_ID_PACKAGE_HOSTS ${VESK_APP_PACKAGE_HOSTS})
_vesk_literal_list(VESK_ID_SOURCE_ORIGINS ${VESK_APP_SOURCE_ORIGINS})
_vesk_literal_list(VESK_ID_TARGET_HOSTS ${VESK_APP_TARGET_HOSTS})
list(LENGTH VESK_APP_TARGET_HOSTS VESK_ID_TARGET_HOST_COUNT)
list(LENGTH VESK_APP_SOURCE_ORIGINS VESK_ID_SOURCE_ORIGIN_COUNT)

set(VESK_APP_IDENTITY_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated/app_identity)
configure_file(${CMAKE_CURRENT_LIST_DIR}/app_identity.h.in ${VESK_APP_IDENTITY_INCLUDE_DIR}/vesk/app_identity.h
               @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/src/launcher/deployment.h.in ${VESK_APP_IDENTITY_INCLUDE_DIR}/deployment.h
               @ONLY)
message(STATUS "Application: ${VESK_APP_NAME} (${VESK_APP_START_URL}; packages ${VESK_APP_PACKAGE_HOSTS})")
