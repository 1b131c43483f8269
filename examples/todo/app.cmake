# The to-do example's identity: cmake -S . -B build-todo -G Ninja -C examples/todo/app.cmake
# (docs/app-development.md). Everything not set here keeps the sample's value.
set(VESK_APP_NAME "todo" CACHE STRING "")
set(VESK_APP_DISPLAY_NAME "To-do" CACHE STRING "")
set(VESK_APP_DISPLAY_NAME_ZH "待办" CACHE STRING "")
set(VESK_APP_ID "org.example.todo" CACHE STRING "")
set(VESK_APP_SUMMARY "A small to-do list" CACHE STRING "")
set(VESK_APP_VENDOR "Example" CACHE STRING "")
set(VESK_APP_START_URL "vesk://todo/index.html" CACHE STRING "")
set(VESK_APP_PACKAGE_HOSTS "todo" CACHE STRING "")
set(VESK_APP_PACKAGE_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/packages" CACHE PATH "")
set(VESK_APP_SOURCE_ORIGINS "vesk://todo" CACHE STRING "")
set(VESK_APP_TARGET_HOSTS "" CACHE STRING "")
set(VESK_APP_STARTUP_BOX_CAPTION "To-do" CACHE STRING "")
set(VESK_APP_STARTUP_BOX_TEXT "The file {path} is missing or damaged. Please reinstall To-do." CACHE STRING "")
set(VESK_APP_REGISTRY_PATH "Software\\Example\\Todo" CACHE STRING "")
# An application developer does not need the program's own tests.
set(VESK_BUILD_TESTS OFF CACHE BOOL "")
