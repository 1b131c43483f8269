# Development keys are for development: a build that embeds a generated key
# pair or the fixed development access vector says so at configure time, and
# a build type meant for shipping (Release, MinSizeRel) refuses them unless
# VESK_ALLOW_DEVELOPMENT_KEYS is on. A package signed with a development key
# verifies only in builds from that one build tree.
option(VESK_ALLOW_DEVELOPMENT_KEYS "Let a Release or MinSizeRel build embed development keys" OFF)

set(_vesk_development_keys "")
if(NOT VESK_PACKAGE_PUBLIC_KEY)
  list(APPEND _vesk_development_keys "the package key (VESK_PACKAGE_PUBLIC_KEY)")
endif()
if(NOT VESK_SESSION_PUBLIC_KEY)
  list(APPEND _vesk_development_keys "the session key (VESK_SESSION_PUBLIC_KEY)")
endif()
if(NOT VESK_ACCESS_KEY_IV)
  list(APPEND _vesk_development_keys "the access-key vector (VESK_ACCESS_KEY_IV)")
endif()

if(_vesk_development_keys)
  list(JOIN _vesk_development_keys ", " _vesk_which)
  set(_vesk_text "This build uses development values for ${_vesk_which}. Fine for development, but ")
  string(APPEND _vesk_text "a shipped build needs release keys (docs/app-development.md, \"Release keys\").")
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$" AND NOT VESK_ALLOW_DEVELOPMENT_KEYS)
    message(FATAL_ERROR "${_vesk_text}\nThe build type ${CMAKE_BUILD_TYPE} is for shipping: set the release keys, "
                        "or -DVESK_ALLOW_DEVELOPMENT_KEYS=ON to build it with development keys anyway.")
  endif()
  message(WARNING "${_vesk_text}")
endif()
