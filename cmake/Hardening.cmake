# The distribution's hardening flags, as Debian builds its own packages:
# fortified string and memory functions, stack protector, format checks and
# full RELRO (-z relro -z now); executables are position-independent by the
# compiler's default. The flags come from dpkg-buildflags with every hardening
# feature on, less its -O and -g flags, so that the build type keeps choosing
# optimisation and debug information.
#
# Used by the release preset, which builds the Debian package and the
# benchmark. Without dpkg-buildflags (package dpkg-dev) the build goes on
# unhardened with a warning; the package build needs dpkg-dev anyway.

if(NOT CMDCLIENT_HARDENING OR WIN32)
  return()
endif()

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(WARNING "dpkg-buildflags not found (Debian package dpkg-dev): "
                  "building without the distribution's hardening flags")
  return()
endif()

function(cmdclient_buildflags area out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${DPKG_BUILDFLAGS} --get ${area}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE flags
    OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

cmdclient_buildflags(CPPFLAGS cppflags)
cmdclient_buildflags(CXXFLAGS cxxflags)
cmdclient_buildflags(LDFLAGS ldflags)
# PIE is Debian's compiler default, which is why dpkg-buildflags has no flag
# for it; lintian's hardening check on the package confirms it.
add_compile_options(${cppflags} ${cxxflags})
add_link_options(${ldflags})
message(STATUS "Hardening flags: ${cppflags} ${cxxflags} ${ldflags}")
