# Finds every outside dependency before any target is defined, so that a
# machine missing one stops at configuration with one line per missing piece
# naming the Debian package that provides it, instead of a compile error
# half-way through the build.  tools/deps.sh installs the same list.

set(AZ_MISSING_PACKAGES)
set(AZ_MISSING_LINES "")

# Records a missing piece: what is missing and the package that brings it.
function(az_missing what package)
  set(AZ_MISSING_LINES "${AZ_MISSING_LINES}  missing ${what}: Debian package ${package}\n" PARENT_SCOPE)
  set(AZ_MISSING_PACKAGES ${AZ_MISSING_PACKAGES} ${package} PARENT_SCOPE)
endfunction()

find_package(Threads REQUIRED)
find_package(PkgConfig QUIET)
if(NOT PKG_CONFIG_FOUND)
  az_missing("pkg-config" pkg-config)
else()
  pkg_check_modules(OSMESA QUIET IMPORTED_TARGET osmesa)
  pkg_check_modules(GLFW3 QUIET IMPORTED_TARGET glfw3)
  pkg_check_modules(X11 QUIET IMPORTED_TARGET x11)
  pkg_check_modules(XRANDR QUIET xrandr)
  if(NOT OSMESA_FOUND)
    az_missing("OSMesa (headless OpenGL)" libosmesa6-dev)
  endif()
  if(NOT GLFW3_FOUND)
    az_missing("GLFW 3 (the interactive host's window)" libglfw3-dev)
  endif()
  if(NOT X11_FOUND)
    az_missing("Xlib" libx11-dev)
  endif()
  # GLFW's native header includes the Xrandr header without depending on it.
  if(NOT XRANDR_FOUND)
    az_missing("the Xrandr header X11/extensions/Xrandr.h" libxrandr-dev)
  endif()
  # Exports compress with libdeflate: several times zlib's speed at the same size.
  pkg_check_modules(DEFLATE QUIET IMPORTED_TARGET libdeflate)
  if(NOT DEFLATE_FOUND)
    az_missing("libdeflate (fast gzip compression of exports)" libdeflate-dev)
  endif()
endif()

find_package(Freetype QUIET)
if(NOT FREETYPE_FOUND)
  az_missing("FreeType" libfreetype-dev)
endif()
find_package(PNG QUIET)
if(NOT PNG_FOUND)
  az_missing("libpng" libpng-dev)
endif()
find_package(ZLIB QUIET)
if(NOT ZLIB_FOUND)
  az_missing("zlib" zlib1g-dev)
endif()

# The toolkit's text is drawn with Liberation Sans (Arial's metrics).
find_file(AZ_FONT_FILE LiberationSans-Regular.ttf PATHS ${CMAKE_SYSTEM_PREFIX_PATH}
  PATH_SUFFIXES share/fonts/truetype/liberation share/fonts/truetype/liberation2 NO_DEFAULT_PATH)
if(NOT AZ_FONT_FILE)
  az_missing("the font LiberationSans-Regular.ttf" fonts-liberation)
endif()

# GDCM's package configuration aborts when its tool programs are absent, so
# the tools are looked for first.
find_program(AZ_GDCMDUMP gdcmdump)
find_file(AZ_GDCM_CONFIG GDCMConfig.cmake PATHS ${CMAKE_SYSTEM_PREFIX_PATH}
  PATH_SUFFIXES lib/${CMAKE_LIBRARY_ARCHITECTURE}/gdcm-3.0 lib/${CMAKE_LIBRARY_ARCHITECTURE}/cmake/gdcm-3.0
  lib/gdcm-3.0 lib/cmake/gdcm-3.0)
if(NOT AZ_GDCM_CONFIG)
  az_missing("GDCM (DICOM)" libgdcm-dev)
elseif(NOT AZ_GDCMDUMP)
  az_missing("GDCM's tools, which its package configuration requires" libgdcm-tools)
else()
  find_package(GDCM REQUIRED)
  # GDCM's VTK bridge is not used: skip its search (and its warnings).
  set(GDCM_SKIP_USE_VTK ON)
endif()

# Debian's NIfTI package configuration points at a library that does not
# exist, so the library and headers are found directly.
find_library(NIFTI2_LIB nifti2)
find_library(ZNZ_LIB znz)
find_path(NIFTI2_INCLUDE_DIR nifti2_io.h PATH_SUFFIXES nifti)
if(NOT NIFTI2_LIB OR NOT ZNZ_LIB OR NOT NIFTI2_INCLUDE_DIR)
  az_missing("the NIfTI-1/2 library" libnifti2-dev)
endif()

if(AZ_TESTS)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    az_missing("GoogleTest" libgtest-dev)
  endif()
endif()
if(AZ_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    az_missing("Google Benchmark" libbenchmark-dev)
  endif()
endif()

if(AZ_MISSING_PACKAGES)
  list(REMOVE_DUPLICATES AZ_MISSING_PACKAGES)
  list(JOIN AZ_MISSING_PACKAGES " " az_list)
  message(FATAL_ERROR "This machine lacks what the build needs:\n${AZ_MISSING_LINES}"
    "Install them as root with: apt-get install ${az_list}  (tools/deps.sh installs everything)")
endif()
