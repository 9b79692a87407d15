# The translations in po/, one file a language for both the installer and
# the page: checked and compiled with gettext's tools on every build.
find_program(XGETTEXT xgettext REQUIRED DOC "gettext, for the translations")
find_program(MSGMERGE msgmerge REQUIRED)
find_program(MSGFMT msgfmt REQUIRED)
find_program(MSGCMP msgcmp REQUIRED)
find_program(MSGCAT msgcat REQUIRED)
file(STRINGS ${PROJECT_SOURCE_DIR}/po/LINGUAS TOVRIN_FW_LINGUAS REGEX "^[^#]")
string(REGEX MATCHALL "[^ \t]+" TOVRIN_FW_LINGUAS "${TOVRIN_FW_LINGUAS}")

# tovrin_fw_catalog(TARGET LANGUAGE KEYWORDS ("a b:1,2") OUT MERGED SOURCE... [ALIAS
# FILE OF] [HELP PAGE]): the messages of the SOURCEs (paths in the source
# tree, or FILE, made by the build from OF), each language's checked,
# merged into MERGED/LANG.po and compiled under OUT.  With HELP, the help's
# lines must fit in 80 columns once the page's name PAGE fills them.
function(tovrin_fw_catalog target language keywords out merged)
	cmake_parse_arguments(PARSE_ARGV 5 arg "" "HELP" "ALIAS")
	set(pot ${CMAKE_CURRENT_BINARY_DIR}/${target}.pot)
	set(outputs ${pot})
	set(pos)
	foreach(lang ${TOVRIN_FW_LINGUAS})
		list(APPEND outputs ${merged}/${lang}.po
			${out}/${lang}/LC_MESSAGES/tovrin-fw.mo)
		list(APPEND pos ${PROJECT_SOURCE_DIR}/po/${lang}.po)
	endforeach()
	set(alias)
	set(alias_of)
	if(arg_ALIAS)
		list(GET arg_ALIAS 0 alias)
		list(GET arg_ALIAS 1 alias_of)
	endif()
	set(sources ${arg_UNPARSED_ARGUMENTS} ${alias})
	set(depends)
	foreach(source ${sources})
		cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
		list(APPEND depends ${source})
	endforeach()
	add_custom_command(OUTPUT ${outputs}
		COMMAND ${CMAKE_COMMAND} -DXGETTEXT=${XGETTEXT} -DMSGMERGE=${MSGMERGE}
			-DMSGFMT=${MSGFMT} -DMSGCMP=${MSGCMP} -DLANGUAGE=${language}
			"-DKEYWORDS=${keywords}" "-DSOURCES=${sources}"
			-DPOT=${pot} -DPO_DIR=${PROJECT_SOURCE_DIR}/po -DMERGED=${merged}
			-DOUT=${out} -DDOMAIN=tovrin-fw -DALIAS=${alias}
			-DALIAS_OF=${alias_of} -DHELP_PAGE=${arg_HELP}
			-P ${PROJECT_SOURCE_DIR}/cmake/catalog.cmake
		DEPENDS ${depends} ${pos}
			${PROJECT_SOURCE_DIR}/po/LINGUAS
			${PROJECT_SOURCE_DIR}/cmake/catalog.cmake
		WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
		COMMENT "Checking and compiling the translations of ${target}"
		VERBATIM)
	add_custom_target(${target} ALL DEPENDS ${outputs})
	# The same messages, unchecked, for update-po.
	set(TOVRIN_FW_TEMPLATES ${TOVRIN_FW_TEMPLATES} ${pot}.update PARENT_SCOPE)
	add_custom_command(OUTPUT ${pot}.update
		COMMAND ${CMAKE_COMMAND} -DUPDATE=ON -DXGETTEXT=${XGETTEXT}
			-DLANGUAGE=${language} "-DKEYWORDS=${keywords}"
			"-DSOURCES=${sources}" -DPOT=${pot}.update -DALIAS=${alias}
			-DALIAS_OF=${alias_of} -P ${PROJECT_SOURCE_DIR}/cmake/catalog.cmake
		DEPENDS ${depends} ${PROJECT_SOURCE_DIR}/cmake/catalog.cmake
		WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
		VERBATIM)
	add_custom_target(${target}-template DEPENDS ${pot}.update)
endfunction()
