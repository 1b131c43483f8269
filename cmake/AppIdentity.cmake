# The application's identity, in one place. VESK_APP_NAME is the executable's
# name; it also names the installed program directory (<prefix>/lib/<name>),
# the command in <prefix>/bin, the icon, the per-user state directories
# (which follow the executable's name at run time) and the Debian package.
set(VESK_APP_NAME "pelicard" CACHE STRING "The program's executable and package name")
set(VESK_APP_ID "example.kestrow.${VESK_APP_NAME}")
set(VESK_APP_DISPLAY_NAME "Kestrow Pelicard")
set(VESK_APP_DISPLAY_NAME_ZH "凯斯卓佩利卡")
set(VESK_APP_SUMMARY "Desktop assistant for Kestrow mail")
set(VESK_APP_VENDOR "Kestrow")
set(VESK_APP_HOMEPAGE "https://desktop.kestrow.example/")
set(VESK_APP_CONTACT "Kestrow desktop team <desktop@kestrow.example>")
