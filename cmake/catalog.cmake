# Checks the translations of one program's messages, and compiles them:
# the messages that SOURCES (in xgettext's LANGUAGE, or each in its own
# where it is "", marked by the
# functions in KEYWORDS) hold go to POT; each language of PO_DIR/LINGUAS
# is taken from PO_DIR/LANG.po, merged with POT into MERGED/LANG.po (its
# messages alone), and compiled to OUT/LANG/LC_MESSAGES/DOMAIN.mo.  A
# message not translated, or a translation whose placeholders differ
# from the English, fails.  A source named in ALIAS (made by the build)
# is named by where its texts come from, ALIAS_OF.  With HELP_PAGE, each
# line of a message of several lines (the help's paragraphs) must fit in
# 80 columns, in every language, once its %s is HELP_PAGE.
#
#   cmake -DXGETTEXT=... -DMSGMERGE=... -DMSGFMT=... -DMSGCMP=...
#     -DLANGUAGE=Shell "-DKEYWORDS=say die _" -DSOURCES=... -DPOT=...
#     -DPO_DIR=... -DMERGED=... -DOUT=... -DDOMAIN=tovrin-fw
#     [-DALIAS=... -DALIAS_OF=...] [-DHELP_PAGE=...] -P catalog.cmake
#
# With -DUPDATE=ON, it only writes POT, for the translators' template.
set(args)
string(REPLACE " " ";" KEYWORDS "${KEYWORDS}")
foreach(keyword ${KEYWORDS})
	list(APPEND args --keyword=${keyword})
endforeach()
# Without LANGUAGE, each source's is told by its name.
if(LANGUAGE)
	list(APPEND args --language=${LANGUAGE})
endif()
execute_process(COMMAND ${XGETTEXT} --keyword
		${args} --from-code=UTF-8 --add-comments=TRANSLATORS: --no-wrap
		--package-name=tovrin-fw --msgid-bugs-address=tovrin-fw-general@lists.example.org
		--omit-header -o ${POT}.in ${SOURCES}
	RESULT_VARIABLE failed ERROR_VARIABLE said)
# A warning is a message misread, or lost: xgettext reads JavaScript's
# a << b as the start of E4X markup, for one.
if(failed OR said)
	message(FATAL_ERROR "xgettext misread ${SOURCES}:\n${said}")
endif()
# Every message is a printf format, whichever program prints it, so that
# msgfmt checks each translation's placeholders against the English.
file(READ ${POT}.in pot)
if(ALIAS)
	string(REPLACE "#: ${ALIAS}:" "#: ${ALIAS_OF}:" pot "${pot}")
endif()
string(REGEX REPLACE "\n#, [^\n]*" "" pot "${pot}")
string(REGEX REPLACE "(^|\n)msgid " "\\1#, c-format\nmsgid " pot "${pot}")
file(WRITE ${POT} "msgid \"\"
msgstr \"\"
\"Content-Type: text/plain; charset=UTF-8\\n\"

${pot}")
file(REMOVE ${POT}.in)
if(UPDATE)
	return()
endif()

# fits(FILE FIELD): each line of each FIELD (msgid or msgstr) in FILE whose
# message spans several lines, counted in characters, within 80 columns
# once %s is HELP_PAGE; else the build fails, naming the line.
function(fits file field)
	file(READ ${file} text)
	# Less the header, the first entry.
	string(FIND "${text}" "\n\n" header)
	string(SUBSTRING "${text}" ${header} -1 text)
	# No list may split a message: a ; counts as one column too.
	string(REPLACE ";" "," text "${text}")
	# A translation of several lines translates a message of several.
	string(REGEX MATCHALL "\n${field} \"\"\n(\"[^\n]*\"\n)+" entries "${text}")
	foreach(entry ${entries})
		string(REGEX REPLACE "^\n${field} \"\"\n" "" entry "${entry}")
		string(REGEX REPLACE "\"\n\"|^\"|\"\n$" "" entry "${entry}")
		string(REPLACE "\\\"" "\"" entry "${entry}")
		string(REPLACE "%s" "${HELP_PAGE}" entry "${entry}")
		string(REPLACE "\\n" ";" lines "${entry}")
		foreach(line ${lines})
			# Its characters: its bytes less UTF-8's continuation bytes.
			string(HEX "${line}" hex)
			string(REGEX MATCHALL ".." bytes "${hex}")
			list(FILTER bytes EXCLUDE REGEX "^[89ab]")
			list(LENGTH bytes columns)
			if(columns GREATER 80)
				message(FATAL_ERROR "${file}: the help's line is ${columns} "
					"columns, more than 80: ${line}")
			endif()
		endforeach()
	endforeach()
endfunction()
if(HELP_PAGE)
	fits(${POT} msgid)
endif()

file(STRINGS ${PO_DIR}/LINGUAS linguas REGEX "^[^#]")
string(REGEX MATCHALL "[^ \t]+" linguas "${linguas}")
foreach(lang ${linguas})
	set(po ${MERGED}/${lang}.po)
	set(mo ${OUT}/${lang}/LC_MESSAGES/${DOMAIN}.mo)
	file(MAKE_DIRECTORY ${MERGED} ${OUT}/${lang}/LC_MESSAGES)
	execute_process(COMMAND ${MSGMERGE} --quiet --no-fuzzy-matching --no-wrap
			-o ${po} ${PO_DIR}/${lang}.po ${POT}
		RESULT_VARIABLE failed)
	if(NOT failed)
		execute_process(COMMAND ${MSGCMP} ${po} ${POT} RESULT_VARIABLE failed)
	endif()
	if(NOT failed)
		execute_process(COMMAND ${MSGFMT} --check -o ${mo} ${po}
			RESULT_VARIABLE failed)
	endif()
	# dash's printf, which the installer's messages go through, fills
	# %s in order and knows no %1$s.
	file(STRINGS ${po} reordered REGEX "%[0-9]+\\$")
	if(failed OR reordered)
		message(FATAL_ERROR "${PO_DIR}/${lang}.po: a message of ${SOURCES} "
			"is missing, or its placeholders differ from the English "
			"(keep each %s, in its order)")
	endif()
	if(HELP_PAGE)
		fits(${po} msgstr)
	endif()
endforeach()
