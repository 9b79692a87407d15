# Where the programs of an x86 build run.  Some x86-64 kernels (and
# virtual machines) have 32-bit emulation switched off and refuse every
# i386 program with "Exec format error": a 32-bit build finds out by
# running a tiny one.  Where the host refuses it, or TOVRIN_FW_EMULATE asks
# for it (on a 64-bit build too), every program of the build and of the
# suite runs under qemu-user instead, whose QEMU_CPU then picks the CPU.
#
# Sets TOVRIN_FW_EMULATOR (the command to put before a program of the
# build, empty when it runs natively) and TOVRIN_FW_RUN (what runs the
# built tovrin-fw under its own name: the program itself, or a wrapper;
# TOVRIN_FW_INSTALL_RUN the same of tovrin-fw-install).
option(TOVRIN_FW_EMULATE
	"Run the programs under qemu-user even where the host runs them"
	OFF)
set(TOVRIN_FW_EMULATOR "")
set(TOVRIN_FW_RUN $<TARGET_FILE:tovrin-fw>)
set(TOVRIN_FW_INSTALL_RUN $<TARGET_FILE:tovrin-fw-install>)
# Whether this host runs the build's programs itself (qemu or not).
set(TOVRIN_FW_HOST_RUNS ON)

if(CMAKE_CROSSCOMPILING
	OR NOT CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
	return()
endif()

math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
set(why "TOVRIN_FW_EMULATE is ON")
if(bits EQUAL 64)
	set(qemu qemu-x86_64)
	if(NOT TOVRIN_FW_EMULATE)
		return()
	endif()
else()
	# Probed under TOVRIN_FW_EMULATE too: what must run as it is (the
	# installer's suite) runs only where the host runs i386 programs.
	set(qemu qemu-i386)
	set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
	file(WRITE ${probe}/probe.cpp "int main() { return 0; }\n")
	try_run(probe_run probe_built ${probe} ${probe}/probe.cpp
		RUN_OUTPUT_VARIABLE probe_output)
	if(NOT probe_built)
		message(FATAL_ERROR "cannot build a 32-bit x86 program: "
			"install g++-multilib")
	endif()
	if(NOT "${probe_run}" STREQUAL "0")
		set(TOVRIN_FW_HOST_RUNS OFF)
	endif()
	if(NOT TOVRIN_FW_EMULATE AND TOVRIN_FW_HOST_RUNS)
		message(STATUS "32-bit programs: run natively "
			"(this host runs i386 programs)")
		return()
	endif()
	if(NOT TOVRIN_FW_EMULATE)
		set(why "this host refuses i386 programs (32-bit emulation off?)")
	endif()
endif()

find_program(QEMU ${qemu})
if(NOT QEMU)
	message(FATAL_ERROR "the programs must run under ${qemu}, since "
		"${why}, but ${qemu} was not found: install qemu-user")
endif()
message(STATUS "${bits}-bit programs: run under ${QEMU}, since ${why}")
set(TOVRIN_FW_EMULATOR ${QEMU})

# The program must still call itself tovrin-fw in its messages: qemu's -0
# sets argv[0].
set(TOVRIN_FW_RUN ${CMAKE_BINARY_DIR}/qemu/tovrin-fw)
file(GENERATE OUTPUT ${TOVRIN_FW_RUN} CONTENT "#!/bin/sh
# The tovrin-fw of this build, under ${qemu}.
exec ${QEMU} -0 tovrin-fw $<TARGET_FILE:tovrin-fw> \"$@\"
" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
	GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(TOVRIN_FW_INSTALL_RUN ${CMAKE_BINARY_DIR}/qemu/tovrin-fw-install)
file(GENERATE OUTPUT ${TOVRIN_FW_INSTALL_RUN} CONTENT "#!/bin/sh
# The tovrin-fw-install of this build, under ${qemu}.
exec ${QEMU} -0 tovrin-fw-install $<TARGET_FILE:tovrin-fw-install> \"$@\"
" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
	GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
