# Third-party packages, all from Debian (see scripts/deps.sh).
find_package(Threads REQUIRED)
find_package(Qt6 6.4 REQUIRED COMPONENTS Core)
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Network DBus)
# Only the browser module links these (src/gui/CMakeLists.txt).
find_package(Qt6 6.4 REQUIRED COMPONENTS WebEngineWidgets QuickWidgets PrintSupport)
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
endif()
if(DM_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
find_package(pugixml REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
# Other programs' windows and keystrokes (X11 with XTest), their menus (the accessibility bus).
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11 xtst)
pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2 gobject-2.0)

# cpp-httplib as Debian builds it (OpenSSL, zlib and brotli compiled in).
add_library(dm_httplib INTERFACE)
target_link_libraries(dm_httplib INTERFACE PkgConfig::HTTPLIB OpenSSL::SSL OpenSSL::Crypto Threads::Threads)

set(CMAKE_AUTOMOC ON)
