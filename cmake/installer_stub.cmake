# The installer stub that `korvane release` stamps: KORVANE_STUB_FILE after this file.
# The Windows builds stamp their own korvane.exe. A native build makes a win32 (i686) one on
# the side with mingw-w64, which scripts/install-deps.sh installs; KORVANE_STUB=OFF builds
# none, or takes the one KORVANE_STUB_FILE names (another build's, say); without one the tool
# needs --stub or an installed share/korvane/korvane.exe.
option(KORVANE_STUB "Native builds: make the win32 installer stub with mingw-w64 on the side" ON)
set(KORVANE_STUB_FILE "" CACHE FILEPATH "Native builds with KORVANE_STUB=OFF: a prebuilt win32 korvane.exe")
set(KORVANE_STUB_TARGET "")

if(WIN32)
  set(KORVANE_STUB_FILE "$<TARGET_FILE:korvane_installer>")
  set(KORVANE_STUB_TARGET korvane_installer)
elseif(KORVANE_STUB AND NOT CMAKE_CROSSCOMPILING)
  find_program(KORVANE_MINGW32_CXX i686-w64-mingw32-g++-posix)
  if(NOT KORVANE_MINGW32_CXX)
    message(FATAL_ERROR "i686-w64-mingw32-g++-posix not found: run scripts/install-deps.sh, or configure "
                        "with -DKORVANE_STUB=OFF to build without the installer stub")
  endif()
  include(ExternalProject)
  set(stub_dir "${CMAKE_BINARY_DIR}/stub")
  # Stripped: the symbols would only make every stamped installer larger.
  ExternalProject_Add(korvane_stub
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${stub_dir}"
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
               -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF -DKORVANE_RELEASE=OFF
               -DCMAKE_EXE_LINKER_FLAGS=-s -DKORVANE_RELEASE_SOURCE=${KORVANE_RELEASE_SOURCE}
    BUILD_COMMAND ${CMAKE_COMMAND} --build "${stub_dir}" --target korvane_installer
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${stub_dir}/ui/korvane.exe")
  set(KORVANE_STUB_FILE "${stub_dir}/ui/korvane.exe")
  set(KORVANE_STUB_TARGET korvane_stub)
endif()
