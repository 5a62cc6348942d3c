# What the Windows resources and deliveries take from the build, written
# into the build folder at configure time:
#   generated/windows_product.h         publisher and copyright for the version resources
#   generated/app/veltrane.exe.manifest the manifests, with the project's version
#   generated/cli/enn.exe.manifest
#   windows/delivery.env                 for tools/windows/package.sh: the version,
#                                        publisher, web page, support contact, the
#                                        verb's label and the built files
# tools/windows/package.sh builds the installer and the bank's kit from them.

# The publisher named in the version resources and the uninstall entry.
set(VELTRANE_PUBLISHER Karsholm)
# Whom the uninstall entry names for support. A bank building its own
# release sets these when configuring (-DVELTRANE_SUPPORT_URL=... and so on,
# or as arguments of tools/windows/build.sh); by default the web page and
# the maintainer of debian/control, and no telephone.
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/control maintainer REGEX "^Maintainer: ")
string(REGEX REPLACE "^Maintainer: " "" maintainer "${maintainer}")
set(VELTRANE_SUPPORT_URL "${VELTRANE_HOMEPAGE}" CACHE STRING "The uninstall entry's support link")
set(VELTRANE_SUPPORT_CONTACT "${maintainer}" CACHE STRING "The uninstall entry's support contact")
set(VELTRANE_SUPPORT_TELEPHONE "" CACHE STRING "The uninstall entry's support telephone")
# The licence's copyright line is the programs' LegalCopyright.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE copyright_line REGEX "^Copyright " LIMIT_COUNT 1)
if(NOT copyright_line)
  message(FATAL_ERROR "LICENSE has no copyright line")
endif()
set(VELTRANE_COPYRIGHT "${copyright_line}")

file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/windows_product.h @ONLY CONTENT
"// Generated from cmake/windows_package.cmake: who publishes the programs.
#ifndef VELTRANE_WINDOWS_PRODUCT_H
#define VELTRANE_WINDOWS_PRODUCT_H
#define VELTRANE_PUBLISHER \"@VELTRANE_PUBLISHER@\"
#define VELTRANE_COPYRIGHT \"@VELTRANE_COPYRIGHT@\"
#endif
")

# A manifest's assemblyIdentity takes four numbers.
set(VELTRANE_MANIFEST_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
configure_file(${PROJECT_SOURCE_DIR}/app/veltrane.manifest
               ${PROJECT_BINARY_DIR}/generated/app/veltrane.exe.manifest @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cli/enn.manifest
               ${PROJECT_BINARY_DIR}/generated/cli/enn.exe.manifest @ONLY)

file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/windows/delivery.env CONTENT
"# Generated from cmake/windows_package.cmake for tools/windows/package.sh.
version='${PROJECT_VERSION}'
publisher='${VELTRANE_PUBLISHER}'
homepage='${VELTRANE_HOMEPAGE}'
support_url='${VELTRANE_SUPPORT_URL}'
support_contact='${VELTRANE_SUPPORT_CONTACT}'
support_telephone='${VELTRANE_SUPPORT_TELEPHONE}'
verb='${VELTRANE_VERB_LABEL}'
veltrane_exe='$<TARGET_FILE:veltrane>'
enn_exe='$<TARGET_FILE:enn>'
enn_dll='$<TARGET_FILE:enn_library>'
enn_import_lib='$<TARGET_LINKER_FILE:enn_library>'
enn_def='${PROJECT_BINARY_DIR}/codec/enn.def'
")
