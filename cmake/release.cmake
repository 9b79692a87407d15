# The release preset: `release` makes artifacts/ (cmake/make-release.cmake),
# and the tests try each file there as a person gets it
# (tests/release.sh).  Made from the last commit, so only in a git checkout.
if(NOT EXISTS ${PROJECT_SOURCE_DIR}/.git)
	message(FATAL_ERROR "a release packs the last commit with git: "
		"make it in a git checkout, not in an unpacked tarball")
endif()
find_program(GIT git REQUIRED)

set(artifacts ${PROJECT_BINARY_DIR}/artifacts)
add_custom_target(release ALL
	COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}
		-DWORK=${PROJECT_BINARY_DIR} -DVERSION=${TOVRIN_FW_VERSION}
		-DGIT=${GIT} -DCPACK=${CMAKE_CPACK_COMMAND}
		-P ${PROJECT_SOURCE_DIR}/cmake/make-release.cmake
	USES_TERMINAL
	COMMENT "Making the release ${TOVRIN_FW_VERSION} in ${artifacts}")

enable_testing()
set(check sh ${PROJECT_SOURCE_DIR}/tests/release.sh)
set(env "ARTIFACTS=${artifacts};VERSION=${TOVRIN_FW_VERSION}"
	"EXAMPLES=${PROJECT_SOURCE_DIR}/examples"
	"README=${PROJECT_SOURCE_DIR}/README.md"
	"PAGE_TEST=${PROJECT_SOURCE_DIR}/tests/page.test.mjs"
	"NODE_MODULES=${PROJECT_BINARY_DIR}/web/web/npm/node_modules"
	"INPUTS=${PROJECT_BINARY_DIR}/page-inputs")
add_test(NAME release-sums COMMAND ${check} sums)
add_test(NAME release-tarball COMMAND ${check} tarball)
set(tests release-sums release-tarball)
foreach(suite bookworm trixie)
	foreach(arch amd64 i386)
		add_test(NAME release-deb-${suite}-${arch}
			COMMAND ${check} deb ${suite} ${arch})
		list(APPEND tests release-deb-${suite}-${arch})
	endforeach()
endforeach()
# The source package, built as Debian builds it, in fresh roots.
foreach(suite bookworm trixie)
	add_test(NAME release-source-${suite} COMMAND ${check} source ${suite})
	list(APPEND tests release-source-${suite})
endforeach()
foreach(engine chromium firefox webkit)
	add_test(NAME release-page-${engine} COMMAND ${check} page ${engine})
	list(APPEND tests release-page-${engine})
endforeach()
set_tests_properties(${tests} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 900)
set_tests_properties(release-source-bookworm release-source-trixie
	PROPERTIES TIMEOUT 1800)
set_tests_properties(release-page-chromium release-page-firefox
	release-page-webkit PROPERTIES RESOURCE_LOCK page-inputs)
# The i386 roots may run under qemu, registered with binfmt_misc for as
# long as one test runs: two at once would take it from each other.
set_tests_properties(release-deb-bookworm-i386 release-deb-trixie-i386
	PROPERTIES RESOURCE_LOCK binfmt-i386)
