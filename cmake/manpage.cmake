# Writes the manual page, gzipped as Debian wants it: help2man builds it
# from the program's own --help and --version output, adds the sections
# of INCLUDE, and the description's lines are kept on lines of their own.
# Called with -DHELP2MAN= -DPROGRAM= -DWHAT= (the one-line description)
# -DINCLUDE= -DOUTPUT= (without .gz), and -DEPOCH= for the page's date.
if(EPOCH)
	set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
endif()

# help2man only says it "can't get `--help' info" when the program does
# not run at all: say why first.
execute_process(COMMAND ${PROGRAM} --version
	RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE why)
if(NOT status EQUAL 0)
	string(STRIP "${why}" why)
	message(FATAL_ERROR "cannot make the manual page: it is made from the "
		"built program's --help, but ${PROGRAM} does not run on this "
		"host (${status}) ${why}\n"
		"Configure with -DTOVRIN_FW_MANPAGE=OFF to build without it.")
endif()

execute_process(
	COMMAND ${HELP2MAN} --no-info --section=1
		"--name=${WHAT}"
		--include=${INCLUDE} --output=${OUTPUT} ${PROGRAM}
	COMMAND_ERROR_IS_FATAL ANY)
file(READ ${OUTPUT} page)
string(REPLACE "\nINFILE \\-" "\n.br\nINFILE \\-" page "${page}")
string(REPLACE "\nOUTFILE \\-" "\n.br\nOUTFILE \\-" page "${page}")
# argp's option list has no heading, so help2man leaves it inside
# DESCRIPTION: move it to an OPTIONS section behind the description.
string(FIND "${page}" "\n.TP\n\\-?," options)
if(NOT options EQUAL -1)
	string(SUBSTRING "${page}" 0 ${options} head)
	string(SUBSTRING "${page}" ${options} -1 rest)
	string(FIND "${rest}" "\n.PP\n" text)
	string(SUBSTRING "${rest}" 0 ${text} options)
	string(SUBSTRING "${rest}" ${text} -1 rest)
	string(FIND "${rest}" "\n.SH " next)
	string(SUBSTRING "${rest}" 0 ${next} description)
	string(SUBSTRING "${rest}" ${next} -1 rest)
	set(page "${head}${description}\n.SH OPTIONS${options}${rest}")
endif()
file(WRITE ${OUTPUT} "${page}")
execute_process(COMMAND gzip -9nf ${OUTPUT} COMMAND_ERROR_IS_FATAL ANY)
