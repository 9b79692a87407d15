# A 32-bit x86 build on an x86-64 host.  Some kernels (and virtual
# machines) have 32-bit emulation switched off and refuse every i386
# program with "Exec format error".  Find out by running a tiny one; where
# the host refuses it, or TOVRIN_FW_EMULATE asks for it, every program of
# the build and of the suite runs under qemu-i386 instead.
#
# Sets TOVRIN_FW_EMULATOR (the command to put before an i386 program,
# empty when it runs natively) and TOVRIN_FW_RUN (what runs the built
# tovrin-fw under its own name: the program itself, or a wrapper script).
option(TOVRIN_FW_EMULATE
	"Run the 32-bit programs under qemu-i386 even where the host runs them"
	OFF)
set(TOVRIN_FW_EMULATOR "")
set(TOVRIN_FW_RUN $<TARGET_FILE:tovrin-fw>)

if(CMAKE_CROSSCOMPILING OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4
	OR NOT CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
	return()
endif()

if(TOVRIN_FW_EMULATE)
	set(why "TOVRIN_FW_EMULATE is ON")
else()
	set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
	file(WRITE ${probe}/probe.cpp "int main() { return 0; }\n")
	try_run(probe_run probe_built ${probe} ${probe}/probe.cpp
		RUN_OUTPUT_VARIABLE probe_output)
	if(NOT probe_built)
		message(FATAL_ERROR "cannot build a 32-bit x86 program: "
			"install g++-multilib")
	endif()
	if("${probe_run}" STREQUAL "0")
		message(STATUS "32-bit programs: run natively "
			"(this host runs i386 programs)")
		return()
	endif()
	set(why "this host refuses i386 programs (32-bit emulation off?)")
endif()

find_program(QEMU_I386 qemu-i386)
if(NOT QEMU_I386)
	message(FATAL_ERROR "32-bit programs must run under qemu-i386, since "
		"${why}, but qemu-i386 was not found: install qemu-user")
endif()
message(STATUS "32-bit programs: run under ${QEMU_I386}, since ${why}")
set(TOVRIN_FW_EMULATOR ${QEMU_I386})

# The program must still call itself tovrin-fw in its messages: qemu's -0
# sets argv[0].
set(TOVRIN_FW_RUN ${CMAKE_BINARY_DIR}/qemu/tovrin-fw)
file(GENERATE OUTPUT ${TOVRIN_FW_RUN} CONTENT "#!/bin/sh
# The 32-bit tovrin-fw of this build, under qemu-i386.
exec ${QEMU_I386} -0 tovrin-fw $<TARGET_FILE:tovrin-fw> \"$@\"
" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
	GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
