# SPDX-License-Identifier: Apache-2.0
# The Debian packages, one per use, built by `make package` (cpack -G DEB) from the install components:
#   tarn           programs      the command line, the desktop program, its menu entry and icon
#   libtarn2       runtime       the shared libraries
#   libtarn-dev    development   headers, the CMake package, the libraries' link names
#   python3-tarn   python        the Python module
#   tarn-doc       documentation the user manual (Markdown and HTML, with pictures) and the SDK folder
# The binaries are stripped; their debug information goes to <package>-dbgsym_*.ddeb beside them. Versions
# come from the project's; the libraries each package needs from dpkg-shlibdeps.

set(TARN_DEB_VERSION ${PROJECT_VERSION})
# Who answers for the packages: set it where they are published (-DTARN_PACKAGE_CONTACT=...).
set(TARN_PACKAGE_CONTACT "Tarn developers <developers@tarn.example>" CACHE STRING
  "Maintainer of the Debian packages: name <address>")
set(TARN_DEB_COMPONENTS runtime development documentation)
if(TARN_BUILD_TOOLS OR TARN_BUILD_APP)
  list(APPEND TARN_DEB_COMPONENTS programs)
endif()
if(TARN_BUILD_PYTHON)
  list(APPEND TARN_DEB_COMPONENTS python)
endif()

set(package_of_runtime libtarn2)
set(package_of_development libtarn-dev)
set(package_of_documentation tarn-doc)
set(package_of_programs tarn)
set(package_of_python python3-tarn)

# Every package carries the licence and the third-party notices, and the changelog, where Debian keeps a
# package's (/usr/share/doc/<package>).
configure_file(packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
execute_process(COMMAND gzip -9nfk ${PROJECT_BINARY_DIR}/packaging/changelog RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip could not compress the package's changelog")
endif()
foreach(component ${TARN_DEB_COMPONENTS})
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${package_of_${component}})
  install(FILES packaging/copyright DESTINATION ${doc_dir} COMPONENT ${component})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc_dir} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarn)
set(CPACK_PACKAGE_VENDOR "Tarn")
set(CPACK_PACKAGE_CONTACT "${TARN_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${TARN_DEB_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL ${TARN_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# The libraries' dependencies from dpkg-shlibdeps; the project's own libraries are found in the build tree and
# named by the packages below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libtarn2 tells dpkg-shlibdeps which package holds its libraries (shlibs), and has the linker's cache
# refreshed by a trigger when it is installed or removed.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  "${PROJECT_BINARY_DIR}/Modules/Common;${PROJECT_BINARY_DIR}/Modules/Calibration;${PROJECT_BINARY_DIR}/handeye")
set(same_version "(= ${TARN_DEB_VERSION})")

# libtarn2
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarn2)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DEBUGINFO_PACKAGE ON)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/runtime/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/runtime/triggers)
# The image codecs are loaded when an image is first read, not linked: dpkg-shlibdeps cannot see them.
get_target_property(codecs_soname opencv_imgcodecs IMPORTED_SONAME_RELEASE)
string(REGEX REPLACE "^lib(.*)\\.so\\.(.*)$" "lib\\1\\2" codecs_package "${codecs_soname}")
string(REPLACE "_" "-" codecs_package "${codecs_package}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${codecs_package}")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "hand-eye calibration of 3D cameras on robots - shared libraries
The libraries behind Tarn: marker detection in a 3D camera's shots, the
robots' pose conventions, the hand-eye solve with its per-pose residuals and
report.")

# libtarn-dev
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtarn-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# What the installed CMake package looks for (find_package(Tarn)): fmt, Eigen and OpenCV's core.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libtarn2 ${same_version}, libeigen3-dev, libfmt-dev, libopencv-dev")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "hand-eye calibration of 3D cameras on robots - development files
Headers, the CMake package (find_package(Tarn)) and link names for building
programs on the Tarn calibration library.")

# tarn
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME tarn)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PROGRAMS_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "libtarn2 ${same_version}")
# The desktop program's texts are Chinese: a font that has them, and Qt's own dialogs in Chinese.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS "fonts-wqy-microhei, qttranslations5-l10n, tarn-doc")
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "hand-eye calibration of 3D cameras on industrial robots
From a concentric-circle marker found in every shot of a 3D camera and the
robot's flange poses in its controller's own convention, Tarn solves the
camera's transform and the marker's position, drops outlying poses on
request and shows per-pose residuals. This package holds the command line
(tarn) and the desktop program (tarn_studio).")

# python3-tarn
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tarn)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libtarn2 ${same_version}, python3, python3-numpy")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "hand-eye calibration of 3D cameras on robots - Python module
The Tarn calibration from Python (import tarn): detection, the solve and its
report, with NumPy arrays.")

# tarn-doc
set(CPACK_DEBIAN_DOCUMENTATION_PACKAGE_NAME tarn-doc)
set(CPACK_DEBIAN_DOCUMENTATION_PACKAGE_SECTION doc)
set(CPACK_DEBIAN_DOCUMENTATION_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DOCUMENTATION_DESCRIPTION "hand-eye calibration of 3D cameras on robots - manual and SDK examples
The user manual in Chinese and English (HTML and Markdown, with the desktop
program's pictures) and the SDK folder the desktop program opens: the
headers and examples in C++ and Python.")

include(CPack)
