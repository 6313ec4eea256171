# Two builds of one commit give the same bytes wherever and whenever they run.
# No path of the build machine goes into what is compiled.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)

# The help screen's build stamp is __DATE__ and __TIME__, which the compiler takes
# from SOURCE_DATE_EPOCH when it is set (the package targets set it from the
# commit). Naming the value on that one file rebuilds it when the value changes.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(MAILSIFT_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/settings/help_screen.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS MAILSIFT_SOURCE_DATE_EPOCH=${MAILSIFT_SOURCE_DATE_EPOCH})
endif()

if(WIN32)
  # The PE header's link time would differ on every build.
  add_link_options(-Wl,--no-insert-timestamp)
endif()
