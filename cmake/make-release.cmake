# Makes the release VERSION in WORK/artifacts: the source tarball of
# SOURCE's last commit, and, built from that tarball alone, the amd64 and
# i386 packages and the offline page, with SHA256SUMS over the four.  Every
# file depends on the commit alone, so two runs give the same sums.
#
#   cmake -DSOURCE=DIR -DWORK=DIR -DVERSION=V -DGIT=git -DCPACK=cpack
#         -P make-release.cmake
set(name tovrin-fw-${VERSION})
set(out ${WORK}/artifacts)
set(tree ${WORK}/source/${name})

# Runs a command in a folder, and stops the release when it fails.
function(run dir)
	execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${dir}
		COMMAND_ERROR_IS_FATAL ANY)
endfunction()

execute_process(COMMAND ${GIT} status --porcelain --untracked-files=no
	WORKING_DIRECTORY ${SOURCE} OUTPUT_VARIABLE changed
	COMMAND_ERROR_IS_FATAL ANY)
if(changed)
	message(WARNING "uncommitted changes are not in the release: "
		"it is made from the last commit")
endif()

# Nothing of an earlier release is left to be counted in this one.
file(REMOVE_RECURSE ${out} ${WORK}/source ${WORK}/amd64 ${WORK}/i386
	${WORK}/web)
file(MAKE_DIRECTORY ${out} ${WORK}/source)
run(${SOURCE} ${GIT} archive --format=tar.gz --prefix=${name}/
	-o ${out}/${name}.tar.gz HEAD)
run(${WORK}/source ${CMAKE_COMMAND} -E tar xzf ${out}/${name}.tar.gz)

# Each build as its preset makes it, without the suite (the tests try
# the files themselves).
foreach(build default:amd64 m32:i386 web:web)
	string(REPLACE ":" ";" build ${build})
	list(GET build 0 preset)
	list(GET build 1 dir)
	message(STATUS "release: the ${preset} build, in ${WORK}/${dir}")
	run(${tree} ${CMAKE_COMMAND} --preset ${preset} -B ${WORK}/${dir}
		-DBUILD_TESTING=OFF)
	run(${tree} ${CMAKE_COMMAND} --build ${WORK}/${dir})
endforeach()
foreach(arch amd64 i386)
	run(${WORK}/${arch} ${CPACK} -G DEB)
	file(COPY_FILE ${WORK}/${arch}/tovrin-fw_${VERSION}_${arch}.deb
		${out}/tovrin-fw_${VERSION}_${arch}.deb)
endforeach()
file(COPY_FILE ${WORK}/web/tovrin-fw.html ${out}/${name}.html)

# As sha256sum writes them, in the order of the names.
file(GLOB files RELATIVE ${out} ${out}/*)
list(SORT files)
set(sums "")
foreach(file ${files})
	file(SHA256 ${out}/${file} sum)
	string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE ${out}/SHA256SUMS "${sums}")
message(STATUS "release: ${out}\n${sums}")
