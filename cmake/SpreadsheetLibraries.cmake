# The workbook's libraries: libxlsxwriter writes the objects' .xlsx, minizip
# (on zlib) reads one back. The Linux build takes them from Debian's packages
# (scripts/deps.sh); the Windows build from TARVIL_WIN_LIBS, where
# scripts/windows-libs.sh builds them once from Debian's source packages, and
# zlib from Debian's MinGW package.
set(TARVIL_WIN_LIBS "" CACHE PATH "libxlsxwriter and minizip built for Windows (scripts/windows-libs.sh)")
if(TARVIL_WIN_LIBS)
    # The cross toolchain searches its own root only.
    list(APPEND CMAKE_FIND_ROOT_PATH ${TARVIL_WIN_LIBS})
endif()

find_path(TARVIL_XLSXWRITER_INCLUDE xlsxwriter.h)
find_library(TARVIL_XLSXWRITER_LIBRARY NAMES xlsxwriter)
find_path(TARVIL_MINIZIP_INCLUDE unzip.h PATH_SUFFIXES minizip)
find_library(TARVIL_MINIZIP_LIBRARY NAMES minizip)
find_package(ZLIB)
if(NOT TARVIL_XLSXWRITER_INCLUDE OR NOT TARVIL_XLSXWRITER_LIBRARY OR NOT TARVIL_MINIZIP_INCLUDE
   OR NOT TARVIL_MINIZIP_LIBRARY OR NOT ZLIB_FOUND)
    message(FATAL_ERROR "libxlsxwriter, minizip and zlib are needed: on Debian and Ubuntu the packages "
                        "libxlsxwriter-dev and libminizip-dev (scripts/deps.sh installs them); for Windows "
                        "TARVIL_WIN_LIBS from scripts/windows-libs.sh")
endif()

add_library(tarvil_spreadsheet_libs INTERFACE)
target_include_directories(tarvil_spreadsheet_libs SYSTEM INTERFACE ${TARVIL_XLSXWRITER_INCLUDE}
                           ${TARVIL_MINIZIP_INCLUDE})
# In this order: a static libxlsxwriter needs minizip, and both need zlib.
target_link_libraries(tarvil_spreadsheet_libs INTERFACE ${TARVIL_XLSXWRITER_LIBRARY} ${TARVIL_MINIZIP_LIBRARY}
                      ZLIB::ZLIB)
