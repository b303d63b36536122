# The hardening Debian builds its packages with (dpkg-buildflags with hardening=+all): a stack protector,
# fortified C library calls, position-independent executables, and relocations read-only and bound at
# start-up. Fortifying needs the optimiser and is left to the sanitizers' builds to do without.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
# Position-independent code lets the loader put another function of the same name in place of any exported
# one, so the compiler inlines none of them into their callers. These libraries are static and linked into
# their programs, where nothing takes a function's place: the read path's small calls are inlined again.
add_compile_options(-fno-semantic-interposition)
if(NOT OV_SANITIZE AND NOT OV_BUILD_FUZZ)
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
