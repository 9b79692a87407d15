# `cpack -G DEB` in the build folder makes a Debian package of what
# `cmake --install` installs.
set(CPACK_PACKAGE_NAME tovrin-fw)
set(CPACK_PACKAGE_VERSION ${TOVRIN_FW_VERSION})
set(CPACK_PACKAGE_CONTACT
	"tovrin-fw developers <tovrin-fw-general@lists.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
	"firmware extractor for Conexant AccessRunner ADSL USB modems")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# tovrin-fw-install reads the vendor's packages with libarchive, which it
# loads with dlopen only for a package file, so dpkg-shlibdeps cannot see
# it: recommended, since a folder or the driver itself needs nothing more.
# Its language comes from the C library's gettext.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libarchive13 | libarchive13t64")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description; CPack puts the summary line above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Conexant AccessRunner ADSL USB modems need their firmware loaded by the
host. The vendor ships it only inside the modem's Windows driver,
CnxEtU.sys. tovrin-fw checks the driver's headers, finds the firmware
image in its .data section and writes it to a file of its own, for the
kernel's firmware loader.")
# A 32-bit build makes the i386 package; its dependencies, like the amd64
# package's, come from dpkg-shlibdeps (which needs libc6:i386 installed).
if(CMAKE_SIZEOF_VOID_P EQUAL 4
	AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
	set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()

# Time stamps from the change log, so that two builds of one commit give
# the same package.  Set when cpack runs, unless its caller set them.
set(epoch_file ${CMAKE_CURRENT_BINARY_DIR}/CPackEpoch.cmake)
file(WRITE ${epoch_file} "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH}
	AND NOT \"${TOVRIN_FW_EPOCH}\" STREQUAL \"\")
	set(ENV{SOURCE_DATE_EPOCH} ${TOVRIN_FW_EPOCH})
endif()
")
set(CPACK_PROJECT_CONFIG_FILE ${epoch_file})

# The source tarball holds what git tracks and nothing else: `dist` makes
# it with git archive.  CPack's own package_source cannot know what is
# tracked; it at least leaves out build trees, images and packages.
set(dist tovrin-fw-${CPACK_PACKAGE_VERSION})
if(EXISTS ${PROJECT_SOURCE_DIR}/.git)
	add_custom_target(dist
		COMMAND git -C ${PROJECT_SOURCE_DIR} archive --format=tar.gz
			--prefix=${dist}/ -o ${CMAKE_CURRENT_BINARY_DIR}/${dist}.tar.gz
			HEAD
		COMMENT "Packing ${dist}.tar.gz from the last commit")
else()
	add_custom_target(dist
		COMMAND ${CMAKE_COMMAND} -E echo "dist packs the last commit with git"
			"archive: it needs a git checkout, and this source has no .git"
		COMMAND ${CMAKE_COMMAND} -E false)
endif()
set(CPACK_SOURCE_GENERATOR TGZ)
# (Regular expressions, escaped once more for CPack's configuration file.)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "\\\\.bin$"
	"\\\\.deb$" "\\\\.tar\\\\.gz$")
include(CPack)
