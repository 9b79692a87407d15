# `cpack -G DEB` in the build folder makes a Debian package of what
# `cmake --install` installs.
set(CPACK_PACKAGE_NAME tovrin-fw)
set(CPACK_PACKAGE_VERSION 002)
set(CPACK_PACKAGE_CONTACT
	"tovrin-fw developers <tovrin-fw-general@lists.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
	"firmware extractor for Conexant AccessRunner ADSL USB modems")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description; CPack puts the summary line above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Conexant AccessRunner ADSL USB modems need their firmware loaded by the
host. The vendor ships it only inside the modem's Windows driver,
CnxEtU.sys. tovrin-fw checks the driver's headers, finds the firmware
image in its .data section and writes it to a file of its own, for the
kernel's firmware loader.")
include(CPack)
