# The hardening of Debian's packages for the program that reads mail from anyone:
# stack protector and stack-clash probes, fortified library calls, control-flow
# protection, a position-independent executable with read-only relocations bound
# at start; on Windows, ASLR with 64-bit entropy and no executable data. The
# sanitizer and fuzz builds keep their own instrumentation instead.
option(MAILSIFT_HARDEN "Build with the hardening flags of Debian's packages" ON)

if(MAILSIFT_HARDEN AND NOT MAILSIFT_SANITIZE AND NOT MAILSIFT_FUZZ)
  if(WIN32)
    add_link_options(-Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
  else()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    include(CheckPIESupported)
    check_pie_supported()
    add_compile_options(-fstack-protector-strong -fstack-clash-protection)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86)$")
      add_compile_options(-fcf-protection)
    elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
      add_compile_options(-mbranch-protection=standard)
    endif()
    # Fortified calls need the optimiser, so a Debug build goes without; a value
    # the compiler may define already is replaced, not redefined.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
  endif()
endif()
