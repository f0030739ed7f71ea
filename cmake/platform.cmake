# Compiler options and the platform checks.  Everything that differs between
# FreeBSD and Linux is decided here and in src/platform/, nowhere else.

include(CheckSymbolExists)
include(CheckIncludeFileCXX)
include(CheckStructHasMember)

add_library(corvid_options INTERFACE)
target_compile_options(corvid_options INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(corvid_options INTERFACE _GNU_SOURCE)

set(CMAKE_REQUIRED_DEFINITIONS -D_GNU_SOURCE -D_DEFAULT_SOURCE)
check_symbol_exists(strtonum "stdlib.h" HAVE_STRTONUM)
check_symbol_exists(strlcpy "string.h" HAVE_STRLCPY)
check_symbol_exists(explicit_bzero "string.h;strings.h" HAVE_EXPLICIT_BZERO)
check_include_file_cxx(sys/sbuf.h HAVE_SYS_SBUF_H)
check_include_file_cxx(sys/event.h HAVE_SYS_EVENT_H)
check_include_file_cxx(sys/epoll.h HAVE_SYS_EPOLL_H)
check_include_file_cxx(netinet/ether.h HAVE_NETINET_ETHER_H)
check_struct_has_member("struct sockaddr_un" sun_len "sys/un.h" HAVE_SUN_LEN LANGUAGE CXX)
unset(CMAKE_REQUIRED_DEFINITIONS)

foreach(have HAVE_STRTONUM HAVE_STRLCPY HAVE_EXPLICIT_BZERO HAVE_SYS_SBUF_H
             HAVE_SYS_EVENT_H HAVE_SYS_EPOLL_H HAVE_NETINET_ETHER_H HAVE_SUN_LEN)
  if(${have})
    target_compile_definitions(corvid_options INTERFACE ${have}=1)
  endif()
endforeach()

if(NOT HAVE_SYS_EVENT_H AND NOT HAVE_SYS_EPOLL_H)
  message(FATAL_ERROR "corvid needs kqueue (FreeBSD) or epoll (Linux)")
endif()
