# cpack -G DEB in a build directory configured for /usr: one package with every component
# (the programs, libtessarn and its development files, the plug-in, synchost and the manual
# pages), so that Tessarn can be tried on a Debian system as it would be installed.
set(CPACK_PACKAGE_NAME tessarn)
set(CPACK_PACKAGE_VENDOR "The Tessarn developers")
set(CPACK_PACKAGE_CONTACT "The Tessarn developers <tessarn@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "files on demand for a desktop sync client")
set(CPACK_PACKAGE_DESCRIPTION "Every file of a synchronised folder can stay on disk as a placeholder, an empty file whose
extended attribute records the remote file it stands for; a FUSE file system mounted over
the folder has the sync client download the content the moment an application opens it.
The package holds the daemon tessarn, the sync client's plug-in, libtessarn with its
development files, tessarn_stat, and synchost, a reference host that plays the sync
client over a local folder.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries come from the programs' own needs; fuse3 brings fusermount3, which the plug-in
# runs and the kernel's auto_unmount needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fuse3)
# The stand-in of the client's library is in the package itself, where no run path of the
# plug-in points.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/${TESSARN_HOST_LIBDIR})
# What building against libtessarn takes beyond the package itself.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nlohmann-json3-dev, pkg-config")
# An administrator's edits of the configuration survive an upgrade, and a purge removes it.
file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "${TESSARN_CONFIG_DIR}/config.json\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
