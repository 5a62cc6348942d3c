# The Windows package: a zip holding enn.exe (installed into bin/ with the
# other programs) and the README at its top. The repository has no licence
# file to add yet.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME veltrane)
set(CPACK_PACKAGE_VENDOR Karsholm)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
