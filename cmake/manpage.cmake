# Writes the manual page lineweft.1 from the command's own help texts, so the
# page says what `lineweft --help` and `lineweft COMMAND --help` say.
#   cmake -DLINEWEFT=path/to/lineweft -DVERSION=x.y.z -DOUTPUT=lineweft.1 -P manpage.cmake
foreach(variable LINEWEFT VERSION OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "manpage.cmake needs -D${variable}=...")
  endif()
endforeach()

# The help names the settings file under the home folder: ask with a home of
# "~" so the page names no builder's folder.
function(help_of out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=XDG_CONFIG_HOME --unset=LINEWEFT_CONFIG_DIR HOME=~
            ${LINEWEFT} ${ARGN} --help
    OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lineweft ${ARGN} --help failed (${status})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# roff takes backslashes as escapes and a leading dot or quote as a request.
function(as_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_of(main)
as_roff(main_roff "${main}")
set(page ".TH LINEWEFT 1 \"\" \"Lineweft ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nlineweft \\- converts scanned drawings, maps and logos into vector drawings\n")
string(APPEND page ".SH SYNOPSIS\n.B lineweft\n.I COMMAND\n[\\fIOPTIONS\\fR]\n.br\n.B lineweft-gui\n[\\fIFILES\\fR]\n")
string(APPEND page ".SH DESCRIPTION\n.nf\n${main_roff}.fi\n.SH COMMANDS\n")

# Each command named under "Commands:" with its own help.
string(REGEX MATCHALL "\n  [a-z]+ " names "${main}")
foreach(name ${names})
  string(STRIP "${name}" name)
  help_of(help ${name})
  as_roff(help_roff "${help}")
  string(APPEND page ".SS ${name}\n.nf\n${help_roff}.fi\n")
endforeach()
string(APPEND page ".SH DESKTOP\n.B lineweft-gui\nopens each file given in a window of its own; \\-\\-help and \\-\\-version print and exit.\n")
file(WRITE ${OUTPUT} "${page}")
