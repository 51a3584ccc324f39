# Cross toolchain for the product: 32-bit Windows programs (Windows 9x and NT).
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
