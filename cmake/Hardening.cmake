# The hardening Debian builds its own packages with, for the native programs:
# stack protection, fortified libc calls (these need the optimiser, so not in
# Debug builds) and relocations made read-only once bound at start-up.
# Debian's compilers make position-independent executables already.
if(NOT CMAKE_CROSSCOMPILING AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-fstack-protector-strong $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
