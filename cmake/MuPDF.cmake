# SPDX-License-Identifier: AGPL-3.0-or-later
# MuPDF as Debian ships it: static libraries with their third-party dependencies.
# mupdf::static links them; only the image library does. mupdf::mupdf is what
# other code (the sample writer, tests, benchmarks) links: with the shared image
# library it finds MuPDF there, so that no program carries a second copy.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FREETYPE2 REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(HARFBUZZ REQUIRED IMPORTED_TARGET harfbuzz)
find_library(MUPDF_LIB mupdf REQUIRED)
find_library(MUPDF_THIRD_LIB mupdf-third REQUIRED)
find_path(MUPDF_INCLUDE_DIR mupdf/fitz.h REQUIRED)

add_library(mupdf::static INTERFACE IMPORTED)
target_include_directories(mupdf::static INTERFACE ${MUPDF_INCLUDE_DIR})
target_link_libraries(mupdf::static INTERFACE
  ${MUPDF_LIB} ${MUPDF_THIRD_LIB} mujs gumbo openjp2 jbig2dec jpeg z m
  PkgConfig::HARFBUZZ PkgConfig::FREETYPE2)

add_library(mupdf::mupdf INTERFACE IMPORTED)
target_include_directories(mupdf::mupdf INTERFACE ${MUPDF_INCLUDE_DIR})
if(ORMAVIEW_SHARED_IMAGE)
  target_link_libraries(mupdf::mupdf INTERFACE ormaview_image)
else()
  target_link_libraries(mupdf::mupdf INTERFACE mupdf::static)
endif()

# The MuPDF calls of the sample writer, the tests and the benchmarks that the
# image library does not make itself: the shared library must carry them too.
set(ORMAVIEW_MUPDF_EXPORTS)
foreach(_sym fz_register_document_handlers)
  list(APPEND ORMAVIEW_MUPDF_EXPORTS -Wl,--require-defined=${_sym})
endforeach()
