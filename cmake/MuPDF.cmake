# SPDX-License-Identifier: AGPL-3.0-or-later
# MuPDF as Debian ships it: static libraries with their third-party dependencies.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FREETYPE2 REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(HARFBUZZ REQUIRED IMPORTED_TARGET harfbuzz)
find_library(MUPDF_LIB mupdf REQUIRED)
find_library(MUPDF_THIRD_LIB mupdf-third REQUIRED)
find_path(MUPDF_INCLUDE_DIR mupdf/fitz.h REQUIRED)

add_library(mupdf::mupdf INTERFACE IMPORTED)
target_include_directories(mupdf::mupdf INTERFACE ${MUPDF_INCLUDE_DIR})
target_link_libraries(mupdf::mupdf INTERFACE
  ${MUPDF_LIB} ${MUPDF_THIRD_LIB} mujs gumbo openjp2 jbig2dec jpeg z m
  PkgConfig::HARFBUZZ PkgConfig::FREETYPE2)
