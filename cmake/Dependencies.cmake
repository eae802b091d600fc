# Every dependency comes from Debian's archive (scripts/install-deps.sh).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale libavformat)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(SQLITE REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)

# Windows and widgets of the three programs; skins are Designer files loaded at run time.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets UiTools Network Test)

# UDT4 ships neither a pkg-config file nor a CMake package.
find_path(UDT_INCLUDE_DIR udt.h PATH_SUFFIXES udt REQUIRED)
find_library(UDT_LIBRARY udt REQUIRED)
add_library(udt::udt UNKNOWN IMPORTED)
set_target_properties(udt::udt PROPERTIES
  IMPORTED_LOCATION ${UDT_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${UDT_INCLUDE_DIR})

if(VISTARO_TESTS)
  find_package(GTest REQUIRED)
endif()
if(VISTARO_BENCH)
  find_package(benchmark QUIET)
endif()
